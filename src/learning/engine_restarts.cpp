// Searches of the engine network beyond one greedy climb: restarts from random structures,
// the return-to-best search over a ring of visited structures, and the random structures
// (and random nodes) they start from.

#include "learning/engine_data_file.h"
#include "learning/engine_network.h"
#include "learning/statistics.h"
#include "model/error_handler.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

using namespace QNL_learnOption;

namespace {

constexpr double kNoScore = QNL_learnNetwork::NO_SCORE;
constexpr int kAllOperators =
    (1 << QNL_learnMove::REMOVE) | (1 << QNL_learnMove::ADD) | (1 << QNL_learnMove::REVERSE);

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

// The operators of a search that no phase has chosen yet are all three.
struct OperatorsKept {
    int& operators;
    int saved;
    explicit OperatorsKept(int& value, int during) : operators(value), saved(value) {
        if (during != 0) operators = during;
    }
    ~OperatorsKept() { operators = saved; }
};

} // namespace

std::vector<std::vector<int>> QNL_learnNetwork::SaveStructure() const {
    std::vector<std::vector<int>> structure;
    for (const auto& node : nodes)
        structure.push_back(node->parents);
    return structure;
}

int QNL_learnNetwork::RestoreStructure(const std::vector<std::vector<int>>& structure) {
    if (ClearStructure() != 0) return -1;
    for (std::size_t i = 0; i < structure.size(); ++i)
        for (const int p : structure[i])
            if (AddArc(p, static_cast<int>(i)) != 1) return -1;
    return 0;
}

// ---- restarts ----

int QNL_learnNetwork::RestartsFrom(int count, double seconds, std::vector<char>& structure,
                                   int& elapsed) {
    const std::size_t n = nodes.size();
    if (structure.size() != n * n)
        return LogFailure(-1, "the structure matrix does not match the " + std::to_string(n) +
                                  " nodes");
    OperatorsKept kept(operators, operators == 0 ? kAllOperators : 0);
    const auto start = std::chrono::steady_clock::now();
    const auto taken = [&] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    };
    double best = -1e308;
    bool found = false;
    for (int restart = 0; count < 0 ? restart == 0 || taken() < seconds : restart < count;
         ++restart) {
        if (GreedySearch() != 0) return -1;
        if (count < 0 && logFlag) log << ".";
        const double score = ScoreNetwork(nullptr, true);
        if (score == kNoScore)
            return LogFailure(-1, "the network cannot be scored, so no restart can be kept");
        if (score > best) {
            best = score;
            found = true;
            std::fill(structure.begin(), structure.end(), 0);
            for (std::size_t i = 0; i < n; ++i)
                for (const int p : nodes[i]->parents)
                    structure[static_cast<std::size_t>(p) * n + i] = 1;
        }
        const double limit = std::min<double>(activeCount, maxParents);
        if (GenerateRandomNetwork(std::min(3.0, limit)) < 0) return -1;
    }
    elapsed = taken();
    if (!found) return 0;
    if (ClearStructure() != 0) return -1;
    for (std::size_t p = 0; p < n; ++p)
        for (std::size_t i = 0; i < n; ++i)
            if (structure[p * n + i] && AddArc(static_cast<int>(p), static_cast<int>(i)) != 1)
                return LogFailure(-1, "the best structure cannot be rebuilt");
    networkScore = best;
    networkScoreValid = true;
    return 0;
}

int QNL_learnNetwork::RandomRestarts(int count, std::vector<char>& structure) {
    int elapsed = 0;
    return RestartsFrom(std::max(count, 0), 0.0, structure, elapsed);
}

int QNL_learnNetwork::TimedRandomRestarts(int seconds, int& elapsed) {
    std::vector<char> structure(nodes.size() * nodes.size(), 0);
    return RestartsFrom(-1, seconds, structure, elapsed);
}

// ---- return to best ----

