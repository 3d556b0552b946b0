#include "inference/annealed_map.h"

#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "inference/join_tree_cache.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <string>

namespace {

int Log(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, message);
}

std::string IdOf(const QNL_network& network, int node) {
    const char* id = network.GetNode(node)->GetId();
    return id != nullptr ? id : "";
}

constexpr double kImprovement = 1.00001;

using Scaled = quarn::detail::ScaledValue;

// a / b as a double: exactly the quotient of the plain doubles where both are normal ones.
double RatioOf(const Scaled& a, const Scaled& b) {
    const double quotient = a.GetMantissa() / b.GetMantissa();
    const std::int64_t shift = std::max<std::int64_t>(
        -4000, std::min<std::int64_t>(4000, a.GetExponent() - b.GetExponent()));
    return shift == 0 ? quotient : std::ldexp(quotient, static_cast<int>(shift));
}

// a > b: the quotient of two positive normal doubles exceeds 1 exactly when the first is the
// larger, and a zero b makes it infinite.
bool Greater(const Scaled& a, const Scaled& b) {
    return RatioOf(a, b) > 1.0;
}

// The position of the node in the evidence list, -1 when it holds none.
int EvidenceOf(const std::vector<int>& evidenceNodes, int node) {
    const auto at = std::find(evidenceNodes.begin(), evidenceNodes.end(), node);
    return at != evidenceNodes.end() ? static_cast<int>(at - evidenceNodes.begin()) : -1;
}

// A decision that is not set has no distribution, so neither has a node below it: refuses the
// first such decision above `node`. The parents of a set decision are not followed, since its
// outcome is fixed whatever they hold.
int RefuseUnsetDecisionAbove(const QNL_network& network, int node, const char* role,
                             const std::vector<int>& evidenceNodes, std::vector<char>& seen) {
    std::vector<int> stack(network.GetParents(node).Items(),
                           network.GetParents(node).Items() + network.GetParents(node).GetCount());
    while (!stack.empty()) {
        const int h = stack.back();
        stack.pop_back();
        if (seen[static_cast<std::size_t>(h)]) continue;
        seen[static_cast<std::size_t>(h)] = 1;
        if (network.GetNode(h)->GetType() & QNL_TYPE_BIT_DECISION) {
            if (EvidenceOf(evidenceNodes, h) >= 0) continue;
            return Log(-2, std::string("Annealed MAP: ") + role + IdOf(network, node) +
                               " depends on the decision " + IdOf(network, h) +
                               ", which is not set");
        }
        const QNL_intArray& parents = network.GetParents(h);
        stack.insert(stack.end(), parents.Items(), parents.Items() + parents.GetCount());
    }
    return 0;
}

// Makes the network a Bayesian network with the same distribution over its chance nodes: the
// utility nodes go, and each decision becomes a chance node sure of its set outcome (one
// that is not set, and so reaches no MAP or evidence node, takes all outcomes alike). A
// decision keeps its evidence, which then has probability 1.
int DropDecisions(QNL_network& network, const std::vector<int>& evidenceNodes,
                  const std::vector<int>& evidenceOutcomes) {
    std::vector<int> utilities, decisions;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const int type = network.GetNode(h)->GetType();
        if (type == QNL_TYPE_MAU)
            utilities.insert(utilities.begin(), h);
        else if (type & QNL_TYPE_BIT_UTILITY)
            utilities.push_back(h);
        else if (type & QNL_TYPE_BIT_DECISION)
            decisions.push_back(h);
    }
    // Multi-attribute nodes first: they are the children of the other utilities.
    for (int h : utilities)
        if (int r = network.DeleteNode(h)) return r;
    for (int h : decisions) {
        QNL_node* node = network.GetNode(h);
        const int at = EvidenceOf(evidenceNodes, h);
        if (int r = node->SetType(QNL_TYPE_CPT)) return r;
        const int outcomes = node->GetDefinition()->GetNumberOfOutcomes();
        const int size = node->GetDefinition()->GetMatrix()->GetSize();
        // An outcome out of range is left to the evidence, which refuses it with its message.
        int chosen = at >= 0 ? evidenceOutcomes[static_cast<std::size_t>(at)] : -1;
        if (chosen >= outcomes) chosen = -1;
        QNL_doubleArray table;
        for (int c = 0; c < size; ++c)
            table.Add(chosen < 0 ? 1.0 / outcomes : (c % outcomes == chosen ? 1.0 : 0.0));
        if (int r = node->GetDefinition()->SetDefinition(table)) return r;
    }
    return 0;
}

