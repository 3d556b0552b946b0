#pragma once

#include "inference/hybrid_messages.h"
#include "inference/sampling_node.h"

#include <memory>
#include <vector>

class QNL_network;

// Belief updating of a hybrid network (DISTRIBUTION, HEQUATION and DCHILDHPARENT nodes) by
// sampling: likelihood weighting, logic sampling that ignores the evidence, or importance
// sampling that proposes from the messages of a message passing; or by the message passing
// alone. Construction
// fixes the evidence and its deterministic consequences once: an observed equation node is
// enforced through a chain of parents solved from its equation, parents and children that
// the evidence determines are fixed before sampling. Nodes are drawn in an order that puts
// parents first and every enforcement chain before the other children of the nodes it sets.
// The object lives for one update; only the node values keep its results.
class QNL_hybridInference {
public:
    // The evidence cannot be enforced: every run returns -2.
    static constexpr int FLAG_UNENFORCEABLE = 16;
    // Importance sampling from the messages is under way, with messages reduced to what the
    // evidence needs.
    static constexpr int FLAG_PROPAGATING = 2;
    static constexpr int FLAG_REDUCED = 8;
    // Draws allowed per wanted sample before a run gives up.
    static constexpr int DRAW_CAP_FACTOR = 100;
    // A run whose first max(number of samples, this) draws all weigh 0 gives up: a run that
    // could finish within the cap gets a weight that early but with negligible probability.
    static constexpr int DRAWS_BEFORE_REFUSAL = 2000;

    explicit QNL_hybridInference(QNL_network& network);
    QNL_hybridInference(const QNL_hybridInference&) = delete;
    QNL_hybridInference& operator=(const QNL_hybridInference&) = delete;

    // 0; -2 with a message naming the node for a network it can't handle (a node of another
    // type, bounds that are not finite or out of order, an expression naming a node that is
    // not a continuous parent or drawing below its root); -5, with a message naming the
    // node, for evidence outside its node's bounds, a value the evidence fixes through an
    // equation outside them, or a fixed value impossible given fixed parents.
    int Build();
    // 0, or -2 when no useful samples were had (unenforceable evidence, or the cap of draws
    // reached before the wanted number of weighted samples).
    int LikelihoodWeighting();
    int LogicSampling();
    // Without evidence exactly the logic sampling; otherwise the message passing, then
    // weighted sampling that proposes from the messages. 0 or -2 as above, also for evidence
    // on an equation node that no parent enforces while a discrete parent is open.
    int PropagatedImportance();
    // The message passing, its beliefs written into every node's value; 0 or -2 as above,
    // also, with a message, for evidence that building did not decide where no weighted draw
    // finds any weight, and for a node the beliefs left without any.
    int MessagePassing();

    bool HasEvidence() const { return !evidence.empty(); }
    int GetFlags() const { return flags; }
    // The sampling node of a handle, null for an empty slot.
    QNL_samplingNode* GetNode(int handle) const;
    const std::vector<int>& GetOrder() const { return order; }
    // Configurations drawn by the last sampling run, weightless ones included.
    long long GetDraws() const { return draws; }
    // Messages the last message passing computed, each to one neighbour; 0 before any.
    long long GetMessagesSent() const { return messages ? messages->GetMessagesSent() : 0; }

private:
    int Refuse(int handle, const std::string& why);
    int CreateNodes();
    int Link();
    int CheckHolders(QNL_samplingNode& node, int type);
    void FixDetermined();
    bool FixEquation(int handle, bool withinBounds);
    bool EvidenceOpen() const;
    void MarkAncestors();
    void MarkFixedNeighbours();
    int SolveForParents(QNL_samplingNode& node);
    int PrepareEnforcement(int handle);
    void Propagate();
    void DropSettledChains();
    int BuildOrder();
    int CheckConfigurations();
    // Whether the main expression of a holder of the node names a continuous parent that is
    // not fixed.
    bool NamesOpenParent(const QNL_samplingNode& node, const QNL_evaluationContext& holder) const;
    int CheckFixed();
    std::string WhyImpossible(QNL_samplingNode& node);
    double Draw(bool weighted, QNL_hybridMessages* proposal);
    long long DrawsBeforeRefusal() const;
    bool AnyWeight();
    int Sample(bool weighted);
    int StartMessages(bool sampling);
    double Enforce(QNL_samplingNode* node, double weight, QNL_hybridMessages* proposal);
    double DrawBelow(QNL_samplingNode* node, double weight, QNL_hybridMessages* proposal);
    int TypeOf(int handle) const;
    bool IsFixed(int handle) const {
        return nodes[static_cast<std::size_t>(handle)]->Has(QNL_samplingNode::FIXED);
    }

    QNL_network& network;
    int flags = 0;
    int samples = 0;
    long long draws = 0;
    std::vector<std::unique_ptr<QNL_samplingNode>> nodes;
    std::vector<int> evidence;
    std::vector<int> order;
    std::vector<char> solved;
    // Scratch of DrawBelow: the nodes below a node along its chain.
    std::vector<int> chain;
    std::unique_ptr<QNL_hybridMessages> messages;
};

// The hybrid algorithms as the belief update reaches them (13 to 16 in that order): values
// without evidence are invalidated, the object built, run and destroyed. A run without useful
// samples is logged and returned as -5, every value it wrote invalidated again.
int RunHbnPropagatedImportance(QNL_network& network);
int RunHbnLikelihoodWeighting(QNL_network& network);
int RunHbnMessagePassing(QNL_network& network);
int RunHbnLogicSampling(QNL_network& network);
// The entry of the network's hybrid algorithm identifier; -2 for an identifier outside 13 to
// 16.
int RunHybridInference(QNL_network& network, int algorithm);
