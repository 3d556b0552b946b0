#pragma once

#include "learning/engine_node.h"
#include "learning/engine_options.h"

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

class QNL_dataset;
class QNL_network;
class QNL_nodeDefinition;
class QNL_learnNetwork;
class QNL_learnDataSource;

// Nested steps of a long learning run, each a fraction (its weight) of the step it is opened
// in; the whole run weighs 1. The callback sees the fraction done and the step's message and
// cancels the run by returning false; once cancelled, every step answers CANCELLED.
class QNL_learnProgress {
public:
    static constexpr int CANCELLED = -2213908;
    using Callback = std::function<bool(double fraction, const std::string& message)>;

    explicit QNL_learnProgress(Callback callback = {}) : callback(std::move(callback)) {}

    // The level of the innermost open step; -1 when idle or cancelled.
    int GetLevel() const { return cancelled ? -1 : static_cast<int>(steps.size()) - 1; }
    // Opens a step inside the step at `level` (-1: the run itself). 0, -2 when `level` is not
    // the innermost open level, CANCELLED after a cancel.
    int BeginStep(int level, double weight, const std::string& message);
    // Closes the step at `level`. 0, -2 when it is not the innermost one, CANCELLED.
    int EndStep(int level);
    void Cancel() { cancelled = true; }
    bool IsCancelled() const { return cancelled; }
    double GetFraction() const { return done; }

private:
    struct Step {
        double start;
        double scale;
    };
    bool Report(const std::string& message);

    Callback callback;
    std::vector<Step> steps;
    double done = 0.0;
    bool cancelled = false;
};

// Pairs the nodes of an engine network with the nodes of a library network, and each state
// with an outcome. Nodes match by identifier (as given, or as the copy into a network makes
// it from the name) or by name; states by outcome identifier, likewise.
class QNL_learnHandleMap {
public:
    QNL_network* GetNetwork() const { return network; }
    // Matches every node of `engine` it can; 0 (unmatched nodes have no counterpart).
    int Build(const QNL_learnNetwork& engine, QNL_network& target);
    void Set(QNL_network* target, std::vector<int> nodeHandles,
             std::vector<std::vector<int>> outcomeOfState);
    // -1 when the node or state has no counterpart.
    int GetHandle(int node) const;
    int GetOutcome(int node, int state) const;
    // The engine node of a network handle, -1 when none.
    int GetNode(int handle) const;

private:
    QNL_network* network = nullptr;
    std::vector<int> handles;
    std::vector<std::vector<int>> outcomes;
};

// A single-arc change the structure search may make, and the change of the network score it
// brings.
struct QNL_learnMove {
    enum Operation { REMOVE = 0, ADD = 1, REVERSE = 2 };
    int from = -1;
    int to = -1;
    int operation = -1;
    double gain = -1e6;
};

// The learning engine's own network: nodes made from a data set, arcs changed under the
// nodes' background knowledge, family and network scores cached until the structure they
// depend on changes, MAP parameters, and the copy of structure and parameters into a library
// network. It owns its nodes; nodes are addressed by their index in the node vector and may
// be deactivated, which takes them out of every loop without removing them.
class QNL_learnNetwork {
public:
    static constexpr double NO_SCORE = -987654321.031415;
    static constexpr int MISSING = -987654321;
    static constexpr double MISSING_CONTINUOUS = -987654321.0;
    static constexpr int CANCELLED = QNL_learnProgress::CANCELLED;

    QNL_learnNetwork();
    QNL_learnNetwork(const QNL_learnNetwork&) = delete;
    QNL_learnNetwork& operator=(const QNL_learnNetwork&) = delete;
    ~QNL_learnNetwork();

    // No nodes, options at their defaults, flags and caches cleared.
    void Reset();

    // Options by key: -2 for a key not in the table or naming an option of another type.
    int SetBoolOption(const std::string& key, bool value);
    int SetIntOption(const std::string& key, int value);
    int SetStringOption(const std::string& key, const std::string& text);
    // Replaces every option.
    void SetOptions(const QNL_learnOptions& options);
    const QNL_learnOptions& GetOptions() const { return options; }
    // The option of that index; -1 for a bad index.
    int GetBoolOption(int index, bool& out) const;
    int GetIntOption(int index, int& out) const;
    int GetDoubleOption(int index, double& out) const;
    int GetStringOption(int index, std::string& out) const;

