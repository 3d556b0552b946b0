// Greedy structure search of the engine network: each node's best single-arc move, a queue of
// the moves by gain, and the loops of thickening, thinning and parent-limit enforcement.

#include "definitions/node_value.h"
#include "learning/engine_network.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <climits>
#include <new>
#include <sstream>
#include <utility>

using namespace QNL_learnOption;

namespace {

constexpr double kNoScore = QNL_learnNetwork::NO_SCORE;
constexpr double kNothingQueued = -1e308;
constexpr int kRemoveBit = 1 << QNL_learnMove::REMOVE;
constexpr int kAddBit = 1 << QNL_learnMove::ADD;
constexpr int kReverseBit = 1 << QNL_learnMove::REVERSE;

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

bool Undoes(const QNL_learnMove& next, const QNL_learnMove& done) {
    using M = QNL_learnMove;
    if (done.operation == M::REMOVE)
        return next.operation == M::ADD && next.from == done.from && next.to == done.to;
    if (done.operation == M::ADD)
        return next.operation == M::REMOVE && next.from == done.from && next.to == done.to;
    // The reversed arc runs from done.to to done.from now.
    return next.operation == M::REVERSE && next.from == done.to && next.to == done.from;
}

bool Less(const QNL_learnMove& a, const QNL_learnMove& b) {
    return a.gain < b.gain;
}

} // namespace

bool QNL_learnNetwork::FindCycleArc(int& from, int& to) const {
    // 0 unseen, 1 on the walk's path, 2 left behind; an arc into the path closes a cycle.
    std::vector<char> state(nodes.size(), 0);
    std::vector<std::pair<int, std::size_t>> path;
    for (std::size_t root = 0; root < nodes.size(); ++root) {
        if (state[root] != 0) continue;
        state[root] = 1;
        path.push_back({static_cast<int>(root), 0});
        while (!path.empty()) {
            const int at = path.back().first;
            const std::vector<int>& children = nodes[static_cast<std::size_t>(at)]->children;
            if (path.back().second == children.size()) {
                state[static_cast<std::size_t>(at)] = 2;
                path.pop_back();
                continue;
            }
            const int child = children[path.back().second++];
            if (state[static_cast<std::size_t>(child)] == 1) {
                from = at;
                to = child;
                return true;
            }
            if (state[static_cast<std::size_t>(child)] == 0) {
                state[static_cast<std::size_t>(child)] = 1;
                path.push_back({child, 0});
            }
        }
    }
    return false;
}

int QNL_learnNetwork::CheckAcyclic() const {
    int from = -1;
    int to = -1;
    if (!FindCycleArc(from, to)) return 0;
    return LogFailure(-1, "the arc " + nodes[static_cast<std::size_t>(from)]->name + " -> " +
                              nodes[static_cast<std::size_t>(to)]->name +
                              " lies on a cycle; a structure search starts from an acyclic "
                              "structure only");
}

int QNL_learnNetwork::RefreshExpectedMarginals() {
    double score = 0.0;
    if (const int code = RunEM(score)) return code;
    QNL_network mirror;
    const MirrorScope scope{copyMap};
    if (const int code = OpenMirror(mirror)) return code;
    stateOffsets.assign(nodes.size() + 1, 0);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        stateOffsets[i + 1] =
            stateOffsets[i] + static_cast<std::size_t>(nodes[i]->GetNumberOfStates());
    recordStride = stateOffsets.back();
    const int records = GetNumberOfRecords();
    try {
        marginals.assign(recordStride * static_cast<std::size_t>(records), 0.0);
    } catch (const std::bad_alloc&) {
        return LogFailure(-42, "the posterior marginals of the records do not fit in memory");
    }
    for (int r = 0; r < records; ++r) {
        double* row = marginals.data() + recordStride * static_cast<std::size_t>(r);
        bool complete = true;
        mirror.ClearAllEvidence();
        for (int i = -1; NextNode(i) == 0;) {
            const QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
            const int v = node.discrete.Size() > r ? node.discrete[r] : MISSING;
            if (v < 0 || v >= node.GetNumberOfStates()) {
                complete = false;
                continue;
            }
            row[stateOffsets[static_cast<std::size_t>(i)] + static_cast<std::size_t>(v)] = 1.0;
            if (mirror.GetNode(copyMap.GetHandle(i))->GetValue()->SetEvidence(v) != 0)
                return LogFailure(-1, "out of synch");
        }
        if (complete) continue;
        if (mirror.UpdateBeliefs() != 0)
            return LogFailure(-1, "inference in the mirrored network failed");
        for (int i = -1; NextNode(i) == 0;) {
            const QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
            const int v = node.discrete.Size() > r ? node.discrete[r] : MISSING;
            if (v >= 0 && v < node.GetNumberOfStates()) continue;
            const QNL_Dmatrix* beliefs =
                mirror.GetNode(copyMap.GetHandle(i))->GetValue()->GetMatrix();
            for (int k = 0; k < node.GetNumberOfStates(); ++k)
                row[stateOffsets[static_cast<std::size_t>(i)] + static_cast<std::size_t>(k)] =
                    beliefs != nullptr ? beliefs->Subscript(k) : 0.0;
        }
    }
    familyScores.assign(nodes.size(), {});
    return 0;
}

