#include "definitions/node_value.h"
#include "inference/bayesian_algorithms.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_diagram.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace quarn_test;

const int kExact[] = {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_POLYTREE, QNL_ALG_BN_ELIMINATION_JOIN_TREE,
                      QNL_ALG_BN_RELEVANCE_DECOMPOSITION,
                      QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED};

int Chance(QNL_network& net, const char* id, const std::vector<int>& parents,
           const std::vector<double>& cells, int outcomes = 2) {
    return AddDefined(net, QNL_TYPE_CPT, id, parents, cells, outcomes);
}

// (finding, implied, outcome) of every node; with findingsOnly, the implied evidence left out.
std::vector<std::vector<int>> EvidenceOf(const QNL_network& net, bool findingsOnly = false) {
    std::vector<std::vector<int>> out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue& value = ValueOf(net, h);
        if (findingsOnly && !value.HasEvidence()) {
            out.push_back({0, 0, -1});
            continue;
        }
        out.push_back({value.HasEvidence() ? 1 : 0, value.HasPropagatedEvidence() ? 1 : 0,
                       value.IsObserved() ? value.GetEvidence() : -1});
    }
    return out;
}

// The probability of the network's findings with the node found at the outcome as well, by
// enumeration of a copy that holds them without a notice.
double WithFinding(const QNL_network& net, int node, int outcome) {
    QNL_network probe(net);
    probe.SetNotificationControl(0);
    probe.ClearAllPropagatedEvidence();
    QNL_nodeValue& value = ValueOf(probe, node);
    if (value.HasEvidence()) value.ClearEvidence();
    EXPECT_EQ(value.SetEvidence(outcome), 0);
    const Enumeration e = Enumerate(probe);
    EXPECT_TRUE(e.ok) << e.error;
    return e.probabilityOfEvidence;
}

// The answer for the node from only what it requires: the observed nodes (found or implied)
// that a ball bounced from the node under the d-separation rules visits, and the tables of the
// nodes it leaves towards their parents. The posterior depends on nothing else, so a value an
// update computes with any reduction holds it, and where those tables make that evidence
// impossible, no reduction can see it possible. By enumeration of a copy that holds only those
// nodes' outcomes, as findings, and a uniform table at every other node.
Enumeration EnumerateRequired(const QNL_network& net, int node) {
    const std::size_t slots = static_cast<std::size_t>(net.GetTableSize());
    std::vector<char> top(slots, 0), bottom(slots, 0), required(slots, 0);
    std::vector<std::pair<int, bool>> balls{{node, true}}; // (node, from a child)
    while (!balls.empty()) {
        const auto [h, fromChild] = balls.back();
        balls.pop_back();
        const std::size_t at = static_cast<std::size_t>(h);
        const bool observed = ValueOf(net, h).IsObserved();
        required[at] = observed ? 1 : required[at];
        const QNL_intArray& parents = net.GetParents(h);
        const QNL_intArray& children = net.GetChildren(h);
        if ((fromChild ? !observed : observed) && !top[at]) {
            top[at] = 1;
            for (int k = 0; k < parents.GetCount(); ++k)
                balls.emplace_back(parents[k], true);
        }
        if (!observed && !bottom[at]) {
            bottom[at] = 1;
            for (int k = 0; k < children.GetCount(); ++k)
                balls.emplace_back(children[k], false);
        }
    }
    QNL_network probe(net);
    probe.SetNotificationControl(0);
    for (int h = probe.GetFirstNode(); h >= 0; h = probe.GetNextNode(h)) {
        QNL_nodeDefinition* definition = probe.GetNode(h)->GetDefinition();
        if (!top[static_cast<std::size_t>(h)]) {
            const std::vector<double> uniform(static_cast<std::size_t>(definition->GetSize()),
                                              1.0 / definition->GetNumberOfOutcomes());
            EXPECT_EQ(definition->SetDefinition(ArrayOf(uniform)), 0);
        }
        QNL_nodeValue& value = ValueOf(probe, h);
        if (!value.IsObserved()) continue;
        const int outcome = value.GetEvidence();
        if (value.HasEvidence()) value.ClearEvidence();
        if (value.HasPropagatedEvidence()) value.ClearPropagatedEvidence();
        if (required[static_cast<std::size_t>(h)]) {
            EXPECT_EQ(value.SetEvidence(outcome), 0);
        }
    }
    return Enumerate(probe);
}