int QNL_learnNetwork::ReturnToBestSearch() {
    const int passes = options.GetInt(NUM_RESTARTS);
    const int ringSize = options.GetInt(BESTF_GOBACK_NUM);
    if (passes < 1 || ringSize < 1)
        return LogFailure(-1, "NUM_RESTARTS and BESTF_GOBACK_NUM must be at least 1");
    // The start would be saved as a structure to come back to, and rebuilt as the best.
    if (CheckAcyclic() != 0) return -1;
    // A forced arc cannot be taken back once a trial move has drawn it, and a forbidden arc
    // cannot be drawn again: every structure saved and scored must already obey both.
    if (ApplyBackgroundKnowledge() != 0)
        return LogFailure(-1, "the forced arcs would close a cycle with the arcs drawn");
    OperatorsKept kept(operators, kAllOperators);
    const double savedMinimum = minimumGain;
    minimumGain = -1e308;
    struct Slot {
        std::vector<std::vector<int>> structure;
        QNL_learnMove second;
        bool secondTried = true;
    };
    std::vector<Slot> ring(static_cast<std::size_t>(ringSize));
    std::size_t current = 0;
    std::size_t filled = 0;
    std::size_t detours = 0;
    double best = -1e308;
    std::vector<std::vector<int>> bestStructure = SaveStructure();
    const auto apply = [&](const QNL_learnMove& move) {
        if (move.operation == QNL_learnMove::REMOVE) return RemoveArc(move.from, move.to);
        if (move.operation == QNL_learnMove::ADD) return AddArcIfAcyclic(move.from, move.to);
        return ReverseArcIfAcyclic(move.from, move.to);
    };
    int result = 0;
    familyScores.assign(nodes.size(), {});
    enabled.assign(nodes.size(), 1);
    for (int pass = 0; pass < passes && result == 0; ++pass) {
        const double score = ScoreNetwork(nullptr, true);
        if (score == kNoScore) {
            result =
                LogFailure(-1, "the network cannot be scored, so no structure can be searched");
            break;
        }
        if (score > best) {
            best = score;
            bestStructure = SaveStructure();
            detours = 0;
        }
        // The best two moves over all nodes, each node offering its best.
        QNL_learnMove first;
        QNL_learnMove second;
        first.gain = second.gain = -1e308;
        for (int i = -1; NextNode(i) == 0;) {
            const QNL_learnMove move = BestMove(i);
            if (move.operation < 0) continue;
            if (move.gain > first.gain) {
                second = first;
                first = move;
            } else if (move.gain > second.gain) {
                second = move;
            }
        }
        Slot& slot = ring[current];
        slot.structure = SaveStructure();
        slot.second = second;
        slot.secondTried = second.operation < 0;
        filled = std::max(filled, current + 1);
        if (first.operation >= 0 && first.gain > 0.0) {
            if (apply(first) < 0) result = -1;
            current = (current + 1) % ring.size();
            continue;
        }
        // A local optimum: back to the oldest saved structure with an untried second-best
        // move. The search ends when no slot has one, or when a whole turn of the ring's
        // worth of such detours has not raised the best score.
        if (++detours > ring.size()) break;
        bool moved = false;
        for (std::size_t step = 1; step <= ring.size() && !moved; ++step) {
            const std::size_t at = (current + step) % ring.size();
            if (at >= filled || ring[at].secondTried) continue;
            ring[at].secondTried = true;
            if (RestoreStructure(ring[at].structure) != 0 || apply(ring[at].second) < 0) {
                result = -1;
                break;
            }
            current = (at + 1) % ring.size();
            moved = true;
        }
        if (!moved) break;
    }
    minimumGain = savedMinimum;
    familyScores.clear();
    if (result != 0) return LogFailure(-1, "a move of the return-to-best search failed");
    // The last move may have brought the best score of all.
    const double last = ScoreNetwork(nullptr, true);
    if (last == kNoScore) return LogFailure(-1, "the last structure cannot be scored");
    if (last > best) return 0;
    if (RestoreStructure(bestStructure) != 0)
        return LogFailure(-1, "the best structure cannot be rebuilt");
    networkScore = best;
    networkScoreValid = true;
    return 0;
}

// ---- random structures ----

int QNL_learnNetwork::CreateRandomNodes(int count,
                                        const std::map<std::string, std::string>& parameters) {
    const auto number = [&](const char* key, double fallback, double& out) {
        const auto at = parameters.find(key);
        if (at == parameters.end()) {
            out = fallback;
            return true;
        }
        return QNL_learnDataFile::ParseNumber(at->second.data(),
                                              at->second.data() + at->second.size(), out);
    };
    double fixed = 0.0;
    double most = 0.0;
    if (!number("numStates", 0.0, fixed) || !number("maxNumStates", 2.0, most) || fixed > 1000.0 ||
        most > 1000.0 || (fixed != 0.0 && fixed < 2.0) || most < 2.0)
        return LogFailure(-1, "numStates and maxNumStates must be numbers from 2 to 1000");
    const auto type = parameters.find("type");
    const bool continuous = type != parameters.end() && type->second == "continuous";
    if (type != parameters.end() && !continuous && type->second != "discrete")
        return LogFailure(-1, "the type of random nodes is discrete or continuous, not " +
                                  type->second);
    RemoveAllNodes();
    for (int i = 0; i < count; ++i) {
        const int index = CreateNode("Node_" + std::to_string(i));
        if (index < 0) return -1;
        if (continuous) {
            nodes[static_cast<std::size_t>(index)]->flags |= QNL_learnNode::HAS_CONTINUOUS;
            continue;
        }
        const int states = fixed != 0.0
                               ? static_cast<int>(fixed)
                               : QNL_statistics::RandomInt(2, static_cast<int>(most) + 1, seed);
        std::vector<std::string> names;
        for (int s = 0; s < states; ++s)
            names.push_back("State_" + std::to_string(s));
        nodes[static_cast<std::size_t>(index)]->SetDiscreteData(std::move(names),
                                                                QNL_dataColumn<int>());
    }
    return 0;
}

