#include "inference/bayesian_algorithms.h"

#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

// Tables whose entries reach down to 1e-300: products of a few entries fall below the smallest
// double although the posteriors they give are ordinary numbers. Every exact algorithm must
// answer as enumeration in logarithms does.
namespace {

const int kExact[] = {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_ELIMINATION_JOIN_TREE,
                      QNL_ALG_BN_RELEVANCE_DECOMPOSITION,
                      QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED, QNL_ALG_BN_POLYTREE};

// The exact answer, every joint configuration weighed by the sum of the logarithms of its
// entries and the sums brought together relative to the largest, so nothing underflows.
struct LogEnumeration {
    bool possible = false;
    double log10Evidence = -std::numeric_limits<double>::infinity();
    // By node handle.
    std::vector<std::vector<double>> posteriors;
};

LogEnumeration EnumerateInLogs(const QNL_network& network) {
    struct Variable {
        int handle, outcomes, evidence;
        std::vector<int> parents;
        const QNL_Dmatrix* table;
    };
    std::vector<Variable> variables;
    std::vector<int> positionOf(static_cast<std::size_t>(network.GetTableSize()), -1);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_node* node = network.GetNode(h);
        const QNL_nodeValue* value = node->GetValue();
        positionOf[static_cast<std::size_t>(h)] = static_cast<int>(variables.size());
        variables.push_back({h,
                             node->GetDefinition()->GetNumberOfOutcomes(),
                             value->HasEvidence() ? value->GetEvidence() : -1,
                             {},
                             node->GetDefinition()->GetMatrix()});
        const QNL_intArray& parents = network.GetParents(h);
        for (int i = 0; i < parents.GetCount(); ++i)
            variables.back().parents.push_back(positionOf[static_cast<std::size_t>(parents[i])]);
    }
    // Configurations of the unobserved variables, the observed ones held at their findings.
    std::vector<int> x(variables.size(), 0);
    for (std::size_t i = 0; i < variables.size(); ++i)
        x[i] = std::max(variables[i].evidence, 0);
    auto logWeight = [&] {
        double sum = 0.0;
        for (std::size_t i = 0; i < variables.size(); ++i) {
            const Variable& v = variables[i];
            int cell = x[i] * v.table->GetMultiplier(static_cast<int>(v.parents.size()));
            for (std::size_t k = 0; k < v.parents.size(); ++k)
                cell += x[static_cast<std::size_t>(v.parents[k])] *
                        v.table->GetMultiplier(static_cast<int>(k));
            sum += std::log(v.table->Subscript(cell));
        }
        return sum;
    };
    auto next = [&] {
        for (std::size_t i = variables.size(); i-- > 0;) {
            if (variables[i].evidence >= 0) continue;
            if (++x[i] < variables[i].outcomes) return true;
            x[i] = 0;
        }
        return false;
    };
    std::vector<double> weights;
    std::vector<std::vector<int>> states;
    do {
        weights.push_back(logWeight());
        states.push_back(x);
    } while (next());
    LogEnumeration result;
    const double top = *std::max_element(weights.begin(), weights.end());
    if (!(top > -std::numeric_limits<double>::infinity())) return result;
    result.possible = true;
    result.posteriors.resize(static_cast<std::size_t>(network.GetTableSize()));
    for (const Variable& v : variables)
        result.posteriors[static_cast<std::size_t>(v.handle)].assign(
            static_cast<std::size_t>(v.outcomes), 0.0);
    double total = 0.0;
    for (std::size_t c = 0; c < weights.size(); ++c) {
        const double w = std::exp(weights[c] - top);
        total += w;
        for (std::size_t i = 0; i < variables.size(); ++i)
            result.posteriors[static_cast<std::size_t>(variables[i].handle)]
                             [static_cast<std::size_t>(states[c][i])] += w;
    }
    for (std::vector<double>& posterior : result.posteriors)
        for (double& p : posterior)
            p /= total;
    result.log10Evidence = (top + std::log(total)) / std::log(10.0);
    return result;
}

