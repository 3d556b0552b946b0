// Expectation maximisation in the learning engine: expected counts of every family by exact
// inference in a library network that mirrors the engine network, MAP parameters from them,
// and the loop with its convergence test against EM_CONV_FACTOR.

#include "definitions/node_value.h"
#include "learning/engine_network.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <cmath>
#include <functional>
#include <map>

using namespace QNL_learnOption;

namespace {

constexpr double kNoScore = QNL_learnNetwork::NO_SCORE;

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

// Evidence and beliefs of the mirrored network, by engine node. Every operation first checks
// that the mirror still has the engine's nodes and arcs.
class MirrorInference {
public:
    MirrorInference(QNL_learnNetwork& engine, QNL_network& mirror, const QNL_learnHandleMap& map)
        : engine(engine), mirror(mirror), map(map) {}

    bool InSynch() const {
        for (int i = -1; engine.NextNode(i) == 0;) {
            const int h = map.GetHandle(i);
            const QNL_learnNode& node = *engine.GetNode(i);
            if (h < 0 || mirror.GetNode(h) == nullptr ||
                mirror.GetParents(h).GetCount() != static_cast<int>(node.GetParents().size()) ||
                mirror.GetNode(h)->GetDefinition()->GetNumberOfOutcomes() !=
                    node.GetNumberOfStates())
                return false;
        }
        return true;
    }
    int OutOfSynch() const { return LogFailure(-1, "out of synch"); }

    int ClearEvidence() {
        if (!InSynch()) return OutOfSynch();
        return mirror.ClearAllEvidence();
    }
    int SetEvidence(int node, int state) {
        return Value(node)->SetEvidence(state) == 0 ? 0 : OutOfSynch();
    }
    int ClearEvidence(int node) { return Value(node)->ClearEvidence(); }
    int Update() {
        if (mirror.UpdateBeliefs() != 0)
            return LogFailure(-1, "inference in the mirrored network failed");
        return 0;
    }
    double Belief(int node, int state) {
        const QNL_Dmatrix* beliefs = Value(node)->GetMatrix();
        return beliefs != nullptr ? beliefs->Subscript(state) : 0.0;
    }

private:
    QNL_nodeValue* Value(int node) { return mirror.GetNode(map.GetHandle(node))->GetValue(); }

    QNL_learnNetwork& engine;
    QNL_network& mirror;
    const QNL_learnHandleMap& map;
};

} // namespace