// Whether some cell of the node's table at its finding, and at the findings its parents hold,
// is above 0: read cell by cell, the node's own outcome last.
bool FindingPossibleGivenParentFindings(const QNL_network& net, int node) {
    const QNL_Dmatrix* table = net.GetNode(node)->GetDefinition()->GetMatrix();
    const QNL_intArray& parents = net.GetParents(node);
    const int rank = table->GetNumberOfDimensions();
    std::vector<int> at(static_cast<std::size_t>(rank), 0);
    for (int cell = 0; cell < table->GetSize(); ++cell) {
        bool consistent = at.back() == ValueOf(net, node).GetEvidence();
        for (int i = 0; consistent && i < parents.GetCount(); ++i) {
            const QNL_nodeValue& parent = ValueOf(net, parents[i]);
            consistent = !parent.HasEvidence() || parent.GetEvidence() == at[i];
        }
        if (consistent && table->Subscript(cell) > 0.0) return true;
        for (int d = rank - 1; d >= 0 && ++at[d] == table->GetSizeOfDimension(d); --d)
            at[d] = 0;
    }
    return false;
}

// A prior of (0, 1) and B | A = 0, 1 = (0.457, 0.543), (1, 0): B = 1 leaves A only at 0,
// which has probability 0.
TEST(ImpossibleEvidence, AFindingThatImpliesAnOutcomeOfProbabilityZeroIsRefused) {
    for (const int algorithm : kExact) {
        const std::string label = "algorithm " + std::to_string(algorithm);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        const int a = Chance(net, "A", {}, {0.0, 1.0});
        const int b = Chance(net, "B", {a}, {0.457, 0.543, 1.0, 0.0});
        const int c = Chance(net, "C", {a}, {0.3, 0.7, 0.6, 0.4});
        net.SetDefaultBNAlgorithm(algorithm);
        EXPECT_EQ(ValueOf(net, b).SetEvidence(1), -26) << label;
        EXPECT_EQ(LastMessage(), "ERROR: conficting evidence between nodes [A] and [B]") << label;
        for (int h : {a, b, c})
            EXPECT_FALSE(ValueOf(net, h).IsObserved()) << label << " node " << h;
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        ExpectOracle(net, label);

        // Held without a notice, only the update can tell: nothing is valid under it. The
        // polytree spreads impossible evidence it cannot see locally, as it always has.
        if (algorithm == QNL_ALG_BN_POLYTREE) continue;
        net.SetNotificationControl(0);
        ASSERT_EQ(ValueOf(net, b).SetEvidence(1), 0) << label;
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        ExpectNoValidBeliefs(net, label + " held quietly");
    }
    QNL_errorHandler::Instance().Flush();
}

// N1 = 2 is impossible where N0 = 1: entered in either order, the second finding is refused,
// and held without a notice the two leave nothing valid under any exact algorithm.
TEST(ImpossibleEvidence, FindingsOfProbabilityZeroTogetherAreRefusedInEitherOrder) {
    for (const int algorithm : kExact) {
        for (const bool parentFirst : {false, true}) {
            const std::string label = "algorithm " + std::to_string(algorithm) +
                                      (parentFirst ? ", N0 first" : ", N1 first");
            QNL_errorHandler::Instance().Flush();
            QNL_network net;
            const int n0 = Chance(net, "N0", {}, {0.4669, 0.1162, 0.4169}, 3);
            const int n1 = Chance(net, "N1", {n0},
                                  {0.43, 0.1, 0.47, 0.378, 0.622, 0.0, 0.416, 0.212, 0.372}, 3);
            const int n2 = Chance(net, "N2", {n0}, {0.3666, 0.6334, 1.0, 0.0, 1.0, 0.0});
            net.SetDefaultBNAlgorithm(algorithm);
            const int first = parentFirst ? n0 : n1, second = parentFirst ? n1 : n0;
            const int firstOutcome = parentFirst ? 1 : 2, secondOutcome = parentFirst ? 2 : 1;
            ASSERT_EQ(ValueOf(net, first).SetEvidence(firstOutcome), 0) << label;
            const auto before = EvidenceOf(net);
            EXPECT_EQ(ValueOf(net, second).SetEvidence(secondOutcome), parentFirst ? -2 : -26)
                << label;
            EXPECT_EQ(LastMessage(), parentFirst
                                         ? "Outcome [State2] of node [N1] is impossible"
                                         : "ERROR: conficting evidence between nodes [N1] and [N0]")
                << label;
            EXPECT_EQ(EvidenceOf(net), before) << label;
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            ExpectOracle(net, label);

            net.SetNotificationControl(0);
            ASSERT_EQ(ValueOf(net, second).SetEvidence(secondOutcome), 0) << label;
            net.ClearAllPropagatedEvidence();
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            EXPECT_FALSE(ValueOf(net, n2).IsValueValid()) << label << " held quietly";
        }
    }
    QNL_errorHandler::Instance().Flush();
}