double QNL_learnNetwork::ExpectedFamilyScore(int x) {
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(x)];
    if (node.ShapeTables() != 0) return kNoScore;
    std::vector<int> members(node.parents);
    members.push_back(x);
    std::vector<std::int64_t> strides(members.size());
    std::int64_t stride = 1;
    for (std::size_t m = members.size(); m-- > 0;) {
        strides[m] = stride;
        stride *= nodes[static_cast<std::size_t>(members[m])]->GetNumberOfStates();
    }
    node.counts.Fill(0.0);
    double* cells = node.counts.Cells();
    const int records = static_cast<int>(marginals.size() / std::max<std::size_t>(recordStride, 1));
    std::vector<std::size_t> hidden;
    std::vector<int> state(members.size());
    for (int r = 0; r < records; ++r) {
        const double* row = marginals.data() + recordStride * static_cast<std::size_t>(r);
        // Observed members fix their cell; hidden ones spread the record over theirs, each
        // configuration weighted by the product of the members' marginals.
        std::int64_t at = 0;
        hidden.clear();
        for (std::size_t m = 0; m < members.size(); ++m) {
            const QNL_learnNode& member = *nodes[static_cast<std::size_t>(members[m])];
            const int v = member.discrete.Size() > r ? member.discrete[r] : MISSING;
            if (v >= 0 && v < member.GetNumberOfStates())
                at += v * strides[m];
            else
                hidden.push_back(m);
        }
        if (hidden.empty()) {
            cells[at] += 1.0;
            continue;
        }
        std::fill(state.begin(), state.end(), 0);
        for (;;) {
            double weight = 1.0;
            std::int64_t cell = at;
            for (const std::size_t m : hidden) {
                weight *= row[stateOffsets[static_cast<std::size_t>(members[m])] +
                              static_cast<std::size_t>(state[m])];
                cell += state[m] * strides[m];
            }
            cells[cell] += weight;
            std::size_t h = hidden.size();
            while (h-- > 0) {
                const std::size_t m = hidden[h];
                if (++state[m] < nodes[static_cast<std::size_t>(members[m])]->GetNumberOfStates())
                    break;
                state[m] = 0;
            }
            if (h == static_cast<std::size_t>(-1)) break;
        }
    }
    node.counts.RecomputeRowSums();
    node.countsValid = true;
    node.scoreValid = false;
    const double family = node.FamilyScore(options.GetInt(CRITERION));
    // The counts are estimates of this search only.
    node.countsValid = false;
    node.scoreValid = false;
    const std::vector<int> own{x};
    return family == kNoScore ? kNoScore : family + Score(&own);
}

double QNL_learnNetwork::SearchFamilyScore(int node, bool useIncompleteMethod) {
    if (expectedScoring) {
        std::vector<int> parents = nodes[static_cast<std::size_t>(node)]->parents;
        std::sort(parents.begin(), parents.end());
        auto& known = familyScores[static_cast<std::size_t>(node)];
        const auto at = known.find(parents);
        if (at != known.end()) return at->second;
        const double score = ExpectedFamilyScore(node);
        if (score != kNoScore) known.emplace(std::move(parents), score);
        return score;
    }
    // The family score does not depend on the order of the parents; the structure log-prior
    // and scores of incomplete data depend on more than the family, so they are not kept.
    const int method = options.GetInt(INCOMPLETE_DATA_METHOD);
    const bool keep = arcProbabilities.empty() && (!dataIncomplete || (method != 0 && method != 1));
    const std::vector<int> list{node};
    if (!keep || familyScores.size() != nodes.size())
        return ScoreNetwork(&list, useIncompleteMethod);
    std::vector<int> parents = nodes[static_cast<std::size_t>(node)]->parents;
    std::sort(parents.begin(), parents.end());
    auto& known = familyScores[static_cast<std::size_t>(node)];
    const auto at = known.find(parents);
    if (at != known.end()) return at->second;
    const double score = ScoreNetwork(&list, useIncompleteMethod);
    if (score != kNoScore) known.emplace(std::move(parents), score);
    return score;
}