int QNL_learnNetwork::AddExpectedCounts(QNL_network& mirror) {
    if (activeCount == 0) return LogFailure(-1, "there are no active nodes for EM");
    MirrorInference inference(*this, mirror, copyMap);
    if (!inference.InSynch()) return inference.OutOfSynch();
    std::vector<int> active;
    for (int i = -1; NextNode(i) == 0;) {
        QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
        if (const int code = node.ShapeTables()) return code;
        node.counts.Fill(0.0);
        active.push_back(i);
    }
    const QNL_dataColumn<int>& first = nodes[static_cast<std::size_t>(active.front())]->discrete;
    const int records = first.Size();
    std::vector<int> state(nodes.size(), MISSING);
    std::vector<int> hidden;
    // Beliefs of every active node in one flat block, node i's states from offsets[i].
    using Beliefs = std::vector<double>;
    std::vector<std::size_t> offsets(nodes.size() + 1, 0);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        offsets[i + 1] = offsets[i] + static_cast<std::size_t>(nodes[i]->GetNumberOfStates());
    auto snapshot = [&](Beliefs& into) {
        into.resize(offsets.back());
        for (const int i : active)
            for (int k = 0; k < nodes[static_cast<std::size_t>(i)]->GetNumberOfStates(); ++k)
                into[offsets[static_cast<std::size_t>(i)] + static_cast<std::size_t>(k)] =
                    inference.Belief(i, k);
    };
    // The beliefs with one hidden node fixed, by (node, state), for the current record.
    std::map<std::pair<int, int>, Beliefs> fixed;
    Beliefs base;
    for (int r = 0; r < records; ++r) {
        if (first.IsExcluded(r)) continue;
        int level = -1;
        if (r % 100 == 0) {
            const double share = records > 0 ? 100.0 / records : 1.0;
            if (const int code = BeginStep(share, "Adding Record: " + std::to_string(r), level))
                return code;
        }
        bool complete = true;
        for (const int i : active) {
            const QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
            const int v = r < node.discrete.Size() ? node.discrete[r] : MISSING;
            state[static_cast<std::size_t>(i)] =
                v >= 0 && v < node.GetNumberOfStates() ? v : MISSING;
            complete = complete && state[static_cast<std::size_t>(i)] != MISSING;
        }
        fixed.clear();
        if (!complete) {
            if (const int code = inference.ClearEvidence()) return code;
            for (const int i : active)
                if (state[static_cast<std::size_t>(i)] != MISSING)
                    if (const int code =
                            inference.SetEvidence(i, state[static_cast<std::size_t>(i)]))
                        return code;
            if (const int code = inference.Update()) return code;
            snapshot(base);
        }
        for (const int i : active) {
            QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
            const int r0 = node.GetNumberOfStates();
            // The family's cell with its hidden members at state 0, and the hidden members.
            std::int64_t at = 0;
            hidden.clear();
            std::vector<std::int64_t> strides;
            std::int64_t stride = r0;
            std::vector<std::int64_t> parentStride(node.parents.size());
            for (std::size_t m = node.parents.size(); m-- > 0;) {
                parentStride[m] = stride;
                stride *= nodes[static_cast<std::size_t>(node.parents[m])]->GetNumberOfStates();
            }
            for (std::size_t m = 0; m <= node.parents.size(); ++m) {
                const int member = m < node.parents.size() ? node.parents[m] : i;
                const std::int64_t step = m < node.parents.size() ? parentStride[m] : 1;
                const int s = state[static_cast<std::size_t>(member)];
                if (s == MISSING) {
                    hidden.push_back(member);
                    strides.push_back(step);
                } else {
                    at += s * step;
                }
            }
            double* cells = node.counts.Cells();
            if (hidden.empty()) {
                cells[at] += 1.0;
                continue;
            }
            if (hidden.size() == 1) {
                const int h = hidden[0];
                const double* beliefs = base.data() + offsets[static_cast<std::size_t>(h)];
                for (int k = 0; k < nodes[static_cast<std::size_t>(h)]->GetNumberOfStates(); ++k)
                    cells[at + k * strides[0]] += beliefs[k];
                continue;
            }
            // P(h0, h1, ... | e) = P(h0 | e) P(h1, ... | e, h0), one hidden member fixed at a
            // time; the fixings of the first member are shared by the families of the record.
            std::function<int(std::size_t, double, std::int64_t, const Beliefs&)> walk =
                [&](std::size_t depth, double weight, std::int64_t offset,
                    const Beliefs& beliefs) -> int {
                const int h = hidden[depth];
                const double* own = beliefs.data() + offsets[static_cast<std::size_t>(h)];
                const auto states = static_cast<std::size_t>(
                    nodes[static_cast<std::size_t>(h)]->GetNumberOfStates());
                if (depth + 1 == hidden.size()) {
                    for (std::size_t k = 0; k < states; ++k)
                        cells[offset + static_cast<std::int64_t>(k) * strides[depth]] +=
                            weight * own[k];
                    return 0;
                }
                for (std::size_t k = 0; k < states; ++k) {
                    const double p = own[k];
                    if (!(p > 0.0)) continue;
                    const int value = static_cast<int>(k);
                    if (const int code = inference.SetEvidence(h, value)) return code;
                    Beliefs local;
                    const Beliefs* next = &local;
                    int code = 0;
                    if (depth == 0) {
                        auto at = fixed.find({h, value});
                        if (at == fixed.end()) {
                            code = inference.Update();
                            if (code == 0) {
                                at = fixed.emplace(std::make_pair(h, value), Beliefs()).first;
                                snapshot(at->second);
                            }
                        }
                        if (code == 0) next = &at->second;
                    } else {
                        code = inference.Update();
                        if (code == 0) snapshot(local);
                    }
                    if (code == 0)
                        code = walk(depth + 1, weight * p,
                                    offset + static_cast<std::int64_t>(k) * strides[depth], *next);
                    inference.ClearEvidence(h);
                    if (code != 0) return code;
                }
                return 0;
            };
            if (const int code = walk(0, 1.0, at, base)) return code;
        }
        if (level >= 0)
            if (const int code = EndStep(level)) return code;
    }
    for (const int i : active) {
        QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
        node.counts.RecomputeRowSums();
        node.countsValid = true;
        node.scoreValid = false;
    }
    InvalidateCaches();
    return 0;
}