    // Nodes.
    int GetNumberOfNodes() const { return static_cast<int>(nodes.size()); }
    int GetNumberOfActiveNodes() const { return activeCount; }
    QNL_learnNode* GetNode(int index) const;
    // Advances index (start at -1) to the next active node: 0, or -2 past the end.
    int NextNode(int& index);
    int FindNode(const std::string& name) const;
    // Appends a node; its index, or -1.
    int CreateNode(const std::string& name);
    int RemoveNode(int index);
    void RemoveAllNodes();
    // -2 for a bad index. Deactivation removes the node's arcs first.
    int DeactivateNode(int index);
    int ActivateNode(int index);
    int GetDesignatedNode() const { return designated; }
    int SetDesignatedNode(int index);

    // Arcs: 1 when the arc is (or already was) as asked, 0 when refused or absent, -1 for a
    // node that does not exist.
    int AddArc(int from, int to);
    int AddArcIfAcyclic(int from, int to);
    int RemoveArc(int from, int to);
    int ReverseArc(int from, int to);
    int ReverseArcIfAcyclic(int from, int to);
    bool HasDirectedPath(int from, int to) const;

    // Background knowledge: 0, or -1 when it contradicts what is known or a node is missing.
    int SetForcedArc(int parent, int child);
    int SetForbiddenArc(int parent, int child);
    int ClearForbiddenArc(int parent, int child);
    int SetTierOrder(int earlierNode, int laterNode);
    int SetTierOrderFromTiers(const std::vector<std::vector<int>>& tiers);
    int SetTiers(const std::vector<std::vector<int>>& tiers);
    // Adds every forced arc and removes every forbidden one; all or nothing (-1).
    int ApplyBackgroundKnowledge();

    // Replaces the nodes by one per variable of the data set; a NaN in a float column is a
    // missing value. False on failure (logged): an infinity in a float column leaves the
    // network as it was, any other failure leaves it empty.
    bool ImportDataset(const QNL_dataset& data);
    int GetNumberOfRecords() const;
    bool IsDataIncomplete() const { return dataIncomplete; }
    // Replaces the nodes by the columns of a data source, by default the data file the
    // options name (with its preprocess file); 0 or -1 (logged).
    int ReadDataFile(QNL_learnDataSource* source = nullptr);
    // Reads the data file of that name.
    int ReadData(const std::string& fileName);

    // The records parameters are learned from (the others are left out of every count) and
    // the records a model is tested on, 0/1 per record; an empty mask means every record.
    // -2 when a mask is neither empty nor one entry per record.
    int SetRecordMasks(const std::vector<char>& training, const std::vector<char>& testing);
    const std::vector<char>& GetTrainingMask() const { return trainingMask; }
    const std::vector<char>& GetTestingMask() const { return testingMask; }

    // Arc probabilities [parent][child], n x n in node order; an empty table clears them.
    int SetArcProbabilities(const std::vector<double>& table);
    bool HasArcProbabilities() const { return !arcProbabilities.empty(); }
    double GetArcProbability(int parent, int child) const;

    // The structure log-prior of the listed nodes, or of all active ones (cached).
    double Score(const std::vector<int>* list = nullptr);
    // The network score by CRITERION over the listed nodes, or all active ones (cached);
    // with useIncompleteMethod, INCOMPLETE_DATA_METHOD decides for incomplete data.
    double ScoreNetwork(const std::vector<int>* list = nullptr, bool useIncompleteMethod = false);
    int RandomizeParameters(const std::vector<int>* list = nullptr);
    int GetRandomSeed() const { return seed; }
    void SetRandomSeed(int value) { seed = value; }
    int& RandomSeed() { return seed; }

    // The network whose joint distribution (priors method 4) or tables (method 5) give the
    // prior counts; not owned, and matched to the nodes by the handle map. Null clears it.
    void SetPriorNetwork(QNL_network* network);
    QNL_network* GetPriorNetwork() const { return priorNetwork; }
    const QNL_learnHandleMap& GetPriorMap() const { return priorMap; }

