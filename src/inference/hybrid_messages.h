#pragma once

#include "inference/sample_distribution.h"
#include "inference/sampling_node.h"

#include <memory>
#include <vector>

class QNL_node;

// Loopy message passing over the sampling nodes of a hybrid network, every message a Monte
// Carlo estimate: a node's distribution given its parents' messages (to a child) or the
// likelihood of its own children's messages as a function of one parent (to a parent).
// Discrete messages are outcome weights, continuous ones Gaussian mixtures fitted to weighted
// samples. Messages are double-buffered and a link is recomputed only while something it
// depends on changed. Afterwards the messages propose the draws of importance sampling, or
// give the beliefs of every node directly.
class QNL_hybridMessages {
public:
    static constexpr int POINTS = 250;
    static constexpr int INNER_DRAWS = 12;
    // Iterations of the messages that only propose; for the message passing alone, the most
    // times a message is sent again as its inputs change around a loop.
    static constexpr int ITERATIONS = 4;
    // Most times a message to a continuous parent is sent again against its own last
    // estimate: the second while that estimate's mean or standard deviation moved by more
    // than this share of its standard deviation.
    static constexpr int REFINEMENTS = 2;
    static constexpr double SETTLED_SHARE = 0.2;
    static constexpr int COMPONENTS = 2;
    static constexpr double TOLERANCE = 0.001;
    static constexpr double SCALE = 10.0;
    static constexpr int DRAW_METHOD = 1;
    // Share of the draws of a message to a continuous parent taken uniformly over its bounds.
    static constexpr double UNIFORM_SHARE = 0.1;
    // Share of the importance draws taken from the node's own definition.
    static constexpr double DEFENSIVE_SHARE = 0.1;
    // An observed node whose density, as a function of a parent, is narrower than this share
    // of what the parent's message says of it has the parent drawn about the value that puts
    // its mean at the evidence, in this share of the draws (all of them for the message to
    // that parent).
    static constexpr double NARROW_SHARE = 0.1;
    static constexpr double NARROW_DRAW_SHARE = 0.5;
    // A density narrower still about several values of a parent, which draws about one of
    // them would not all find, refuses the message passing.
    static constexpr double TOO_NARROW_SHARE = 0.01;
    // A message component narrower than this share of a histogram bin of its node is widened
    // to it.
    static constexpr double DEGENERATE_SHARE = 1e-3;
    // Nor is a message to a continuous parent narrower than this many times the mean spacing
    // of its points: the gap between random points that holds a given value is on average
    // twice the mean spacing.
    static constexpr double GAPS = 2.0;

    // order: parents before children. reduced: only the ancestors of evidence keep messages
    // from their children. sampling: the messages serve importance sampling afterwards.
    QNL_hybridMessages(std::vector<std::unique_ptr<QNL_samplingNode>>& nodes,
                       const std::vector<int>& order, bool reduced, bool sampling);
    QNL_hybridMessages(const QNL_hybridMessages&) = delete;
    QNL_hybridMessages& operator=(const QNL_hybridMessages&) = delete;

    // The first fixed equation node whose evidence no message can reach its unfixed
    // discrete parents through (no parent enforces it), or -1.
    int Unreachable() const;
    // The iterations (the schedule, for the message passing alone), then the importance
    // tables.
    void Run();
    // Draws an unfixed node from its importance table or from its definition times its
    // children's messages, mixed with its definition alone; the factor that weighs the draw
    // back to the definition, 0 when no value inside the bounds was found.
    double DrawWeighted(int handle);
    // The first fixed node whose last message to a parent carried no weight, or -1.
    int WeightlessEvidence() const;
    // A fixed node whose density was found too narrow about several values of a parent, or
    // -1: its messages can't be trusted to carry its evidence.
    int TooNarrow() const;
    // Messages computed so far, each message to one neighbour counted once.
    long long GetMessagesSent() const { return sentMessages; }
    // The beliefs the messages give into the node's value: outcome probabilities, or
    // samples (samples of them) for a continuous node; a fixed node reports its value. A
    // continuous node's draws are proposed by the messages and weighed by what its observed
    // children give exactly; a node left without weight is left not valid.
    void WriteBeliefs(int handle, QNL_node& node, int samples);

private:
    struct Link {
        std::unique_ptr<QNL_sampleDistribution> current;
        std::unique_ptr<QNL_sampleDistribution> next;
        double total = 0.0;
        bool updated = false;
        // The last message computed on the link had no weight; it held points solved for its
        // receiver.
        bool weightless = false;
        bool solved = false;
        // Of the last message to a parent: whether an equation solved points for it, and the
        // narrowest density points were drawn about.
        bool equationPoints = false;
        double narrowest = 0.0;
        // A message to a continuous parent: the spacing of its points, 1 / (points x proposal
        // density) each, summed weighed by likelihood, and the sum of those likelihoods.
        double spacing = 0.0;
        double likelihood = 0.0;
        // The schedule of the message passing alone: the node the message reaches, whether
        // it comes from one of its children, and which of them or of its parents sends it.
        int receiver = -1;
        bool fromChild = false;
        int slot = -1;
        // Sent at all; times sent; inputs not yet settled; due in the next round; settled
        // (sent with settled inputs and no further sending due).
        bool live = false;
        int sent = 0;
        int missing = 0;
        bool due = false;
        bool settled = false;
        // Of a message to a continuous node: the mean and standard deviation of its last
        // estimate, and whether they moved from the one before.
        double mean = 0.0;
        double sd = 0.0;
        bool moved = true;
    };
    // Whether an observed node's density is narrow about a parent, for the message the
    // verdict was reached with: about which value and how wide; or so narrow about several
    // values that the messages can't be trusted.
    struct Verdict {
        bool known = false;
        double centre = 0.0;
        double spread = 0.0;
        bool narrow = false;
        bool several = false;
        double root = 0.0;
        double width = 0.0;
    };
    struct State {
        // Messages from each parent over the parent's variable, and from each child over
        // this node's; a child entry is empty when the node keeps none.
        std::vector<Link> fromParents;
        std::vector<Link> fromChildren;
        Link lambda;
        bool lambdaStale = false;
        // Per link: recompute in this iteration (last) and in the next one (now).
        std::vector<char> parentLast, parentNow, childLast, childNow;
        // Where this node sits among each parent's children and each child's parents.
        std::vector<int> slotAtParent, slotAtChild;
        // Importance tables: outcome probabilities of a root, or one mixture per holder.
        std::vector<double> table;
        std::vector<QNL_gaussianMixture> mixtures;
        bool hasTable = false;
        // Of an observed node with one open continuous parent: per configuration. Of one with
        // several: per configuration, the estimate in which its density was found wide.
        std::vector<Verdict> verdicts;
        std::vector<long long> wide;
    };