double QNL_learnNetwork::ExpectedCountScore(const std::vector<int>* list) {
    std::vector<int> members;
    if (list != nullptr) {
        members = *list;
    } else {
        for (int i = -1; NextNode(i) == 0;)
            members.push_back(i);
    }
    double sum = 0.0;
    for (const int i : members) {
        QNL_learnNode* node = GetNode(i);
        const double family = node != nullptr ? node->BayesianScore() : kNoScore;
        if (family == kNoScore) return kNoScore;
        sum += family;
    }
    return sum;
}

int QNL_learnNetwork::RunEM(double& score) {
    if (activeCount == 0) return LogFailure(-1, "there are no active nodes for EM");
    if (options.GetBool(EM_INITIALIZE_W_PRIOR_NET)) {
        if (priorNetwork == nullptr)
            return LogFailure(-567, "EM is to start from a prior network, but there is none");
        for (int i = -1; NextNode(i) == 0;)
            if (priorMap.GetHandle(i) >= 0)
                if (const int code =
                        nodes[static_cast<std::size_t>(i)]->CopyParametersTo(priorMap, 0))
                    return code;
    }
    if (options.GetBool(EM_USE_RANDOM_INIT_PARAMS))
        if (const int code = RandomizeParameters()) return code;
    const double tolerance = options.GetDouble(EM_CONV_FACTOR);
    const int maxIterations = options.GetInt(EM_MAX_ITERATIONS);
    double firstImprovement = kNoScore;
    double lastScore = kNoScore;
    if (logFlag) log << "Performing EM for a hidden network: \r\n" << std::flush;

    QNL_network mirror;
    // The mirror lives for this run only; so does the copy map that points into it.
    struct ForgetMirror {
        QNL_learnHandleMap& map;
        ~ForgetMirror() { map = QNL_learnHandleMap(); }
    } forget{copyMap};
    if (const int code = CopyToNetwork(mirror)) return code;
    // Every record sets and clears evidence on most nodes, so the per-change bookkeeping is
    // left out; an observation the tables make impossible fails the belief update instead.
    mirror.SetNotificationMask(
        mirror.GetNotificationMask() &
        ~(QNL_network::CHANGE_EVIDENCE_SET | QNL_network::CHANGE_EVIDENCE_CLEARED));
    for (int k = 0;; ++k) {
        if (k >= maxIterations)
            return LogFailure(-1, "EM did not converge within " + std::to_string(maxIterations) +
                                      " iterations (EM_MAX_ITERATIONS)");
        int iteration = -1;
        int code = BeginStep(0.25, "EM Iteration: " + std::to_string(k), iteration);
        int level = -1;
        if (code == 0) code = BeginStep(0.95, "Calculating Expected Sufficient Statistics", level);
        if (code == 0) code = AddExpectedCounts(mirror);
        if (code == 0) code = EndStep(level);
        if (code == 0) code = BeginStep(0.05, "Calculating Parameters", level);
        if (code == 0) code = EstimateParameters();
        if (code == 0) code = EndStep(level);
        if (code == 0) code = CopyParameters(copyMap, 1);
        if (code != 0) return code;
        score = ExpectedCountScore(nullptr);
        if (score == kNoScore) return LogFailure(-1, "the expected counts cannot be scored");
        if (logFlag)
            log << "Performed " << k + 1 << " EM iterations.\n"
                << "Score = " << score << ".";
        if ((code = EndStep(iteration)) != 0) return code;
        // The first pass records a score, the second the reference improvement; from the
        // third on the change is measured against it. No improvement at all is convergence.
        bool converged = false;
        if (firstImprovement != kNoScore) {
            const double delta = lastScore - score;
            converged = firstImprovement == 0.0 || std::fabs(delta / firstImprovement) < tolerance;
        } else if (lastScore != kNoScore) {
            firstImprovement = lastScore - score;
        }
        lastScore = score;
        if (logFlag) log << (converged ? "Converged!\r\n" : "Not converged.\r\n") << std::flush;
        if (converged) {
            int cleanup = -1;
            code = BeginStep(1.0, "Cleaning Up", cleanup);
            if (code == 0) code = EndStep(cleanup);
            return code;
        }
    }
}
