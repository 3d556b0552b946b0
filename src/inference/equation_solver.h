#pragma once

#include "equations/expr_node.h"

#include <memory>
#include <string>
#include <vector>

class QNL_network;

// Solves a network whose nodes are all equation nodes: equation nodes are evaluated from
// their parents, each set of simultaneous equations by Newton's method; when an equation
// draws from a distribution the whole network is sampled instead. A network holding evidence
// is converted into a hybrid network, updated by the hybrid algorithm and its results carried
// back. The results go into the nodes' equation values. One solver serves one update.
class QNL_equationSolver {
public:
    explicit QNL_equationSolver(QNL_network* network);

    // 0, or -2 with its message logged; values written before a failure stay.
    int Solve();

    // The evidence path: the hybrid copy updated with the network's hybrid algorithm. 0, or
    // the copy's error code, logged with "HBN algorithm failed." after the values were
    // invalidated.
    int RunHybridAlgorithm();
    // The next identifier of the counter that neither network uses: the counter's hexadecimal
    // digits, lowest first, each written as a letter from 'a'.
    static std::string GenerateAuxiliaryId(int& counter, const QNL_network& source,
                                           const QNL_network& copy);

    // Newton steps allowed for each set of simultaneous equations.
    int GetIterationCap() const { return iterationCap; }
    void SetIterationCap(int cap) { iterationCap = cap; }

private:
    // A variable of a compiled equation and where its value comes from: a node's known
    // value, or with member >= 0 the unknown of that index in its set.
    struct Binding {
        QNL_exprVariable* variable;
        int handle;
        int member;
    };
    // One equation with its variables resolved. A plain node evaluates value; a member of
    // a set contributes the residual value - other.
    struct Compiled {
        std::unique_ptr<QNL_exprNode> value;
        std::unique_ptr<QNL_exprNode> other;
        std::vector<Binding> bindings;
    };
    // A node evaluated alone, or a set solved together (members in solving order).
    struct Step {
        std::vector<int> members;
        std::vector<Compiled> equations;
        bool simultaneous = false;
    };

    int BuildPlan(bool& random);
    int GroupOrder(const std::vector<int>& group, std::vector<std::vector<int>>& order);
    int Compile(int handle, const Step& step, Compiled& out);
    int RunPlan(bool sampling);
    int SolveSet(const Step& step, std::vector<double>& x);
    bool Residuals(const Step& step, const std::vector<double>& x, std::vector<double>& f);
    bool HoldsAt(const Step& step, const std::vector<double>& x, int& worst);
    static void BindKnown(Compiled& equation, const std::vector<double>& values);
    static void BindMembers(const Compiled& equation, const std::vector<double>& x);
    static int SolveLinear(std::vector<double>& a, std::vector<double>& b, std::vector<double>& y,
                           int n);
    int Fail(const std::string& message);
    int ConvertNode(int handle, QNL_network& copy, std::vector<int>& map, int& counter);
    int ConvertEquationNode(int handle, QNL_exprNode*& right, QNL_network& copy,
                            std::vector<int>& map, int& counter);
    static int AddDistributionNode(QNL_network& copy, const std::string& id,
                                   const std::string& call, double lower, double upper);

    QNL_network* network;
    int numberOfSamples;
    int iterationCap = 1000000;
    double stepFactor = 1e-6;
    std::vector<Step> plan;
    // Known values by node handle.
    std::vector<double> values;
};

// The network's equation path: solved directly, or through a hybrid copy when a node holds
// evidence.
int RunEquationSolver(QNL_network& network);