    // Structure and parameters into `target`, which is emptied first. 0, -1 when a node
    // cannot be added, else the first failure code.
    int CopyToNetwork(QNL_network& target);
    // The tables of every active node into the map's network; the first failure code.
    int CopyParameters(const QNL_learnHandleMap& map, int flag);
    // The structure of a network with the same number of nodes.
    int CopyStructureFrom(const QNL_learnNetwork& source);
    // MAP parameters for every active node and, with a target, their copy into its network.
    // Incomplete data need the engine's EM unless INCOMPLETE_DATA_METHOD is 2.
    int LearnParameters(const QNL_learnHandleMap* target = nullptr);
    // Discretize on every active node; -1 on the first failure, else 0. The nodes it
    // discretized go to `done` when given.
    int DiscretizeAll(std::vector<int>* done = nullptr);
    int EstimateParameters();
    // Expectation maximisation of the parameters of every active node over incomplete data,
    // repeated until the score converges (at most EM_MAX_ITERATIONS passes). The last score
    // goes to `score`; 0, or a failure code (logged).
    int RunEM(double& score);
    // The map CopyToNetwork made for its last target.
    const QNL_learnHandleMap& GetCopyMap() const { return copyMap; }
    // Set when the data came with continuous columns.
    bool HasContinuousData() const { return continuousData; }

    // Structure search. Thickening: arcs are added while one gains more than
    // MIN_GREEDY_DELTA, no node beyond `maxParents` parents (negative: no limit). 0, or -1 when
    // the network cannot be scored or the search does not settle.
    int SetMaxParents(int maxParents);
    int GetMaxParents() const { return maxParents; }
    // Thinning by removals; then, for count >= 1, removals until no node has more than count
    // parents. Count 0 only clears the structure.
    int SearchStructure(int count);
    int GreedySearch();
    int EnforceParentLimit(int limit);
    // 0 when the arcs form no cycle; else -1, logged with an arc of a cycle. Every search
    // starts from an acyclic structure: AddArc draws any arc it is asked for, and a move
    // priced on a cyclic structure could keep the cycle to the end.
    int CheckAcyclic() const;
    // Removes every arc that is not forced; -1 when a removal fails.
    int ClearStructure();
    // The best move of one node under the current operators (gain -1e6 and no operation when
    // it has none).
    QNL_learnMove BestMove(int node);
    int PrepareCandidates();
    // The gain of the move applied; -1e308 when no queued move qualifies, -1.0 when the next
    // best move would undo it, NO_SCORE when an arc operation failed.
    double ApplyBestOperation();

    // Restarts of the greedy search, each after the first from a random structure (mean 3
    // parents); the best structure found goes to `structure` (n x n over all nodes, cell
    // [parent * n + child]) and is rebuilt at the end. 0, or -1 (logged).
    int RandomRestarts(int count, std::vector<char>& structure);
    // Restarts until `seconds` of wall-clock time have passed (one at least), one "." per
    // greedy search in the log; the whole seconds taken go to `elapsed`.
    int TimedRandomRestarts(int seconds, int& elapsed);
    // Hill climbing by single-arc moves that keeps a ring of BESTF_GOBACK_NUM visited
    // structures; at a local optimum it goes back to one of them and takes its second-best
    // move instead. At most NUM_RESTARTS moves; it ends early once a whole turn of the ring
    // offers nothing left to try. The best structure is rebuilt. 0, or -1 (logged).
    int ReturnToBestSearch();
    // A random structure over the active nodes: each node after the first tier takes k
    // parents from earlier tiers, k the integer part of a normal deviate (mean, 0.2 mean) up
    // to the largest parent count. Parameters (all optional): "numNodes" first replaces the
    // nodes by that many new ones ("numStates" or up to "maxNumStates" states each, "type"
    // "discrete" or "continuous"; at most 2000 nodes); "maxNumParents" (default: the node
    // count and the search's limit). Without tiers the order is drawn at random, after forced
    // parents and tiers. The number of arcs made; -2 when the largest parent count is below the
    // mean, -1 when the tiers are not usable or refused arcs leave a node without its parents
    // (logged).
    int GenerateRandomNetwork(double mean,
                              const std::map<std::string, std::string>* parameters = nullptr,
                              const std::vector<std::vector<int>>* tiers = nullptr);
    // Replaces the nodes by `count` new discrete or continuous nodes "Node_<i>" with states
    // "State_<j>". 0, or -1 (logged).
    int CreateRandomNodes(int count, const std::map<std::string, std::string>& parameters);

    // Progress of long runs (not owned; null for none).
    void SetProgress(QNL_learnProgress* value) { progress = value; }
    QNL_learnProgress* GetProgress() const { return progress; }
    // With the flag set the engine writes its trace into its log.
    void SetLogFlag(bool on) { logFlag = on; }
    bool GetLogFlag() const { return logFlag; }
    std::string GetLog() const { return log.str(); }
    std::ostream& Log() { return log; }

private:
    friend class QNL_learnNode;
    friend class QNL_learnDataFile;