// A node of `outcomes` outcomes and the given table (parents slowest, in order).
int AddNode(QNL_network& network, const std::string& id, int outcomes,
            const std::vector<int>& parents, const std::vector<double>& table) {
    const int handle = network.AddNode(QNL_TYPE_CPT, id.c_str());
    EXPECT_GE(handle, 0) << id;
    EXPECT_EQ(network.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(outcomes), 0) << id;
    for (int parent : parents)
        EXPECT_EQ(network.AddArc(parent, handle), 0) << id;
    EXPECT_EQ(network.GetNode(handle)->GetDefinition()->SetDefinition(quarn_test::ArrayOf(table)),
              0)
        << id;
    return handle;
}

void Observe(QNL_network& network, int handle, int outcome) {
    ASSERT_EQ(quarn_test::ValueOf(network, handle).SetEvidence(outcome), 0) << handle;
}

// The probability of the evidence by clustering: the double itself while one holds it,
// otherwise 0 and the message that gives its size; 0 and no message for impossible evidence.
void ExpectProbabilityOfEvidence(QNL_network& network, const LogEnumeration& truth,
                                 const std::string& label, bool chainRule = false) {
    QNL_errorHandler::Instance().Flush();
    double got = -1.0;
    ASSERT_TRUE(network.CalcPropEvidence(got, chainRule)) << label;
    const std::vector<std::string> messages = quarn_test::Messages();
    const double want = truth.possible ? std::pow(10.0, truth.log10Evidence) : 0.0;
    if (!truth.possible || want > 0.0) {
        EXPECT_NEAR(got, want, want * 1e-9 + 1e-323) << label;
        EXPECT_TRUE(messages.empty()) << label << ": " << messages.front();
        return;
    }
    EXPECT_EQ(got, 0.0) << label;
    ASSERT_EQ(messages.size(), 1u) << label;
    EXPECT_EQ(messages[0].rfind("-2 Probability of evidence underflowed", 0), 0u) << messages[0];
    EXPECT_NEAR(quarn_test::LoggedLog10(messages[0]), truth.log10Evidence, 0.01) << label;
}

// Updates under the algorithm and holds every unobserved node to the enumerated posterior
// (every target, when there are targets) within 1e-9. Under impossible evidence only that no
// value holds a NaN: which parts stay valid when the contradiction lies in another part of the
// reduced network is the update's business (the polytree algorithm is not asked there).
void ExpectBeliefs(QNL_network& network, int algorithm, const LogEnumeration& truth,
                   const std::string& label) {
    if (algorithm == QNL_ALG_BN_POLYTREE && (!truth.possible || network.IsPolytree() != 1)) return;
    const std::string where = label + ", algorithm " + std::to_string(algorithm);
    network.SetDefaultBNAlgorithm(algorithm);
    network.InvalidateValues();
    ASSERT_EQ(network.UpdateBeliefs(), 0) << where;
    if (!truth.possible) {
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            for (double b : quarn_test::Beliefs(network, h))
                EXPECT_FALSE(std::isnan(b)) << where << " node " << h;
        return;
    }
    std::vector<int> asked = quarn_test::Targets(network);
    if (asked.empty())
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            asked.push_back(h);
    for (int h : asked) {
        if (quarn_test::ValueOf(network, h).IsObserved()) continue;
        const std::string node = where + " node " + std::to_string(h);
        ASSERT_TRUE(quarn_test::ValueOf(network, h).IsValueValid()) << node;
        quarn_test::ExpectNear(quarn_test::Beliefs(network, h),
                               truth.posteriors[static_cast<std::size_t>(h)], 1e-9, node);
    }
}

void ExpectEveryExactAlgorithm(QNL_network& network, const std::string& label) {
    const LogEnumeration truth = EnumerateInLogs(network);
    for (int algorithm : kExact)
        ExpectBeliefs(network, algorithm, truth, label);
    ExpectProbabilityOfEvidence(network, truth, label + ", clustering");
}

} // namespace

// A root of prior (1e-280, 1) and two observed children: the evidence weighs 1e-380 against
// 1e-500, so the unlikely root outcome is certain, and the probability of the evidence is
// 1e-380 (logged, as no double holds it). Each product of two entries is already below the
// smallest double.
TEST(ExtremeTables, ProductsBelowTheSmallestDoubleKeepTheLikelierOutcome) {
    QNL_network network;
    const int a = AddNode(network, "A", 2, {}, {1e-280, 1.0});
    const int b = AddNode(network, "B", 2, {a}, {1e-100, 1.0, 1e-250, 1.0});
    const int c = AddNode(network, "C", 2, {a}, {1.0, 0.0, 1e-250, 1.0});
    Observe(network, b, 0);
    Observe(network, c, 0);
    const LogEnumeration truth = EnumerateInLogs(network);
    ASSERT_NEAR(truth.log10Evidence, -380.0, 1e-9);
    ASSERT_EQ(truth.posteriors[static_cast<std::size_t>(a)][0], 1.0);
    ExpectEveryExactAlgorithm(network, "root and two children");
}

