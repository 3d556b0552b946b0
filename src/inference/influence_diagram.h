#pragma once

// Internal: not part of the public interface.

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QNL_network;
class QNL_nodeValue;

namespace quarn::detail {

// What the influence-diagram solvers share: the reset of the values before a solve, the list
// of decision-related nodes, and the arcs that make the decisions' order explicit.

// Every value without indexing parents and already shaped as one vector of the node's
// outcomes stays; every other one becomes that vector (evidence kept); then every value is
// marked not valid.
int ResetInfluenceDiagramValues(QNL_network& network);
// One value shaped afresh from its node's definition, without indexing parents, its evidence
// (real or propagated) kept and nothing notified.
int ResetValue(QNL_network& network, int h);

// The nodes without evidence that are decisions or parents of a decision, in decision order.
int CollectDecisionRelated(QNL_network& network, std::vector<int>& out);

// For each pair of consecutive decisions d, d' of the list whose first is related to none of
// the nodes after it up to d', adds the arc d -> d' and logs -2 "Temporal order assumed: node
// [d] before node [d']". The added arcs are appended to `added`; a refused arc is an error.
int AssumeTemporalOrder(QNL_network& network, const std::vector<int>& related,
                        std::vector<std::pair<int, int>>& added);

// Whether the node's definition is a decision, a utility table or a MAU.
bool IsDecisionNode(const QNL_network& network, int node);
bool IsUtilityNode(const QNL_network& network, int node);

// The node's value, null for a handle naming no node.
QNL_nodeValue* ValueOf(const QNL_network& network, int h);
// The outcome count of the node's definition; 1 where there is none (a utility).
int OutcomesOf(const QNL_network& network, int h);
// Every column of the node's table, which must be a CPT, takes each outcome alike: what a
// decision becomes in a solver's working copy.
int SetUniformTable(QNL_network& network, int h);

// Runs a solve with the network's automatic updates off: memory running out becomes -42
// "Not enough memory to solve the influence diagram"; `onFailure` (when given) sees a
// nonzero result before the notification settings come back.
int RunWithoutAutoUpdate(QNL_network& network, const std::function<int()>& run,
                         const std::function<void(int)>& onFailure = nullptr);

// Lets the solver's working copy propagate evidence on its own, every value invalid.
void ListenForEvidence(QNL_network& working);

// Restores the notification control and mask of a network when it goes out of scope.
class NotificationGuard {
public:
    explicit NotificationGuard(QNL_network& network);
    ~NotificationGuard();
    NotificationGuard(const NotificationGuard&) = delete;
    NotificationGuard& operator=(const NotificationGuard&) = delete;

private:
    QNL_network& network;
    int control;
    int mask;
};

// The largest value table a solver builds, in cells.
constexpr std::int64_t kMaxSolverCells = std::int64_t{1} << 26;

} // namespace quarn::detail