int QNL_learnNetwork::GenerateRandomNetwork(double mean,
                                            const std::map<std::string, std::string>* parameters,
                                            const std::vector<std::vector<int>>* tiers) {
    // A restarted seed also drops the normal deviate the generator keeps from earlier draws,
    // so the same seed gives the same network.
    if (seed <= 0) QNL_statistics::NormalRandom(seed);
    if (parameters != nullptr) {
        const auto numNodes = parameters->find("numNodes");
        double count = 0.0;
        if (numNodes != parameters->end()) {
            if (!QNL_learnDataFile::ParseNumber(numNodes->second.data(),
                                                numNodes->second.data() + numNodes->second.size(),
                                                count) ||
                count > 2000.0)
                return LogFailure(-1, "numNodes is not a node count");
            if (count >= 1.0 && CreateRandomNodes(static_cast<int>(count), *parameters) != 0)
                return -1;
        }
    }
    double largest = std::min<double>(activeCount, maxParents);
    if (parameters != nullptr) {
        const auto at = parameters->find("maxNumParents");
        if (at != parameters->end() &&
            !QNL_learnDataFile::ParseNumber(at->second.data(),
                                            at->second.data() + at->second.size(), largest))
            return LogFailure(-1, "maxNumParents is not a number");
    }
    if (!(mean >= 0.0) || !(largest >= 0.0))
        return LogFailure(-1, "the mean and the largest parent count must be numbers of 0 or more");
    largest = std::min<double>(largest, activeCount);
    if (largest < mean)
        return LogFailure(-2, "the largest parent count " + std::to_string(largest) +
                                  " is below the mean " + std::to_string(mean));
    std::vector<std::vector<int>> order;
    if (tiers != nullptr) {
        std::vector<char> seen(nodes.size(), 0);
        for (const auto& tier : *tiers)
            for (const int i : tier) {
                if (!IsNode(i) || seen[static_cast<std::size_t>(i)] ||
                    !nodes[static_cast<std::size_t>(i)]->active)
                    return LogFailure(-1,
                                      "the tiers name a node twice or a node that is not there");
                seen[static_cast<std::size_t>(i)] = 1;
            }
        order = *tiers;
    } else {
        // A random order in which forced parents and earlier tiers come first.
        std::vector<int> left;
        for (int i = -1; NextNode(i) == 0;)
            left.push_back(i);
        std::vector<char> placed(nodes.size(), 0);
        while (!left.empty()) {
            std::vector<std::size_t> ready;
            for (std::size_t k = 0; k < left.size(); ++k) {
                const QNL_learnNode& node = *nodes[static_cast<std::size_t>(left[k])];
                bool free = true;
                for (int j = -1; free && NextNode(j) == 0;)
                    free = placed[static_cast<std::size_t>(j)] ||
                           (!node.IsForcedParent(j) && !node.IsInEarlierTier(j));
                if (free) ready.push_back(k);
            }
            if (ready.empty()) return LogFailure(-1, "the forced arcs and tiers allow no order");
            const std::size_t pick = ready[static_cast<std::size_t>(
                QNL_statistics::RandomInt(0, static_cast<int>(ready.size()), seed))];
            placed[static_cast<std::size_t>(left[pick])] = 1;
            order.push_back({left[pick]});
            left.erase(left.begin() + static_cast<std::ptrdiff_t>(pick));
        }
    }
    if (ClearStructure() != 0) return -1;
    int arcs = 0;
    int earlier = 0;
    for (std::size_t t = 0; t < order.size(); ++t) {
        for (const int x : order[t]) {
            if (t == 0) continue;
            // Redrawn while above the limit; a mean far above it ends in the limit.
            int k = INT_MAX;
            for (int draw = 0; draw < 1000 && k > largest; ++draw)
                k = static_cast<int>(QNL_statistics::NormalRandomScaled(mean, 0.2 * mean, seed));
            k = std::max(0, std::min(k, static_cast<int>(largest)));
            std::vector<int> chosen;
            const auto add = [&](int parent) {
                const int added = AddArcIfAcyclic(parent, x);
                if (added == 1) chosen.push_back(parent);
                return added;
            };
            if (k < earlier) {
                // Refused arcs are drawn again, a bounded number of times.
                const long long cap = 64LL * earlier + 64;
                long long attempts = 0;
                while (static_cast<int>(chosen.size()) < k) {
                    if (++attempts > cap)
                        return LogFailure(-1, "node " + nodes[static_cast<std::size_t>(x)]->name +
                                                  " was refused " + std::to_string(cap) +
                                                  " of its random parents");
                    const auto& tier = order[static_cast<std::size_t>(
                        QNL_statistics::RandomInt(0, static_cast<int>(t), seed))];
                    if (tier.empty()) continue;
                    const int parent = tier[static_cast<std::size_t>(
                        QNL_statistics::RandomInt(0, static_cast<int>(tier.size()), seed))];
                    if (std::find(chosen.begin(), chosen.end(), parent) != chosen.end()) continue;
                    if (add(parent) < 0) return -1;
                }
            } else {
                for (std::size_t e = 0; e < t; ++e)
                    for (const int parent : order[e])
                        if (add(parent) < 0) return -1;
            }
            arcs += static_cast<int>(chosen.size());
        }
        earlier += static_cast<int>(order[t].size());
    }
    return arcs;
}