// A has three outcomes and B | A = 0 is (1, 0): B = 1 leaves A free between 1 and 2, so it
// implies nothing, and A = 0 then rules out what is observed below it. Refused alike whether
// the network propagates the finding (which meets B's slice) or not (which checks the children
// it observed), with nothing changed; A = 1 is taken after either.
TEST(ImpossibleEvidence, AFindingThatRulesOutAnObservedChildIsRefusedWithOrWithoutPropagation) {
    for (const bool propagating : {true, false}) {
        const std::string label = propagating ? "propagating" : "not propagating";
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        const int a = Chance(net, "A", {}, {0.2, 0.3, 0.5}, 3);
        const int b = Chance(net, "B", {a}, {1.0, 0.0, 0.5, 0.5, 0.4, 0.6});
        if (!propagating)
            net.SetNotificationControl(net.GetNotificationControl() &
                                       ~QNL_network::NOTIFY_PROPAGATE_EVIDENCE);
        ASSERT_EQ(ValueOf(net, b).SetEvidence(1), 0) << label;
        const auto before = EvidenceOf(net);
        EXPECT_EQ(ValueOf(net, a).SetEvidence(0), -26) << label;
        EXPECT_EQ(LastMessage(), "ERROR: conficting evidence between nodes [B] and [A]") << label;
        EXPECT_EQ(EvidenceOf(net), before) << label;
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        ExpectOracle(net, label);
        ASSERT_EQ(ValueOf(net, a).SetEvidence(1), 0) << label;
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        ExpectOracle(net, label + " after A = 1");
    }
    QNL_errorHandler::Instance().Flush();
}

// B | A = 0 is (1 - d, d), held as (1, d): B = 1 stays possible after A = 0, A = 0 after
// B = 1, and B's belief given A = 0 keeps its d, also where no notice derived anything.
TEST(RoundedCertainty, ARowThatRoundsToOneImpliesNothing) {
    for (const double d : {1e-17, 1e-280}) {
        for (const int algorithm : kExact) {
            for (const bool notices : {true, false}) {
                const std::string label = "d " + std::to_string(std::log10(d)) + " algorithm " +
                                          std::to_string(algorithm) +
                                          (notices ? "" : ", no notices");
                QNL_network net;
                const int a = Chance(net, "A", {}, {0.5, 0.5});
                const int b = Chance(net, "B", {a}, {1.0 - d, d, 0.5, 0.5});
                const int c = Chance(net, "C", {b}, {0.3, 0.7, 0.6, 0.4});
                net.SetDefaultBNAlgorithm(algorithm);
                if (!notices) net.SetNotificationControl(0);
                ASSERT_EQ(ValueOf(net, a).SetEvidence(0), 0) << label;
                EXPECT_FALSE(ValueOf(net, b).IsObserved()) << label;
                ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
                ASSERT_TRUE(ValueOf(net, b).IsValueValid()) << label;
                EXPECT_NEAR(Belief(net, b, 1) / d, 1.0, 1e-12) << label;
                EXPECT_NEAR(Belief(net, b, 0), 1.0, 1e-15) << label;
                EXPECT_TRUE(ValueOf(net, c).IsValueValid()) << label;

                EXPECT_EQ(ValueOf(net, b).SetEvidence(1), 0) << label;
                ASSERT_EQ(ValueOf(net, a).ClearEvidence(), 0) << label;
                EXPECT_EQ(ValueOf(net, a).SetEvidence(0), 0) << label;
                ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
                EXPECT_TRUE(ValueOf(net, c).IsValueValid()) << label;
                ExpectNear(Beliefs(net, c), {0.6, 0.4}, 1e-15, label);
            }
        }
    }
    QNL_errorHandler::Instance().Flush();
}