// A root of three outcomes and four observed children, each finding ruling out one of the
// first two outcomes by 1e-300: the first two share the posterior equally (the evidence is
// 1e-600) and the third keeps 5e-151. Any order of products drops a share below the smallest
// double before another finding brings it back; the tree is also a polytree.
TEST(ExtremeTables, OutcomesRuledOutByOneFindingAndBackByAnotherKeepTheirShare) {
    QNL_network network;
    const int a = AddNode(network, "A", 3, {}, {0.5, 0.5, 1e-150});
    const double rows[4][3] = {
        {1.0, 1e-300, 1e-300}, {1.0, 1e-300, 1e-300}, {1e-300, 1.0, 0.5}, {1e-300, 1.0, 1.0}};
    for (int i = 0; i < 4; ++i) {
        std::vector<double> table;
        for (int k = 0; k < 3; ++k)
            table.insert(table.end(), {rows[i][k], 1.0 - rows[i][k]});
        Observe(network, AddNode(network, "F" + std::to_string(i), 2, {a}, table), 0);
    }
    const LogEnumeration truth = EnumerateInLogs(network);
    ASSERT_NEAR(truth.log10Evidence, -600.0, 1e-9);
    quarn_test::ExpectNear(truth.posteriors[static_cast<std::size_t>(a)], {0.5, 0.5, 5e-151}, 1e-15,
                           "enumeration");
    ExpectEveryExactAlgorithm(network, "star");
    // The third outcome's share to its own precision, not only next to the other two.
    network.SetDefaultBNAlgorithm(QNL_ALG_BN_CLUSTERING);
    network.InvalidateValues();
    ASSERT_EQ(network.UpdateBeliefs(), 0);
    EXPECT_NEAR(quarn_test::Belief(network, a, 2), 5e-151, 5e-160);
}

// An unobserved root with one child is summed into the child's table before any tree is
// built. Here every product in that sum falls below the smallest double at the observed
// outcome, which would leave the evidence looking impossible; the other parent's posterior is
// (1/4, 3/4).
TEST(ExtremeTables, ARootSummedIntoItsChildKeepsTheEvidencePossible) {
    QNL_network network;
    const int r = AddNode(network, "R", 3, {}, {1e-200, 1e-200, 1.0 - 2e-200});
    const int s = AddNode(network, "S", 2, {}, {0.5, 0.5});
    // P(X = 0 | R, S), R slowest: 1e-200, 3e-200, 1e-210, 1e-230, 0, 0.
    const int x = AddNode(network, "X", 2, {r, s},
                          {1e-200, 1.0, 3e-200, 1.0, 1e-210, 1.0, 1e-230, 1.0, 0.0, 1.0, 0.0, 1.0});
    Observe(network, x, 0);
    ASSERT_EQ(network.SetTarget(s), 0);
    const LogEnumeration truth = EnumerateInLogs(network);
    ASSERT_NEAR(truth.log10Evidence, std::log10(2.0) - 400.0, 1e-9);
    quarn_test::ExpectNear(truth.posteriors[static_cast<std::size_t>(s)], {0.25, 0.75}, 1e-9,
                           "enumeration");
    ExpectEveryExactAlgorithm(network, "root summed out");
}