QNL_learnMove QNL_learnNetwork::BestMove(int x) {
    QNL_learnMove best;
    if (!IsNode(x)) return best;
    // During parent-limit enforcement every removal counts, however much it costs.
    best.gain = std::min(-1e6, minimumGain);
    if (!enabled.empty() && !enabled[static_cast<std::size_t>(x)]) return best;
    // Every trial move is taken back, so the network's cached scores stay what they were.
    struct KeepCaches {
        QNL_learnNetwork& net;
        bool score = net.networkScoreValid;
        bool prior = net.structurePriorValid;
        ~KeepCaches() {
            net.networkScoreValid = score;
            net.structurePriorValid = prior;
        }
    } keep{*this};
    const QNL_learnMove none = best;
    // A trial move that cannot be taken back leaves the caches unknown.
    auto fail = [&] {
        keep.score = keep.prior = false;
        return none;
    };
    const double s0 = SearchFamilyScore(x, false);
    if (s0 == kNoScore) return none;
    QNL_learnNode& node = *nodes[static_cast<std::size_t>(x)];
    auto consider = [&](int from, int operation, double gain) {
        if (gain > best.gain) best = {from, x, operation, gain};
    };
    if (operators & kRemoveBit) {
        for (int k = static_cast<int>(node.parents.size()) - 1; k >= 0; --k) {
            const int p = node.parents[static_cast<std::size_t>(k)];
            const int removed = RemoveArc(p, x);
            if (removed < 0) return fail();
            if (removed == 0) continue; // forced
            const double s = SearchFamilyScore(x, true);
            if (AddArc(p, x) != 1) return fail();
            if (s != kNoScore) consider(p, QNL_learnMove::REMOVE, s - s0);
        }
    }
    if (operators & kReverseBit) {
        for (int k = static_cast<int>(node.parents.size()) - 1; k >= 0; --k) {
            const int p = node.parents[static_cast<std::size_t>(k)];
            // The reversal gives p a parent, which the limit counts as well.
            if (static_cast<int>(nodes[static_cast<std::size_t>(p)]->parents.size()) >= maxParents)
                continue;
            const double sp = SearchFamilyScore(p, true);
            const int reversed = ReverseArcIfAcyclic(p, x);
            if (reversed < 0) return fail();
            if (reversed == 0) continue;
            const double sx = SearchFamilyScore(x, true);
            const double sq = SearchFamilyScore(p, true);
            if (ReverseArc(x, p) != 1) return fail();
            if (sx != kNoScore && sq != kNoScore && sp != kNoScore)
                consider(p, QNL_learnMove::REVERSE, sx + sq - sp - s0);
        }
    }
    if ((operators & kAddBit) && static_cast<int>(node.parents.size()) < maxParents) {
        for (int y = -1; NextNode(y) == 0;) {
            if (y == x || node.HasParent(y)) continue;
            const int added = AddArcIfAcyclic(y, x);
            if (added < 0) return fail();
            if (added == 0) continue;
            const double s = SearchFamilyScore(x, true);
            if (RemoveArc(y, x) != 1) return fail();
            if (s != kNoScore) consider(y, QNL_learnMove::ADD, s - s0);
        }
    }
    return best;
}

void QNL_learnNetwork::PushMove(const QNL_learnMove& move) {
    if (move.operation < 0 || !(move.gain > minimumGain)) return;
    const auto to = static_cast<std::size_t>(move.to);
    const unsigned other = move.operation == QNL_learnMove::REVERSE
                               ? families[static_cast<std::size_t>(move.from)]
                               : 0;
    queue.push_back({move, proposals[to], other});
    std::push_heap(queue.begin(), queue.end(),
                   [](const QueuedMove& a, const QueuedMove& b) { return Less(a.move, b.move); });
}