int ClearFindings(QNL_network& network, const std::vector<int>& nodes) {
    for (int h : nodes) {
        QNL_nodeValue* value = network.GetNode(h)->GetValue();
        if (value->HasEvidence())
            if (int r = value->ClearEvidence()) return r;
    }
    return 0;
}

} // namespace

int QNL_annealedMAP::Check(QNL_network& network, const std::vector<int>& mapNodes,
                           const std::vector<int>& evidenceNodes,
                           const std::vector<int>& evidenceOutcomes) {
    if (evidenceNodes.size() != evidenceOutcomes.size())
        return Log(-2, "Annealed MAP: evidence nodes and outcomes differ in number");
    for (std::size_t i = 0; i < mapNodes.size(); ++i) {
        const int h = mapNodes[i];
        if (!network.IsValidNodeHandle(h))
            return Log(-2, "Annealed MAP: invalid node handle " + std::to_string(h));
        // A decision has no probability of its own, nor a utility any outcome.
        const int type = network.GetNode(h)->GetType();
        if (type & QNL_TYPE_BIT_DECISION)
            return Log(-2, "Annealed MAP: node " + IdOf(network, h) + " is a decision node");
        if (type & QNL_TYPE_BIT_UTILITY)
            return Log(-2, "Annealed MAP: node " + IdOf(network, h) + " is a utility node");
        if (network.GetNode(h)->GetValue() == nullptr)
            return Log(-2, "Annealed MAP: node " + IdOf(network, h) + " has no outcomes");
        if (std::find(mapNodes.begin(), mapNodes.begin() + static_cast<std::ptrdiff_t>(i), h) !=
            mapNodes.begin() + static_cast<std::ptrdiff_t>(i))
            return Log(-2, "Annealed MAP: node " + IdOf(network, h) + " is listed twice");
        if (std::find(evidenceNodes.begin(), evidenceNodes.end(), h) != evidenceNodes.end())
            return Log(-2, "Annealed MAP: node " + IdOf(network, h) + " holds evidence");
    }
    for (std::size_t i = 0; i < evidenceNodes.size(); ++i) {
        const int h = evidenceNodes[i];
        if (!network.IsValidNodeHandle(h))
            return Log(-2, "Annealed MAP: invalid evidence node handle " + std::to_string(h));
        const auto end = evidenceNodes.begin() + static_cast<std::ptrdiff_t>(i);
        if (std::find(evidenceNodes.begin(), end, h) != end)
            return Log(-2, "Annealed MAP: evidence node " + IdOf(network, h) + " is listed twice");
    }
    std::vector<char> seen(static_cast<std::size_t>(network.GetTableSize()), 0);
    for (int h : mapNodes)
        if (int r = RefuseUnsetDecisionAbove(network, h, "node ", evidenceNodes, seen)) return r;
    for (int h : evidenceNodes) {
        if (network.GetNode(h)->GetType() & QNL_TYPE_BIT_DECISION) continue;
        if (int r = RefuseUnsetDecisionAbove(network, h, "evidence node ", evidenceNodes, seen))
            return r;
    }
    return 0;
}

int QNL_annealedMAP::Beliefs(QNL_network& network, int node, std::vector<double>& out) {
    network.ClearAllTargets();
    network.SetTarget(node);
    network.InvalidateValues();
    ++updates;
    if (int r = network.UpdateBeliefs()) return r;
    QNL_nodeValue* value = network.GetNode(node)->GetValue();
    const QNL_Dmatrix* matrix = value->GetMatrix();
    if (!value->IsValueValid() || matrix == nullptr)
        return Log(-2, "Annealed MAP: no beliefs for node " + IdOf(network, node));
    out.assign(matrix->GetSize(), 0.0);
    for (int k = 0; k < matrix->GetSize(); ++k)
        out[static_cast<std::size_t>(k)] = matrix->Subscript(k);
    return 0;
}

double QNL_annealedMAP::HeatCapacity(const std::vector<double>& h, double t) const {
    std::vector<Scaled> scaled;
    scaled.reserve(h.size());
    for (double p : h)
        scaled.emplace_back(p, 0);
    return ScaledHeatCapacity(scaled, t).Value();
}