// The chain rule reads each finding's posterior given those before it as a double. Here one
// such posterior is 1e-400, read as 0 as an impossible finding's is, though the evidence is
// possible: the product must go on, with the message that gives its size, and only evidence
// that is impossible (through a hidden node, or through a node's own table, findings entered
// without checks) gives 0 without it. The findings are as they were afterwards.
TEST(ExtremeTables, ChainRuleTellsAFindingBelowTheSmallestDoubleFromAnImpossibleOne) {
    for (bool third : {false, true}) {
        const std::string label = third ? "and a finding after it" : "one posterior below";
        QNL_network network;
        const int a = AddNode(network, "A", 3, {}, {0.4, 0.3, 0.3});
        // C = 0 leaves A = 0 at 1e-200 of the rest; B = 0 rules out A = 1 and A = 2 and keeps
        // A = 0 at 1e-200: given C = 0, B = 0 has probability about 7e-401.
        const int c = AddNode(network, "C", 2, {a}, {1e-200, 1.0, 1.0, 0.0, 1.0, 0.0});
        const int b = AddNode(network, "B", 2, {a}, {1e-200, 1.0, 0.0, 1.0, 0.0, 1.0});
        Observe(network, c, 0);
        Observe(network, b, 0);
        if (third)
            Observe(network, AddNode(network, "D", 2, {a}, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5}), 1);
        const LogEnumeration truth = EnumerateInLogs(network);
        ASSERT_NEAR(truth.log10Evidence, std::log10(third ? 0.2 : 0.4) - 400.0, 1e-9) << label;
        ExpectProbabilityOfEvidence(network, truth, label, true);
        EXPECT_EQ(quarn_test::ValueOf(network, c).GetEvidence(), 0) << label;
        EXPECT_EQ(quarn_test::ValueOf(network, b).GetEvidence(), 0) << label;
    }
    for (bool throughTable : {false, true}) {
        const std::string label = throughTable ? "through a table" : "through a hidden node";
        QNL_network network;
        std::vector<int> findings;
        if (throughTable) {
            // B = 1 is ruled out by B's own table once A = 0 is entered before it.
            const int a = AddNode(network, "A", 2, {}, {0.5, 0.5});
            findings = {AddNode(network, "B", 2, {a}, {1.0, 0.0, 0.5, 0.5}), a};
            network.SetNotificationControl(0);
            Observe(network, findings[0], 1);
            Observe(network, findings[1], 0);
        } else {
            // Each child rules out one outcome of A, which none meets then.
            const int a = AddNode(network, "A", 3, {}, {0.4, 0.3, 0.3});
            for (int k = 0; k < 3; ++k) {
                std::vector<double> table(6, 0.5);
                table[static_cast<std::size_t>(2 * k)] = 0.0;
                table[static_cast<std::size_t>(2 * k + 1)] = 1.0;
                findings.push_back(AddNode(network, "C" + std::to_string(k), 2, {a}, table));
                Observe(network, findings.back(), 0);
            }
        }
        const LogEnumeration truth = EnumerateInLogs(network);
        ASSERT_FALSE(truth.possible) << label;
        ExpectProbabilityOfEvidence(network, truth, label, true);
        for (int h : findings)
            EXPECT_TRUE(quarn_test::ValueOf(network, h).HasEvidence()) << label;
    }
}