    QNL_samplingNode& Node(int h) { return *nodes[static_cast<std::size_t>(h)]; }
    State& StateOf(int h) { return states[static_cast<std::size_t>(h)]; }
    bool Fixed(int h) const {
        return nodes[static_cast<std::size_t>(h)]->Has(QNL_samplingNode::FIXED);
    }
    bool Ancestor(int h) const {
        return nodes[static_cast<std::size_t>(h)]->Has(QNL_samplingNode::ANCESTOR_OF_EVIDENCE);
    }
    static bool Void(const QNL_sampleDistribution* message) {
        return message == nullptr || message->IsVoid();
    }
    QNL_sampleDistribution* NewMessage(int over, bool isVoid);
    void Init();
    // The message passing alone: each message sent once its inputs are settled, again where
    // they change around a loop.
    void Schedule();
    int Sender(const Link& link) const;
    // The messages the link's message is an input of, each passed to the function.
    template <typename Visit> void Dependents(const Link& link, Visit visit);
    void SettleReceiver(int h);
    void NormalizeArrived(int h);
    static void SwapArrived(State& st);
    void MarkChanged(int receiver, int source, bool fromChild);
    bool Relays(int child, int sender, int source) const;
    void Add(Link& link, int state, double value, double weight);
    // The floor of a continuous message's variances (0 for a discrete message).
    static double Normalize(QNL_sampleDistribution& message, double spacing = 0.0);
    static bool SolvedBeyond(const Link& link, double floor);
    static void Restart(Link& link);
    bool DrawParents(int h, int skip);
    double DrawFromProduct(int h, QNL_evaluationContext* holder, QNL_sampleDistribution* lambda);
    void ProductMixture(QNL_evaluationContext* holder, const QNL_gaussianMixture& message,
                        QNL_gaussianMixture& out, double keep);
    double InnerWeight(int h, int skip);
    double FixedLikelihood(int h, int skip, bool points);
    double NarrowLikelihood(int h, int skip, bool points);
    static void Judge(QNL_samplingNode& x, int slot, double own, Verdict& verdict);
    double ChildrenWeight(int h);
    double DrawTimesLambda(int h, QNL_evaluationContext* holder, QNL_sampleDistribution* lambda);
    // What a message to a child is drawn against (Weighing): no message is due (NONE), the
    // product of every child's message (EVERY), the definition alone, or the definition times
    // the message of the one other child, given by its index.
    static constexpr int NONE = -3;
    static constexpr int EVERY = -2;
    static constexpr int DEFINITION = -1;
    int Weighing(int h, std::size_t k);
    void ToChildren(int h);
    void ToParents(int h);
    void FixedEquationToParents(int h);
    void Settle();
    void UpdateChildMessage(int h);
    void BuildImportanceTable(int h);

    std::vector<std::unique_ptr<QNL_samplingNode>>& nodes;
    const std::vector<int>& order;
    bool reduced;
    bool sampling;
    std::vector<State> states;
    // Scratch of the draws, sized once.
    std::vector<double> scratch;
    std::vector<double> priors;
    QNL_gaussianMixture product;
    std::vector<const QNL_gaussianMixture*> candidates;
    // Per child of the node sending messages down: what its message is drawn against.
    std::vector<int> weighings;
    // Values an observed node's equation solved for the parent its message estimates, with
    // their weights.
    std::vector<QNL_weightedSample> solvedPoints;
    bool solvedEquation = false;
    double narrowest = 0.0;
    int unsolved = -1;
    // The message passing alone is scheduled: no iteration marks what changed.
    bool scheduled = false;
    long long sentMessages = 0;
    // Counts the estimates made (messages to parents, beliefs), so that a verdict can hold
    // for one of them.
    long long estimate = 0;
};