// While the best probability b is a double far from the smallest, the energies b - P are taken
// as plain doubles. Below that they and their squares would underflow and the heat capacity
// come out as 0 whatever the history; there the energies are b (1 - P / b), so the capacity is
// b^2 times that of the ratios, its power of two kept apart.
Scaled QNL_annealedMAP::ScaledHeatCapacity(const std::vector<Scaled>& h, double t) const {
    if (h.empty() || !(t > 0.0)) return Scaled(0.0, 0);
    const double b = bestProbability.Value();
    const bool plain = b >= 0x1p-500;
    std::vector<double> weights(h.size()), energies(h.size());
    double total = 0.0;
    for (std::size_t j = 0; j < h.size(); ++j) {
        double exponent;
        if (plain) {
            energies[j] = b - h[j].Value();
            exponent = -(energies[j]) / (t * energyScale);
        } else {
            energies[j] = 1.0 - RatioOf(h[j], bestProbability);
            Scaled energy = bestProbability;
            energy.Multiply(energies[j] / (t * energyScale));
            exponent = -energy.Value();
        }
        weights[j] = std::exp(exponent);
        total += weights[j];
    }
    double mean = 0.0, second = 0.0;
    for (std::size_t j = 0; j < h.size(); ++j) {
        mean += weights[j] / total * energies[j];
        second += weights[j] / total * energies[j] * energies[j];
    }
    const double variance = std::max(0.0, second - mean * mean);
    if (plain) return Scaled(variance / (t * t), 0);
    Scaled heat = bestProbability;
    heat.Multiply(bestProbability);
    heat.Multiply(variance / (t * t));
    return heat;
}

namespace {

// The one message that tells a probability of evidence too small for a double from an
// impossible one, both returned as 0 (see quarn::detail::ProbabilityOfEvidenceValue).
constexpr char kEvidenceUnderflowed[] = "Probability of evidence underflowed";

bool LoggedUnderflowSince(int count) {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = count; i < log.GetNumberOfErrors(); ++i) {
        const char* text = log.GetMessage(i);
        if (log.GetCode(i) == -2 && text != nullptr &&
            std::strncmp(text, kEvidenceUnderflowed, sizeof kEvidenceUnderflowed - 1) == 0)
            return true;
    }
    return false;
}

std::uint64_t WorkOf(const QNL_network& network) {
    const quarn::detail::EvidenceWork& work = network.GetEvidenceWork();
    return work.walked + work.searched + work.propagated + work.rederived + work.collected;
}

} // namespace

int QNL_annealedMAP::Run(QNL_network& network, const std::vector<int>& mapNodes,
                         std::vector<int>& assignment, const std::vector<int>& evidenceNodes,
                         const std::vector<int>& evidenceOutcomes, double& probability,
                         double& probabilityOfEvidence, int seed,
                         const QNL_annealedMapTuning& parameters) {
    random.Seed(static_cast<unsigned>(seed));
    tuning = parameters;
    maxHeatCapacity = Scaled(0.0, 0);
    temperatureAtMax = tuning.Tinit;
    energyScale = 1.0;
    passes = 0;
    reheats.clear();
    updates = 0;
    compilationTotal = 0;
    evidenceWorkTotal = 0;
    if (int r = Check(network, mapNodes, evidenceNodes, evidenceOutcomes)) return r;
    try {
        // Implications of the evidence are left to the exact updates, so that a MAP node's
        // evidence is always its own and can be withdrawn step by step.
        network.SetNotificationControl(
            network.GetNotificationControl() &
            ~(QNL_network::NOTIFY_PROPAGATE_EVIDENCE | QNL_network::NOTIFY_AUTO_UPDATE));
        if (int r = DropDecisions(network, evidenceNodes, evidenceOutcomes)) return r;
        network.ClearAllEvidence();
        network.ClearAllPropagatedEvidence();
        for (std::size_t i = 0; i < evidenceNodes.size(); ++i) {
            QNL_nodeValue* value = network.GetNode(evidenceNodes[i])->GetValue();
            const int r = value != nullptr ? value->SetEvidence(evidenceOutcomes[i]) : -2;
            if (r != 0)
                return Log(r, "Annealed MAP: can't set evidence on node " +
                                  IdOf(network, evidenceNodes[i]));
        }
        QNL_errorHandler& log = QNL_errorHandler::Instance();
        const int loggedBefore = log.GetNumberOfErrors();
        double pe = 0.0;
        if (!network.CalcPropEvidence(pe))
            return Log(-2, "Annealed MAP: the probability of the evidence can't be computed");
        // Evidence too small for a double is searched like any other; its size stays logged.
        if (!(pe > 0.0) && !LoggedUnderflowSince(loggedBefore))
            return Log(-2, "Annealed MAP: the evidence has probability 0");
        probabilityOfEvidence = pe;
        const std::uint64_t builtBefore = network.GetJoinTreeCache().GetBuildCount();
        const int searched = Search(network, mapNodes);
        if (searched != 0) return searched;

        // The reported figure is the probability of the assignment returned, never the running
        // product the search kept. The search's findings go first: entered over them, an
        // outcome could meet another node's old one and be refused as impossible.
        if (int r = ClearFindings(network, mapNodes)) return r;
        double result = -1.0;
        if (pe >= DBL_MIN) {
            for (std::size_t i = 0; i < mapNodes.size(); ++i)
                if (int r = network.GetNode(mapNodes[i])->GetValue()->SetEvidence(best[i]))
                    return r;
            const int loggedJoint = log.GetNumberOfErrors();
            double joint = 0.0;
            if (!network.CalcPropEvidence(joint))
                return Log(-2, "Annealed MAP: the probability of the assignment can't be computed");
            if (joint >= DBL_MIN) {
                result = joint / pe;
            } else {
                // The joint's size is not the evidence's: its message would mislead.
                log.TruncateTo(loggedJoint);
                if (int r = ClearFindings(network, mapNodes)) return r;
            }
        }
        // A joint below the normal doubles has lost digits before the division: the chain of
        // the MAP nodes' beliefs holds them.
        if (result < 0.0) {
            Scaled chain;
            if (int r = ChainProbability(network, mapNodes, chain)) return r;
            result = quarn::detail::ValueOrLoggedSize(
                chain, "Annealed MAP: probability of the assignment given the evidence");
        }
        compilationTotal = network.GetJoinTreeCache().GetBuildCount() - builtBefore;
        assignment = best;
        probability = result;
        return 0;
    } catch (const std::bad_alloc&) {
        return Log(-42, "Not enough memory for the annealed MAP search");
    }
}