// Small random networks whose every column is extreme (entries from 1 down to 1e-300, a few
// exact zeros on some rounds), findings at random outcomes so that the evidence is rare or
// impossible; every third network is thinned to a forest so that the polytree algorithm
// takes part. Beliefs and the probability of the evidence against enumeration in logarithms.
TEST(ExtremeTables, RandomNetworksAgreeWithEnumerationInLogarithms) {
    int rare = 0, impossible = 0, roundedToOne = 0;
    for (int round : quarn_test::RoundsUpTo(1200)) {
        const std::string label = "round " + std::to_string(round);
        SCOPED_TRACE(label);
        quarn_test::TestRandom random(7600 + static_cast<std::uint64_t>(round));
        QNL_network network;
        const int nodes = 5 + round % 6;
        const bool zeros = round % 4 == 3;
        std::vector<int> handles;
        for (int i = 0; i < nodes; ++i) {
            const int handle = network.AddNode(QNL_TYPE_CPT, ("N" + std::to_string(i)).c_str());
            ASSERT_GE(handle, 0);
            ASSERT_EQ(network.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(
                          random.Below(3) ? 3 : 2),
                      0);
            std::vector<int> candidates = handles;
            // Every other network hangs most nodes below the first, where findings meet.
            if (round % 2 == 1 && i > 0 && random.Below(4) != 0) {
                ASSERT_EQ(network.AddArc(handles[0], handle), 0);
                candidates.erase(candidates.begin());
            }
            for (int k = random.Below(std::min(i, 3) + 1); k > 0 && !candidates.empty(); --k) {
                const int pick = random.Below(static_cast<int>(candidates.size()));
                ASSERT_EQ(network.AddArc(candidates[static_cast<std::size_t>(pick)], handle), 0);
                candidates.erase(candidates.begin() + pick);
            }
            handles.push_back(handle);
        }
        if (round % 3 == 0) quarn_test::ThinToForest(network);
        for (int handle : handles) {
            QNL_nodeDefinition* definition = network.GetNode(handle)->GetDefinition();
            const int n = definition->GetNumberOfOutcomes();
            std::vector<double> table(static_cast<std::size_t>(definition->GetMatrix()->GetSize()));
            for (std::size_t column = 0; column < table.size();
                 column += static_cast<std::size_t>(n)) {
                // One outcome takes nearly all; one other keeps at least 1e-15, or, in every
                // other column of some networks without zeros, less than 1e-17, so that the first
                // is held as exactly 1.0 though the row is not certain; the rest reach down to
                // 1e-300.
                const int mode = random.Below(n);
                const int near = (mode + 1 + random.Below(n - 1)) % n;
                const bool roundsToOne =
                    !zeros && round % 5 == 4 && column / static_cast<std::size_t>(n) % 2 == 0;
                const bool certain = zeros && random.Below(10) == 0;
                double rest = 0.0;
                for (int k = 0; k < n; ++k) {
                    if (k == mode) continue;
                    double& cell = table[column + static_cast<std::size_t>(k)];
                    if (certain || (zeros && k != near && random.Below(6) == 0))
                        cell = 0.0;
                    else if (k == near)
                        cell = std::pow(10.0, roundsToOne ? -17.0 - 283.0 * random.Uniform()
                                                          : -5.0 - 10.0 * random.Uniform());
                    else
                        cell = std::pow(10.0, random.Below(2) ? -100.0 - 200.0 * random.Uniform()
                                                              : -300.0 * random.Uniform());
                    rest += cell;
                }
                table[column + static_cast<std::size_t>(mode)] = 1.0 - rest;
                roundedToOne += !certain && 1.0 - rest == 1.0;
            }
            ASSERT_EQ(definition->SetDefinition(quarn_test::ArrayOf(table)), 0);
        }
        // Findings on half the nodes or more, at a joint draw's outcome or, as often, at the
        // least likely outcome that the draw's parent outcomes leave possible.
        const std::vector<int> draw = quarn_test::ForwardSample(network, random);
        const int findings = (nodes + 1) / 2 + random.Below(nodes / 2);
        std::vector<int> open = handles;
        for (int f = 0; f < findings; ++f) {
            const int pick = random.Below(static_cast<int>(open.size()));
            const int h = open[static_cast<std::size_t>(pick)];
            open.erase(open.begin() + pick);
            int outcome = draw[static_cast<std::size_t>(h)];
            if (zeros && random.Below(4) == 0) {
                outcome = random.Below(network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes());
            } else if (random.Below(4) != 0) {
                const QNL_Dmatrix* table = network.GetNode(h)->GetDefinition()->GetMatrix();
                const QNL_intArray& parents = network.GetParents(h);
                int column = 0;
                for (int k = 0; k < parents.GetCount(); ++k)
                    column += draw[static_cast<std::size_t>(parents[k])] * table->GetMultiplier(k);
                for (int k = 0; k < table->GetSizeOfDimension(parents.GetCount()); ++k) {
                    const double p = table->Subscript(column + k);
                    if (p > 0.0 && p < table->Subscript(column + outcome)) outcome = k;
                }
            }
            // A finding the earlier ones rule out is refused: that is not what is tested here.
            quarn_test::ValueOf(network, h).SetEvidence(outcome);
        }
        QNL_errorHandler::Instance().Flush();
        const LogEnumeration truth = EnumerateInLogs(network);
        if (truth.possible && truth.log10Evidence < -307.0) ++rare;
        if (!truth.possible) ++impossible;
        ExpectEveryExactAlgorithm(network, label);
    }
    // The mix is what the test is about: a third of the evidence below the smallest double.
    EXPECT_GT(rare, 300);
    EXPECT_GT(impossible, 6);
    EXPECT_GT(roundedToOne, 300);
}