// Tables with zeros, certain columns and columns that round to certainty ((1 - d, d) held as
// (1, d)), findings at random outcomes set, replaced and cleared in random order. Against
// enumeration: a finding is refused only where the findings together have probability 0, and
// no finding is left that its table rules out given its parents' findings, whatever the
// order; an implied outcome is certain; an update gives what enumeration gives,
// zeros where it has zeros, and under findings of probability 0 leaves valid only values whose
// required evidence is possible, holding what enumeration gives for it.
TEST(ImpossibleEvidence, RandomFindingsAreRefusedOnlyWhenImpossible) {
    int refused = 0, impossibleUpdates = 0, rounded = 0;
    for (const int round : RoundsUpTo(300)) {
        QNL_errorHandler::Instance().Flush();
        RandomNetworkSpec spec = RoundSpec(7500, round);
        spec.nodes = 2 + round % 7;
        spec.maxOutcomes = 3;
        QNL_network net;
        const std::vector<int> nodes = BuildRandomNetwork(net, spec);
        TestRandom random(spec.seed * 31 + 5);
        bool tinyUsed = false;
        for (int h : nodes) {
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            const int n = definition->GetNumberOfOutcomes();
            std::vector<double> cells = ValuesOf(definition);
            for (std::size_t start = 0; start < cells.size();
                 start += static_cast<std::size_t>(n)) {
                double* column = cells.data() + start;
                const double kind = random.Uniform();
                const int k = random.Below(n);
                if (kind < 0.25) {
                    double sum = 0.0;
                    for (int j = 0; j < n; ++j)
                        sum += j == k ? 0.0 : column[j];
                    for (int j = 0; j < n && sum > 0.0; ++j)
                        column[j] = j == k ? 0.0 : column[j] / sum;
                } else if (kind < 0.45) {
                    // Enumeration multiplies in doubles: one 1e-150 and eight 1e-17 stay in range.
                    const double d = tinyUsed || random.Below(4) != 0 ? 1e-17 : 1e-150;
                    tinyUsed = tinyUsed || d < 1e-100;
                    for (int j = 0; j < n; ++j)
                        column[j] = 0.0;
                    column[k] = 1.0;
                    column[(k + 1 + random.Below(n - 1)) % n] = d;
                    ++rounded;
                } else if (kind < 0.55) {
                    for (int j = 0; j < n; ++j)
                        column[j] = j == k ? 1.0 : 0.0;
                }
            }
            ASSERT_EQ(definition->SetDefinition(ArrayOf(cells)), 0);
        }
        const std::vector<int> algorithms =
            net.IsPolytree() == 1 ? std::vector<int>(std::begin(kExact), std::end(kExact))
                                  : std::vector<int>{0, 10, 11, 12};
        net.SetDefaultBNAlgorithm(algorithms[static_cast<std::size_t>(round) % algorithms.size()]);
        const bool polytree = net.GetDefaultBNAlgorithm() == QNL_ALG_BN_POLYTREE;
        for (int step = 0; step < 12; ++step) {
            const std::string label = "round " + std::to_string(round) + " step " +
                                      std::to_string(step) + " algorithm " +
                                      std::to_string(net.GetDefaultBNAlgorithm());
            const int node =
                nodes[static_cast<std::size_t>(random.Below(static_cast<int>(nodes.size())))];
            QNL_nodeValue& value = ValueOf(net, node);
            if (value.HasEvidence() && random.Below(3) == 0) {
                ASSERT_EQ(value.ClearEvidence(), 0) << label;
            } else {
                const int outcome =
                    random.Below(net.GetNode(node)->GetDefinition()->GetNumberOfOutcomes());
                const double p = WithFinding(net, node, outcome);
                const auto before = EvidenceOf(net, true);
                const int result = value.SetEvidence(outcome);
                if (p > 0.0) {
                    ASSERT_EQ(result, 0)
                        << label << ": possible finding refused: " << LastMessage();
                } else if (result != 0) {
                    ++refused;
                    EXPECT_TRUE(result == -2 || result == -26) << label << " " << result;
                    EXPECT_EQ(EvidenceOf(net, true), before) << label;
                }
            }
            for (int h : nodes) {
                if (ValueOf(net, h).HasEvidence()) {
                    ASSERT_TRUE(FindingPossibleGivenParentFindings(net, h))
                        << label << " node " << h;
                }
            }
            const Enumeration truth = Enumerate(net);
            ASSERT_TRUE(truth.ok) << truth.error;
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label << " " << LastMessage();
            if (truth.probabilityOfEvidence == 0.0) {
                ++impossibleUpdates;
                if (polytree) continue;
                for (int h : nodes) {
                    const QNL_nodeValue& v = ValueOf(net, h);
                    if (v.IsObserved() || !v.IsValueValid()) continue;
                    const Enumeration part = EnumerateRequired(net, h);
                    ASSERT_GT(part.probabilityOfEvidence, 0.0) << label << " node " << h;
                    ExpectNear(Beliefs(net, h), part.Posterior(h), 1e-9,
                               label + " node " + std::to_string(h) + " given what it requires");
                }
                continue;
            }
            for (int h : nodes) {
                const QNL_nodeValue& v = ValueOf(net, h);
                const std::vector<double>& posterior = truth.Posterior(h);
                if (v.HasPropagatedEvidence() && !v.HasEvidence()) {
                    EXPECT_NEAR(posterior[static_cast<std::size_t>(v.GetEvidence())], 1.0, 1e-12)
                        << label << " implied node " << h;
                }
                if (v.IsObserved()) continue;
                ASSERT_TRUE(v.IsValueValid()) << label << " node " << h;
                const std::vector<double> beliefs = Beliefs(net, h);
                ExpectNear(beliefs, posterior, 1e-9, label + " node " + std::to_string(h));
                for (std::size_t k = 0; k < beliefs.size(); ++k)
                    EXPECT_EQ(beliefs[k] == 0.0, posterior[k] == 0.0)
                        << label << " node " << h << " outcome " << k << ": " << beliefs[k]
                        << " against " << posterior[k];
            }
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(impossibleUpdates, 10);
    EXPECT_GT(rounded, 300);
    QNL_errorHandler::Instance().Flush();
}

} // namespace