int QNL_annealedMAP::ChainProbability(QNL_network& network, const std::vector<int>& mapNodes,
                                      Scaled& out) {
    out = Scaled();
    for (std::size_t i = 0; i < mapNodes.size(); ++i) {
        if (int r = Beliefs(network, mapNodes[i], beliefs)) return r;
        out.Multiply(beliefs[static_cast<std::size_t>(best[i])]);
        if (int r = network.GetNode(mapNodes[i])->GetValue()->SetEvidence(best[i])) return r;
    }
    return 0;
}

// Every MAP node but the step's holds its current outcome; the step's is withdrawn before its
// update and entered again after the step, so each step's update sees one of n observed sets,
// whose join trees the network's cache keeps. The update starts from no value but the
// findings', so notices would invalidate nothing it keeps: they are off while the outcome
// changes (a dynamic network's notices reach every value and stay on).
int QNL_annealedMAP::SetStepOutcome(QNL_network& network, int node, int outcome) {
    const int control = network.GetNotificationControl();
    if (network.FindTemporalNetwork() == nullptr)
        network.SetNotificationControl(control & ~QNL_network::NOTIFY_ON);
    QNL_nodeValue* value = network.GetNode(node)->GetValue();
    int result = 0;
    if (outcome >= 0)
        result = value->SetEvidence(outcome);
    else if (value->HasEvidence())
        result = value->ClearEvidence();
    network.SetNotificationControl(control);
    return result;
}