bool QNL_learnNetwork::CleanQueueTop() {
    const auto order = [](const QueuedMove& a, const QueuedMove& b) {
        return Less(a.move, b.move);
    };
    while (!queue.empty()) {
        const QueuedMove& top = queue.front();
        const auto to = static_cast<std::size_t>(top.move.to);
        const bool current = top.proposal == proposals[to];
        const bool otherChanged =
            top.move.operation == QNL_learnMove::REVERSE &&
            top.otherFamily != families[static_cast<std::size_t>(top.move.from)];
        if (current && !otherChanged) return true;
        const int node = top.move.to;
        std::pop_heap(queue.begin(), queue.end(), order);
        queue.pop_back();
        // A newer proposal of the node is queued; a reversal priced on an old family of its
        // other node is priced again.
        if (current) {
            ++proposals[to];
            PushMove(BestMove(node));
        }
    }
    return false;
}

int QNL_learnNetwork::PrepareCandidates() {
    const std::size_t n = nodes.size();
    queue.clear();
    enabled.resize(n, 1);
    proposals.assign(n, 0);
    families.assign(n, 0);
    if (familyScores.size() != n) familyScores.assign(n, {});
    for (int i = 0; i < static_cast<int>(n); ++i) {
        if (!nodes[static_cast<std::size_t>(i)]->active) continue;
        if (!enabled[static_cast<std::size_t>(i)]) continue;
        PushMove(BestMove(i));
    }
    return 0;
}

double QNL_learnNetwork::ApplyBestOperation() {
    const auto order = [](const QueuedMove& a, const QueuedMove& b) {
        return Less(a.move, b.move);
    };
    if (!CleanQueueTop() || !(queue.front().move.gain > minimumGain)) return kNothingQueued;
    const double before = networkScore;
    const bool knownBefore = networkScoreValid;
    for (;;) {
        const QNL_learnMove move = queue.front().move;
        std::pop_heap(queue.begin(), queue.end(), order);
        queue.pop_back();
        int result = 0;
        if (move.operation == QNL_learnMove::REMOVE)
            result = RemoveArc(move.from, move.to);
        else if (move.operation == QNL_learnMove::ADD)
            result = AddArcIfAcyclic(move.from, move.to);
        else
            result = ReverseArcIfAcyclic(move.from, move.to);
        if (result < 0) return kNoScore;
        if (result == 1) {
            ++families[static_cast<std::size_t>(move.to)];
            if (move.operation == QNL_learnMove::REVERSE) {
                ++families[static_cast<std::size_t>(move.from)];
                ++proposals[static_cast<std::size_t>(move.from)];
                PushMove(BestMove(move.from));
            }
        }
        ++proposals[static_cast<std::size_t>(move.to)];
        PushMove(BestMove(move.to));
        if (result == 1) {
            if (knownBefore) {
                networkScore = before + move.gain;
                networkScoreValid = true;
            }
            if (CleanQueueTop() && Undoes(queue.front().move, move)) return -1.0;
            return move.gain;
        }
        if (!CleanQueueTop()) return -1.0;
        if (!(queue.front().move.gain > minimumGain)) return queue.front().move.gain;
    }
}

int QNL_learnNetwork::StartExpectedScoring() {
    if (RefreshExpectedMarginals() != 0)
        return LogFailure(-1, "the expected counts of the incomplete data cannot be made");
    expectedScoring = true;
    double sum = 0.0;
    for (int i = -1; NextNode(i) == 0;) {
        const double family = SearchFamilyScore(i, true);
        if (family == kNoScore)
            return LogFailure(-1, "the network cannot be scored, so no structure can be searched");
        sum += family;
    }
    networkScore = sum;
    networkScoreValid = true;
    return 0;
}

void QNL_learnNetwork::EndSearchScoring() {
    // Scores kept by parent set hold for one search's options and data only.
    expectedScoring = false;
    marginals.clear();
    familyScores.clear();
}