    bool IsNode(int index) const { return index >= 0 && index < GetNumberOfNodes(); }
    void InvalidateCaches();
    // Every family score depends on the number of active nodes or on the options.
    void InvalidateAllScores();
    int AppendNode(std::unique_ptr<QNL_learnNode> node);
    // The prior network's map follows the nodes.
    void RebuildPriorMap();
    void CloseTiers();
    int OrderTiers(const std::vector<std::vector<int>>& tiers);
    bool HasForcedPath(int from, int to) const;
    // An arc whose child reaches its parent, found by a depth-first walk in node order.
    bool FindCycleArc(int& from, int& to) const;
    // Runs the change; on failure every node's knowledge is as it was before.
    int WithKnowledgeKept(const std::function<int()>& change);
    // With incomplete data and INCOMPLETE_DATA_METHOD 1 the search scores families on
    // expected counts made from the posterior marginals of every record under the current
    // structure's EM (hidden members of a family taken as independent given the record);
    // refreshed after every accepted move.
    int RefreshExpectedMarginals();
    // Expected-count scoring on, the network score summed from it; -1 (logged) on failure.
    int StartExpectedScoring();
    void EndSearchScoring();
    double ExpectedFamilyScore(int node);
    // The score of one family as the search sees it, cached by parent set within one search.
    double SearchFamilyScore(int node, bool useIncompleteMethod);
    void PushMove(const QNL_learnMove& move);
    // Drops queued moves computed before their node's family changed; a reversal whose other
    // family changed is recomputed. False when the queue is empty.
    bool CleanQueueTop();
    int BeginStep(double weight, const std::string& message, int& level);
    // Copies the network into `mirror` for a run of inference over every record, with the
    // per-change evidence bookkeeping left out; the copy map points into it, so the caller
    // holds a MirrorScope for as long as `mirror` lives.
    int OpenMirror(QNL_network& mirror);
    struct MirrorScope {
        QNL_learnHandleMap& map;
        ~MirrorScope() { map = QNL_learnHandleMap(); }
    };
    // The expected counts of every active node over all records under the parameters of the
    // mirrored network `mirror` (made by OpenMirror).
    int AddExpectedCounts(QNL_network& mirror);
    // Bayesian score of the nodes' current counts, the structure prior left out.
    double ExpectedCountScore(const std::vector<int>* list);
    int EndStep(int level);
    // The parents of every node, and the structure rebuilt from such a list.
    std::vector<std::vector<int>> SaveStructure() const;
    int RestoreStructure(const std::vector<std::vector<int>>& structure);
    int RestartsFrom(int count, double seconds, std::vector<char>& structure, int& elapsed);
    // The outcomes of a node's states, set on a library node's definition.
    int SetOutcomesOf(int node, QNL_nodeDefinition& definition) const;
    // DiscretizeAll; the counterparts of the discretized nodes in the target's network take
    // the interval outcomes, and `map` then points at a map that knows them.
    int DiscretizeForTarget(const QNL_learnHandleMap& target, QNL_learnHandleMap& rebuilt,
                            const QNL_learnHandleMap*& map);

    QNL_learnOptions options;
    std::vector<std::unique_ptr<QNL_learnNode>> nodes;
    int activeCount = 0;
    double networkScore = -1.0;
    bool networkScoreValid = false;
    double structurePrior = 0.0;
    bool structurePriorValid = false;
    bool dataIncomplete = false;
    bool continuousData = false;
    bool logFlag = false;
    std::ostringstream log;
    std::vector<double> arcProbabilities;
    QNL_network* priorNetwork = nullptr;
    QNL_learnHandleMap priorMap;
    QNL_learnHandleMap copyMap;
    std::vector<char> trainingMask;
    std::vector<char> testingMask;
    int seed = -1;
    int designated = -1;
    QNL_learnProgress* progress = nullptr;

    // The candidate queue: a heap by gain with, per entry, the proposal it came from and the
    // family version of a reversal's other node.
    struct QueuedMove {
        QNL_learnMove move;
        unsigned proposal;
        unsigned otherFamily;
    };
    std::vector<QueuedMove> queue;
    std::vector<char> enabled;
    std::vector<unsigned> proposals;
    std::vector<unsigned> families;
    int operators = 0;
    double minimumGain = 0.0;
    int maxParents = 2147483647;
    std::vector<std::map<std::vector<int>, double>> familyScores;
    bool expectedScoring = false;
    // Per record and node, the posterior of each state (offsets per node in stateOffsets).
    std::vector<double> marginals;
    std::vector<std::size_t> stateOffsets;
    std::size_t recordStride = 0;
};