int QNL_annealedMAP::Search(QNL_network& network, const std::vector<int>& mapNodes) {
    const std::size_t n = mapNodes.size();
    // Entropy order: the most certain nodes are fixed first.
    network.ClearAllTargets();
    for (int h : mapNodes)
        network.SetTarget(h);
    network.InvalidateValues();
    ++updates;
    if (int r = network.UpdateBeliefs()) return r;
    std::vector<double> entropy(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        QNL_nodeValue* value = network.GetNode(mapNodes[i])->GetValue();
        const QNL_Dmatrix* matrix = value->GetMatrix();
        if (!value->IsValueValid() || matrix == nullptr)
            return Log(-2, "Annealed MAP: no beliefs for node " + IdOf(network, mapNodes[i]));
        for (int k = 0; k < matrix->GetSize(); ++k) {
            const double p = matrix->Subscript(k);
            if (p != 0.0) entropy[i] -= p * std::log(p);
        }
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return entropy[a] < entropy[b]; });

    // Greedy start: each node at its most probable outcome given those fixed before it.
    current.assign(n, 0);
    bestProbability = Scaled();
    for (std::size_t i : order) {
        if (int r = Beliefs(network, mapNodes[i], beliefs)) return r;
        const std::size_t k = static_cast<std::size_t>(
            std::max_element(beliefs.begin(), beliefs.end()) - beliefs.begin());
        current[i] = static_cast<int>(k);
        bestProbability.Multiply(beliefs[k]);
        if (int r = network.GetNode(mapNodes[i])->GetValue()->SetEvidence(current[i])) return r;
    }
    best = current;
    Scaled p = bestProbability;
    const Scaled one;
    double t = tuning.Tinit;
    int reheatCount = 0, stopCount = 0;
    const std::uint64_t workBefore = WorkOf(network);

    while (stopCount <= tuning.iStopSteps) {
        bool noneAccepted = true, noImprovement = true;
        history.clear();
        for (int cycle = 0; cycle < tuning.numCycle; ++cycle) {
            for (std::size_t i = 0; i < n; ++i) {
                if (int r = SetStepOutcome(network, mapNodes[i], -1)) return r;
                if (int r = Beliefs(network, mapNodes[i], beliefs)) return r;
                const int c = current[i];
                double u = random.Next();
                if (u == 0.0) u = 1e-11;
                if (u == 1.0) u = 1 - 1e-11;
                double others = 0.0;
                for (std::size_t k = 0; k < beliefs.size(); ++k)
                    if (static_cast<int>(k) != c) others += beliefs[k];
                int candidate = -1;
                double running = 0.0;
                for (std::size_t k = 0; k < beliefs.size() && candidate < 0; ++k) {
                    if (static_cast<int>(k) == c) continue;
                    running += beliefs[k];
                    if (u * others <= running) candidate = static_cast<int>(k);
                }
                bool accepted = false;
                // An outcome of probability 0 given the rest is never taken: the chain would
                // stand on an impossible assignment.
                if (candidate >= 0 && beliefs[static_cast<std::size_t>(candidate)] > 0.0) {
                    const double ratio = beliefs[static_cast<std::size_t>(candidate)] /
                                         beliefs[static_cast<std::size_t>(c)];
                    if (ratio >= kImprovement) {
                        accepted = true;
                    } else {
                        const double a = std::pow(ratio, 1.0 / t - 1.0);
                        accepted = TrialSucceeds(random.Next(), a);
                    }
                    if (accepted) {
                        current[i] = candidate;
                        p.Multiply(ratio);
                        noneAccepted = false;
                    }
                }
                if (accepted || !noneAccepted) {
                    if (Greater(p, one)) p = one;
                    if (RatioOf(p, bestProbability) > kImprovement) {
                        bestProbability = p;
                        best = current;
                        noImprovement = false;
                    }
                }
                history.push_back(p);
                if (int r = SetStepOutcome(network, mapNodes[i], current[i])) return r;
            }
        }
        ++passes;
        if (noImprovement) {
            ++reheatCount;
            ++stopCount;
        } else {
            reheatCount = stopCount = 0;
        }
        const Scaled heat = ScaledHeatCapacity(history, t);
        if (Greater(heat, maxHeatCapacity)) {
            maxHeatCapacity = heat;
            temperatureAtMax = t;
        }
        t *= tuning.speed;
        if (reheatCount >= tuning.iReheatSteps) {
            t = (1.0 - bestProbability.Value()) * tuning.kReheat + temperatureAtMax;
            if (t >= 1.0) t = tuning.Tinit;
            reheatCount = 0;
            reheats.push_back(passes);
        }
    }
    evidenceWorkTotal = WorkOf(network) - workBefore;
    return 0;
}

int QNL_network::AnnealedMAP(const std::vector<std::pair<int, int>>& evidence,
                             const std::vector<int>& mapNodes, std::vector<int>& outcomes,
                             double& probability, double& probabilityOfEvidence, int seed) {
    try {
        std::vector<int> nodes, states;
        for (const auto& [node, outcome] : evidence) {
            nodes.push_back(node);
            states.push_back(outcome);
        }
        std::vector<int> assignment(mapNodes.size(), 0);
        QNL_network working;
        if (int r = working.CopyNodes(*this)) return r;
        QNL_annealedMAP search;
        double p = 0.0, pe = 0.0;
        const int result = search.Run(working, mapNodes, assignment, nodes, states, p, pe, seed,
                                      annealedMapTuning);
        if (result != 0) return result;
        outcomes = assignment;
        probability = p;
        probabilityOfEvidence = pe;
        return 0;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42, "Not enough memory for annealed MAP");
    }
}
