#pragma once

#include <cstdint>
#include <vector>

#include "model/network.h"
#include "model/object.h"

class QNL_diagNetwork;

// Ranks the unperformed tests of a diagnostic network by how much observing each one is
// expected to tell about the pursued faults, weighed against its cost. It works on two
// private copies of the owner's network, taken afresh at the start of every ranking so that
// edits to the owner's network never leave them stale: the first holds the case evidence and
// gives the tests' outcome probabilities, the second is where each outcome is tried.
class QNL_diagEngine : public QNL_object {
public:
    explicit QNL_diagEngine(QNL_diagNetwork* owner);
    QNL_diagEngine(const QNL_diagEngine&) = delete;
    QNL_diagEngine& operator=(const QNL_diagEngine&) = delete;
    ~QNL_diagEngine() override = default;

    int CopyNetwork();
    // Each ranking returns 0 or the first failing code (nothing is left ranked then).
    int RankTestsSingleFault();
    int RankTestsByMarginals(int flags);
    int RankTestsByProductEntropy(int flags);
    int RankTestsByJointEntropy(int flags);

    // The test's cost in the network: with every cost parent observed the matrix cell, else
    // the expectation over the unobserved cost parents' beliefs, unavailable cells left out.
    int GetTestCost(int test, QNL_network& network, double& cost);
    void AddTestResult(int test, double strength, double cost);
    void AddExcludedTestResult(int test);

    QNL_network& GetFirstNetwork() { return first; }
    QNL_network& GetSecondNetwork() { return second; }

    // Entropy in bits of a two-outcome variable.
    static double BinaryEntropy(double p);

private:
    struct FaultGroup {
        int node = -1;
        int outcomes = 0;
        std::vector<int> pursued;
    };

    int CopyEvidence(const QNL_network& source, QNL_network& destination);
    int SetTargets(QNL_network& network, const std::vector<int>& nodes);
    int PursuedNodes(std::vector<int>& out) const;
    int PrepareTests(std::vector<int>& tests);
    int PrepareMultipleFaults(std::vector<int>& tests);
    int PrepareGroupCosts();
    int AddRelativeGainResult(int test, double before, double after);
    int Fail(int code);
    std::vector<FaultGroup> GroupPursued(bool ascending) const;
    static bool Matches(const std::vector<FaultGroup>& groups, const std::vector<int>& x, int mode);
    double Marginals(QNL_network& network, int flags) const;
    double ProductEntropy(QNL_network& network, const std::vector<FaultGroup>& groups,
                          int mode) const;
    int JointTable(const std::vector<FaultGroup>& groups, std::vector<double>& table);
    int FillJoint(const std::vector<FaultGroup>& groups, const std::vector<int>& order,
                  std::size_t level, std::vector<int>& x, double weight,
                  std::vector<double>& table);
    // Tries every outcome of the test in the second network; `measure` reads the network.
    template <class Measure>
    int Expectation(int test, bool recopy, Measure measure, double& expected);

    QNL_diagNetwork* owner;
    QNL_network first;
    QNL_network second;
    // The source of the last copies and its structure version then.
    const QNL_network* copiedFrom = nullptr;
    std::uint64_t copiedVersion = 0;
};