int QNL_learnNetwork::GreedySearch() {
    // The loop stops at the first gain below the delta; at or below the marker of an empty
    // queue no gain is, and the search would turn arcs over until its cap.
    const double delta = options.GetDouble(MIN_GREEDY_DELTA);
    if (!(delta > kNothingQueued)) {
        std::ostringstream text;
        text << "MIN_GREEDY_DELTA " << delta << " leaves the greedy search nothing to stop at";
        return LogFailure(-1, text.str());
    }
    if (CheckAcyclic() != 0) return -1;
    // The forced arcs stand before any move is priced, so no queued move is made on a
    // structure without them.
    if (ApplyBackgroundKnowledge() != 0)
        return LogFailure(-1, "the forced arcs would close a cycle with the arcs drawn");
    // Scoring every candidate by an EM run of its own would cost an EM run per move priced.
    const bool incomplete = dataIncomplete && options.GetInt(INCOMPLETE_DATA_METHOD) == 1;
    struct EndScoring {
        QNL_learnNetwork& net;
        ~EndScoring() { net.EndSearchScoring(); }
    } endScoring{*this};
    auto refresh = [&] { return StartExpectedScoring(); };
    familyScores.assign(nodes.size(), {});
    if (incomplete) {
        if (const int code = refresh()) return code;
    } else if (ScoreNetwork(nullptr, true) == kNoScore) {
        return LogFailure(-1, "the network cannot be scored, so no structure can be searched");
    }
    if (const int code = PrepareCandidates()) return code;
    // Every applied move raises the score when delta is not negative, so no structure comes
    // twice; the cap holds for a negative delta.
    const long long cap = 100LL * (static_cast<long long>(nodes.size()) + 1) * (nodes.size() + 1);
    double gain = 0.0;
    for (long long moves = 0;; ++moves) {
        if (moves >= cap)
            return LogFailure(-1, "the greedy search did not settle within " + std::to_string(cap) +
                                      " moves");
        gain = ApplyBestOperation();
        if (!(gain >= delta)) break;
        if (incomplete) {
            // The marginals follow the structure just made; every move is priced again.
            if (const int code = refresh()) return code;
            if (const int code = PrepareCandidates()) return code;
        }
    }
    return gain == kNoScore ? -1 : 0;
}

int QNL_learnNetwork::SetMaxParents(int limit) {
    maxParents = limit < 0 ? INT_MAX : limit;
    operators = kAddBit;
    minimumGain = options.GetDouble(MIN_GREEDY_DELTA);
    return GreedySearch();
}

int QNL_learnNetwork::ClearStructure() {
    for (int i = -1; NextNode(i) == 0;) {
        const std::vector<int> children = nodes[static_cast<std::size_t>(i)]->children;
        for (auto c = children.rbegin(); c != children.rend(); ++c)
            if (RemoveArc(i, *c) < 0) return -1;
    }
    return 0;
}

int QNL_learnNetwork::SearchStructure(int count) {
    if (count == 0) return ClearStructure();
    operators = kRemoveBit;
    minimumGain = options.GetDouble(MIN_GREEDY_DELTA);
    if (const int code = GreedySearch()) return code;
    return count >= 1 ? EnforceParentLimit(count) : 0;
}

int QNL_learnNetwork::EnforceParentLimit(int limit) {
    if (CheckAcyclic() != 0) return -1;
    const std::size_t n = nodes.size();
    const bool incomplete = dataIncomplete && options.GetInt(INCOMPLETE_DATA_METHOD) == 1;
    struct EndScoring {
        QNL_learnNetwork& net;
        ~EndScoring() { net.EndSearchScoring(); }
    } endScoring{*this};
    enabled.assign(n, 1);
    operators = kRemoveBit;
    minimumGain = kNothingQueued;
    int result = 0;
    familyScores.assign(n, {});
    for (;;) {
        enabled.assign(n, 0);
        int over = 0;
        for (int i = -1; NextNode(i) == 0;)
            if (static_cast<int>(nodes[static_cast<std::size_t>(i)]->parents.size()) > limit) {
                enabled[static_cast<std::size_t>(i)] = 1;
                ++over;
            }
        if (over == 0) break;
        if (incomplete) {
            if ((result = StartExpectedScoring()) != 0) break;
        } else if (ScoreNetwork(nullptr, true) == kNoScore) {
            result = LogFailure(-1, "the network cannot be scored, so no parent can be removed");
            break;
        }
        if ((result = ApplyBackgroundKnowledge()) != 0) {
            LogFailure(result, "the forced arcs would close a cycle with the arcs drawn");
            break;
        }
        if ((result = PrepareCandidates()) != 0) break;
        // Forced arcs beyond the limit leave nothing to remove.
        std::size_t arcs = 0;
        for (const auto& node : nodes)
            arcs += node->parents.size();
        const double gain = ApplyBestOperation();
        std::size_t left = 0;
        for (const auto& node : nodes)
            left += node->parents.size();
        if (gain == kNoScore || left >= arcs) {
            result = LogFailure(-1, "the forced arcs give a node more than " +
                                        std::to_string(limit) + " parents");
            break;
        }
    }
    enabled.assign(n, 1);
    return result;
}
