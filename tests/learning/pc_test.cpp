#include "learning/pc.h"

#include "learning/count_tree.h"
#include "learning/dataset.h"
#include "learning/learn_model.h"
#include "learning/learning_data.h"
#include "learning/pattern.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using quarn_test::AddBinaryNode;

// Binary nodes v0, v1, ... in order, each given by its parents and P(true | parents) as
// AddBinaryNode takes them.
using BinaryNet = std::vector<std::pair<std::vector<int>, std::vector<double>>>;

// Variable k of the records is node order[k] (node k without an order).
QNL_dataset SampleBinary(const BinaryNet& nodes, int records, std::uint64_t seed,
                         const std::vector<int>& order = {}) {
    QNL_network net;
    std::vector<int> handles;
    for (const auto& [parents, pTrue] : nodes) {
        std::vector<int> parentHandles;
        for (const int p : parents)
            parentHandles.push_back(handles[static_cast<std::size_t>(p)]);
        const std::string id = "v" + std::to_string(handles.size());
        handles.push_back(AddBinaryNode(net, id.c_str(), parentHandles, pTrue));
    }
    std::vector<int> columns = handles;
    for (std::size_t k = 0; k < order.size(); ++k)
        columns[k] = handles[static_cast<std::size_t>(order[k])];
    return quarn_test::SampleDataSet(net, columns, records, 0.0, seed);
}

const BinaryNet kChainNet = {{{}, {0.5}}, {{0}, {0.8, 0.2}}, {{1}, {0.85, 0.15}}};
// v0 -> v2 <- v1.
const BinaryNet kColliderNet = {{{}, {0.5}}, {{}, {0.5}}, {{0, 1}, {0.9, 0.4, 0.5, 0.1}}};

// Records of the binary chain v0 -> v1 -> v2 or the collider v0 -> v2 <- v1, the states named
// or held as raw integer codes that are not state indices.
QNL_dataset Sample(bool collider, int records, std::uint64_t seed, bool named = true) {
    QNL_dataset data = SampleBinary(collider ? kColliderNet : kChainNet, records, seed);
    for (int v = 0; v < 3; ++v) {
        if (named) data.setStateNames(v, {"no", "yes"});
        for (int r = 0; !named && r < records; ++r)
            data.setCell(v, r, QNL_IntCell(10 + 5 * data.getCell(v, r).i));
    }
    return data;
}

// Linear-Gaussian: each variable is the weighted sum of its parents plus unit noise.
QNL_dataset SampleGaussian(const std::vector<std::vector<std::pair<int, double>>>& parents,
                           int records, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const std::size_t n = parents.size();
    std::vector<std::vector<QNL_datasetCell>> cells(n);
    for (int r = 0; r < records; ++r) {
        std::vector<double> value(n);
        for (std::size_t v = 0; v < n; ++v) {
            value[v] = noise(random);
            for (const auto& [p, w] : parents[v])
                value[v] += w * value[p];
            cells[v].push_back(QNL_FloatCell(static_cast<float>(value[v])));
        }
    }
    QNL_dataset data;
    for (std::size_t v = 0; v < n; ++v)
        data.addFloatVariable("c" + std::to_string(v), &cells[v], -1.0f);
    return data;
}

constexpr bool kChain = false, kCollider = true;

QNL_pattern Learn(const QNL_dataset& data, const QNL_pcParams& params = {}) {
    QNL_pc pc;
    pc.params = params;
    QNL_pattern pattern;
    EXPECT_EQ(pc.Learn(data, pattern), 0);
    return pattern;
}

// Marks of (0,1), (1,0), (1,2), (2,1), (0,2), (2,0).
std::vector<int> Marks(const QNL_pattern& p) {
    return {p.GetEdge(0, 1), p.GetEdge(1, 0), p.GetEdge(1, 2),
            p.GetEdge(2, 1), p.GetEdge(0, 2), p.GetEdge(2, 0)};
}

TEST(Pc, GTestPValuesOfTwoByTwoTables) {
    // Independence itself; far from it; a diagonal table, dependence at its strongest though
    // half its cells are empty; a state of x that never occurs, which leaves no degree of
    // freedom and so no evidence against independence.
    for (const auto& [cells, expected, tolerance] :
         std::vector<std::tuple<std::vector<int>, double, double>>{
             {{20, 20, 20, 20}, 1.0, 1e-9},
             {{30, 10, 10, 30}, 4.8e-6, 0.2e-6},
             {{20, 0, 0, 20}, 0.0, 1e-12},
             {{20, 20, 0, 0}, 1.0, 0.0}}) {
        std::vector<int> x, y;
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j)
                for (int k = 0; k < cells[2 * i + j]; ++k) {
                    x.push_back(i);
                    y.push_back(j);
                }
        QNL_adTree counts({x.data(), y.data()}, {2, 2}, static_cast<int>(x.size()));
        EXPECT_NEAR(QNL_pc::TestIndependenceDiscrete(counts, 0, 1, {}), expected, tolerance);
    }
}

TEST(Pc, DiscreteStructuresAreRecovered) {
    struct Case {
        const char* name;
        bool collider, named;
        QNL_pcParams params;
        std::vector<int> marks;
    };
    QNL_pcParams forced, forbidden, shallow, tiers, excluded;
    forced.forcedArcs = {{0, 2}};
    forbidden.forbiddenArcs = {{1, 0}};
    shallow.MaxAdjacency = 0;
    tiers.tiers = {{0, 0}, {1, 1}, {2, 2}};
    excluded.excluded = {1};
    const Case table[] = {
        {"chain", kChain, true, {}, {1, 1, 1, 1, 0, 0}},
        {"chain of raw codes", kChain, false, {}, {1, 1, 1, 1, 0, 0}},
        {"collider", kCollider, true, {}, {0, 0, 2, 0, 2, 0}},
        {"forced arc", kChain, true, forced, {1, 1, 1, 1, 2, 0}},
        {"forbidden arc", kChain, true, forbidden, {0, 0, 1, 1, 0, 0}},
        {"marginal tests only", kChain, true, shallow, {1, 1, 1, 1, 1, 1}},
        {"tiers", kChain, true, tiers, {2, 0, 2, 0, 0, 0}},
        {"middle never conditioned on", kChain, true, excluded, {1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : table)
        EXPECT_EQ(Marks(Learn(Sample(c.collider, 5000, 3, c.named), c.params)), c.marks) << c.name;
}

TEST(Pc, LinearGaussianStructuresAreRecovered) {
    const QNL_pattern chain = Learn(SampleGaussian({{}, {{0, 0.8}}, {{1, 0.8}}}, 5000, 5));
    EXPECT_EQ(Marks(chain), (std::vector<int>{1, 1, 1, 1, 0, 0}));
    const QNL_pattern collider = Learn(SampleGaussian({{}, {}, {{0, 0.7}, {1, -0.7}}}, 5000, 6));
    EXPECT_EQ(collider.GetEdge(0, 2), 2);
    EXPECT_EQ(collider.GetEdge(1, 2), 2);
    EXPECT_EQ(collider.GetEdge(2, 0) + collider.GetEdge(2, 1) + collider.GetEdge(0, 1), 0);
    // A directed pattern becomes a network of equation nodes.
    QNL_network net;
    EXPECT_TRUE(collider.MakeNetwork(SampleGaussian({{}, {}, {}}, 3, 1), net));
    EXPECT_EQ(net.GetParents(net.FindNode("c2")).GetCount(), 2);
    EXPECT_EQ(net.GetNode(net.FindNode("c2"))->GetDefinition()->GetType(), QNL_TYPE_EQUATION);
}

TEST(Pc, SkeletonsOfRandomEightNodeNetworksAreRecovered) {
    int recovered = 0;
    for (unsigned seed = 1; seed <= 10; ++seed) {
        QNL_network truth;
        const auto arcs = learning_test::StrongRandomNetwork(truth, seed);
        // Every missing edge is one test at the significance level that may fail by chance;
        // the dependencies are strong, so a stricter level costs no true edge.
        QNL_pcParams strict;
        strict.Significance = 0.01;
        const QNL_pattern learned =
            Learn(quarn_test::SampleDataSet(truth, learning_test::Handles(truth), 10000, 0.0, seed),
                  strict);
        bool same = true;
        for (int a = 0; a < 8; ++a)
            for (int b = a + 1; b < 8; ++b)
                same =
                    same && (learned.GetEdge(a, b) || learned.GetEdge(b, a)) == arcs.count({a, b});
        recovered += same;
    }
    EXPECT_GE(recovered, 9);
}

// A v-structure into b from a: some other c points into b and is not adjacent to a.
bool ColliderAt(const QNL_pattern& p, int a, int b) {
    for (int c = 0; c < p.GetSize(); ++c)
        if (c != a && c != b && p.GetEdge(c, b) == 2 && !p.GetEdge(a, c) && !p.GetEdge(c, a))
            return true;
    return false;
}

// Sparse tables leave tests without a degree of freedom, which must not keep an edge (nor feed
// later conditioning sets). Asia's "either" is the deterministic OR of its parents: given both,
// XRay and Dyspnoea are truly independent of it, so two of its eight edges can't be learned;
// with a noisy OR all can.
TEST(Pc, SkeletonsOfSampledNetworksAreRecovered) {
    QNL_network asia, noisyAsia, alarm;
    quarn_test::BuildAsia(asia);
    noisyAsia.GetNode(quarn_test::BuildAsia(noisyAsia).either)
        ->GetDefinition()
        ->SetDefinition(quarn_test::ArrayOf({0.98, 0.02, 0.95, 0.05, 0.9, 0.1, 0.03, 0.97}));
    ASSERT_EQ(
        alarm.ReadFile((std::string(QUARN_TEST_DATA_DIR) + "/networks/dsc/alarm.dsc").c_str()), 0);
    const std::tuple<const char*, QNL_network*, int, double> table[] = {
        {"asia", &asia, 10000, 0.75},
        {"noisy asia", &noisyAsia, 10000, 0.9},
        {"alarm", &alarm, 5000, 0.9}};
    for (const auto& [name, net, records, recall] : table) {
        std::vector<int> nodes;
        for (int h = net->GetFirstNode(); h >= 0; h = net->GetNextNode(h))
            nodes.push_back(h);
        const QNL_pattern learned = Learn(quarn_test::SampleDataSet(*net, nodes, records, 0.0, 11));
        int truth = 0, kept = 0, both = 0;
        for (int a = 0; a < learned.GetSize(); ++a)
            for (int b = a + 1; b < learned.GetSize(); ++b) {
                const bool arc = net->GetParents(nodes[a]).IsInList(nodes[b]) ||
                                 net->GetParents(nodes[b]).IsInList(nodes[a]);
                const bool edge = learned.GetEdge(a, b) || learned.GetEdge(b, a);
                truth += arc;
                kept += edge;
                both += arc && edge;
                // Marks both ways come only from two v-structures that disagree.
                if (learned.GetEdge(a, b) == 2 && learned.GetEdge(b, a) == 2) {
                    EXPECT_TRUE(ColliderAt(learned, a, b) && ColliderAt(learned, b, a)) << name;
                }
            }
        EXPECT_GE(both, 0.9 * kept) << name << ": precision";
        EXPECT_GE(both, recall * truth) << name << ": recall";
    }
}

std::vector<std::vector<int>> AllMarks(const QNL_pattern& p) {
    std::vector<std::vector<int>> marks(static_cast<std::size_t>(p.GetSize()));
    for (int i = 0; i < p.GetSize(); ++i)
        for (int j = 0; j < p.GetSize(); ++j)
            marks[static_cast<std::size_t>(i)].push_back(p.GetEdge(i, j));
    return marks;
}

// Knowledge orients only what it names. A pair kept apart by a forbidden arc alone was never
// found independent, so it forms no v-structure and drives no propagation; a forced arc keeps
// its direction through v-structures, the cycle check and propagation.
TEST(Pc, BackgroundKnowledgeOrientsNothingBeyondWhatItStates) {
    // Every pair dependent given anything.
    const BinaryNet triangle = {{{}, {0.5}}, {{0}, {0.8, 0.2}}, {{0, 1}, {0.9, 0.6, 0.4, 0.1}}};
    // v1 -> v3 <- v2 and v3 -> v0.
    BinaryNet colliderWithChild = kColliderNet;
    colliderWithChild.push_back({{2}, {0.85, 0.15}});
    const std::vector<int> childFirst = {3, 0, 1, 2};
    using Arcs = std::vector<std::pair<int, int>>;
    const struct {
        const char* name;
        const BinaryNet* net;
        std::vector<int> order;
        Arcs forced, forbidden;
        std::vector<std::vector<int>> marks;
    } table[] = {
        {"triangle", &triangle, {}, {}, {}, {{0, 1, 1}, {1, 0, 1}, {1, 1, 0}}},
        {"triangle, v0 -> v2 forbidden", &triangle, {}, {}, {{0, 2}},
         {{0, 1, 0}, {1, 0, 1}, {0, 1, 0}}},
        {"chain, v0 -> v2 forced, v1 -> v0 forbidden", &kChainNet, {}, {{0, 2}}, {{1, 0}},
         {{0, 0, 2}, {0, 0, 1}, {0, 1, 0}}},
        {"collider, v2 -> v0 forced", &kColliderNet, {}, {{2, 0}}, {},
         {{0, 0, 0}, {0, 0, 2}, {2, 0, 0}}},
        {"chain, v0 -> v2 forced, v2 -> v0 forbidden", &kChainNet, {}, {{0, 2}}, {{2, 0}},
         {{0, 1, 2}, {1, 0, 1}, {0, 1, 0}}},
        {"collider with a child", &colliderWithChild, childFirst, {}, {},
         {{0, 0, 0, 0}, {0, 0, 0, 2}, {0, 0, 0, 2}, {2, 0, 0, 0}}},
        // The forced arcs close the cycle v0 -> v1 -> v3 -> v0: only the found arc gives way.
        {"collider with a child, v3 -> v0 -> v1 forced", &colliderWithChild, childFirst,
         {{3, 0}, {0, 1}}, {},
         {{0, 2, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 2}, {2, 2, 0, 0}}},
    };
    for (const auto& c : table) {
        QNL_pcParams params;
        params.forcedArcs = c.forced;
        params.forbiddenArcs = c.forbidden;
        QNL_dataset data = SampleBinary(*c.net, 20000, 7, c.order);
        for (int v = 0; v < data.getNumberOfVariables(); ++v)
            data.setStateNames(v, {"no", "yes"});
        EXPECT_EQ(AllMarks(Learn(data, params)), c.marks) << c.name;
    }
}

// Columns of records ("i" prefix: integer, "f": float with the given missing value).
QNL_dataset Columns(const std::vector<std::vector<float>>& columns, const std::string& kinds,
                    float missing = -1.0f) {
    QNL_dataset data;
    for (std::size_t v = 0; v < columns.size(); ++v) {
        std::vector<QNL_datasetCell> cells;
        for (float x : columns[v])
            cells.push_back(kinds[v] == 'i' ? QNL_IntCell(static_cast<int>(x)) : QNL_FloatCell(x));
        if (kinds[v] == 'i')
            data.addIntVariable("v" + std::to_string(v), &cells, -1);
        else
            data.addFloatVariable("v" + std::to_string(v), &cells, missing);
    }
    return data;
}

TEST(Pc, FisherZOfTooFewRecordsOrPerfectCorrelationCountsAsDependent) {
    // y = 2x and z = x^2 - x.
    QNL_correlationMatrix correlations(Columns({{1, 2, 4, 3}, {2, 4, 8, 6}, {0, 2, 12, 6}}, "fff"));
    EXPECT_EQ(QNL_pc::TestIndependenceContinuous(correlations, 0, 1, {}), 0.0);
    EXPECT_EQ(QNL_pc::TestIndependenceContinuous(correlations, 0, 2, {1}), 0.0);
    const double p = QNL_pc::TestIndependenceContinuous(correlations, 0, 2, {});
    EXPECT_TRUE(p > 0.0 && p <= 1.0);
}

TEST(Pc, UnsuitableDataAndKnowledgeAreRefusedWithTheirMessages) {
    const QNL_dataset good = Sample(kChain, 50, 1);
    const QNL_dataset twoRecords = Columns({{0, 1}, {0, 1}}, "ii");
    const QNL_dataset oneVariable = Columns({{0, 1, 1}}, "i");
    const QNL_dataset mixed = Columns({{0, 1, 1}, {0.5f, 1.5f, 2}}, "if");
    const QNL_dataset constant = Columns({{0, 1, 1}, {1, 1, 1}}, "ii");
    const QNL_dataset missing = Columns({{0, 1, 1}, {0, -1, 1}}, "ii");
    const QNL_dataset nanMissing = Columns({{0.5f, 1.5f, 2}, {0.5f, NAN, 2}}, "ff", NAN);
    const QNL_dataset nanCell = Columns({{0.5f, 1.5f, 2}, {0.5f, NAN, 2}}, "ff");
    QNL_pcParams outside, selfArc, badTier, badExcluded;
    outside.forcedArcs = {{0, 3}};
    selfArc.forbiddenArcs = {{1, 1}};
    badTier.tiers = {{-1, 2}};
    badExcluded.excluded = {7};
    const std::vector<std::tuple<const QNL_dataset*, QNL_pcParams, std::string>> table = {
        {&twoRecords, {}, "pc: too few data points"},
        {&oneVariable, {}, "pc: too few variables"},
        {&mixed, {}, "pc: a mix of continuous and discrete variables is not allowed"},
        {&constant, {}, "pc: deterministic variable not allowed"},
        {&missing, {}, "pc: missing values not allowed\n"},
        {&nanMissing, {}, "pc: missing values not allowed\n"},
        {&nanCell, {}, "pc: missing values not allowed\n"},
        {&good, outside, "pc: forced arc (0, 3) does not join two variables of the data set"},
        {&good, selfArc, "pc: forbidden arc (1, 1) does not join two variables of the data set"},
        {&good, badTier, "pc: tier entry (-1, 2) does not name a variable of the data set"},
        {&good, badExcluded, "pc: excluded variable 7 is not a variable of the data set"},
    };
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (const auto& [data, params, message] : table) {
        log.Flush();
        QNL_pc pc;
        pc.params = params;
        QNL_pattern pattern;
        EXPECT_EQ(pc.Learn(*data, pattern), -1) << message;
        ASSERT_EQ(log.GetNumberOfErrors(), 1) << message;
        EXPECT_EQ(log.GetMessage(0), message);
        EXPECT_EQ(pattern.GetSize(), 0);
    }
    log.Flush();
}

// The engine's refusal of the data set, without its "learning: " prefix (empty when it
// takes the data).
std::string EngineImportVerdict(const QNL_dataset& data) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    log.Flush();
    QNL_learnNetwork engine;
    if (engine.ImportDataset(data)) return "";
    const std::string message = log.GetNumberOfErrors() == 1 ? log.GetMessage(0) : "?";
    return message.rfind("learning: ", 0) == 0 ? message.substr(10) : message;
}

TEST(Pc, AnInfiniteCellIsRefusedAsTheEngineRefusesItAndChangesNothing) {
    // A and B independent, C = A + B + noise, D = C + noise, E independent of all.
    const QNL_dataset clean =
        SampleGaussian({{}, {}, {{0, 1.0}, {1, 1.0}}, {{2, 1.0}}, {}}, 2000, 31);
    const QNL_pattern truth = Learn(clean);
    const std::vector<std::vector<int>> expected = {
        {0, 0, 2, 0, 0}, {0, 0, 2, 0, 0}, {0, 0, 0, 2, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
    ASSERT_EQ(AllMarks(truth), expected);
    ASSERT_EQ(EngineImportVerdict(clean), "");

    const float inf = std::numeric_limits<float>::infinity();
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int v = 0; v < clean.getNumberOfVariables(); ++v)
        for (const int r : {0, 1234, 1999})
            for (const float x : {inf, -inf}) {
                const std::string where = "variable " + std::to_string(v) + ", record " +
                                          std::to_string(r) + ", " + std::to_string(x);
                QNL_dataset data = clean;
                data.setCell(v, r, QNL_FloatCell(x));
                const std::string verdict = EngineImportVerdict(data);
                ASSERT_NE(verdict, "") << where;
                QNL_pattern pattern = truth;
                log.Flush();
                QNL_pc pc;
                EXPECT_EQ(pc.Learn(data, pattern), -1) << where;
                EXPECT_EQ(quarn_test::LastMessage(), "pc: " + verdict) << where;
                EXPECT_EQ(log.GetNumberOfErrors(), 1) << where;
                EXPECT_EQ(AllMarks(pattern), expected) << where;
            }
    log.Flush();
}

TEST(Pc, ACancelledRunReturnsMinusTwo) {
    const QNL_dataset data = Sample(kChain, 200, 2);
    for (int allowed : {0, 1, 2, 4}) {
        int calls = 0;
        QNL_pc pc;
        QNL_pattern pattern;
        EXPECT_EQ(pc.Learn(data, pattern, [&] { return calls++ < allowed; }), -2) << allowed;
        EXPECT_EQ(pattern.GetSize(), allowed == 0 ? 0 : 3);
    }
}

// The engine's verdict on the same knowledge: its message without the "gtt: " prefix, or
// empty when it takes the knowledge.
std::string EngineVerdict(const QNL_dataset& data, const std::vector<std::pair<int, int>>& forced,
                          const std::vector<std::pair<int, int>>& forbidden) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    QNL_learnModel model;
    model.SetNetwork(std::make_unique<QNL_learnNetwork>());
    EXPECT_TRUE(model.GetNetwork()->ImportDataset(data));
    log.Flush();
    if (model.SetBackgroundKnowledge(forced, forbidden, {}, "gtt") == 0) return "";
    const std::string message = log.GetNumberOfErrors() == 1 ? log.GetMessage(0) : "?";
    return message.rfind("gtt: ", 0) == 0 ? message.substr(5) : message;
}

TEST(Pc, ContradictoryKnowledgeIsRefusedBeforeAnyTestAsTheEngineRefusesIt) {
    using Arcs = std::vector<std::pair<int, int>>;
    const BinaryNet chain = {{{}, {0.5}},
                             {{0}, {0.8, 0.2}},
                             {{1}, {0.85, 0.15}},
                             {{2}, {0.75, 0.3}},
                             {{3}, {0.8, 0.25}}};
    QNL_dataset data = SampleBinary(chain, 300, 11);
    for (int v = 0; v < data.getNumberOfVariables(); ++v)
        data.setStateNames(v, {"no", "yes"});
    struct Case {
        std::string name;
        Arcs forced, forbidden;
        std::string refusal; // empty: learned
    };
    std::vector<Case> cases = {
        {"forced and forbidden", {{0, 1}}, {{0, 1}}, "forbidden arc (0, 1) is forced as well"},
        {"forced cycle of three",
         {{0, 1}, {1, 2}, {2, 0}},
         {},
         "forced arc (2, 0) contradicts the other background knowledge"},
        {"forced both ways",
         {{2, 3}, {3, 2}},
         {},
         "forced arc (3, 2) contradicts the other background knowledge"},
        {"forced twice", {{0, 1}, {0, 1}}, {}, ""},
        {"forced, its reverse forbidden", {{0, 1}}, {{1, 0}}, ""},
    };
    // Random knowledge over the five variables, judged by the engine.
    quarn_test::TestRandom random(23);
    for (int k = 0; k < 60; ++k) {
        Case c{"random " + std::to_string(k), {}, {}, ""};
        for (Arcs* list : {&c.forced, &c.forbidden})
            for (int arcs = random.Below(list == &c.forced ? 6 : 4); arcs > 0; --arcs) {
                const int a = random.Below(5);
                const int b = (a + 1 + random.Below(4)) % 5;
                list->push_back({a, b});
            }
        c.refusal = EngineVerdict(data, c.forced, c.forbidden);
        cases.push_back(c);
    }
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    int refused = 0;
    for (const Case& c : cases) {
        if (c.name.rfind("random", 0) != 0) {
            EXPECT_EQ(EngineVerdict(data, c.forced, c.forbidden), c.refusal) << c.name;
        }
        QNL_pc pc;
        pc.params.forcedArcs = c.forced;
        pc.params.forbiddenArcs = c.forbidden;
        QNL_pattern pattern;
        pattern.SetSize(2);
        pattern.SetEdge(0, 1, QNL_pattern::DIRECTED);
        int calls = 0;
        log.Flush();
        const int result = pc.Learn(data, pattern, [&] {
            ++calls;
            return true;
        });
        if (!c.refusal.empty()) {
            ++refused;
            EXPECT_EQ(result, -1) << c.name;
            EXPECT_EQ(quarn_test::LastMessage(), "pc: " + c.refusal) << c.name;
            EXPECT_EQ(calls, 0) << c.name;
            EXPECT_EQ(AllMarks(pattern), (std::vector<std::vector<int>>{{0, 2}, {0, 0}})) << c.name;
            continue;
        }
        ASSERT_EQ(result, 0) << c.name;
        EXPECT_EQ(log.GetNumberOfErrors(), 0) << c.name;
        // Every forced arc is there; a forbidden arc is gone unless its reverse is forced.
        for (const auto& [parent, child] : c.forced) {
            EXPECT_EQ(pattern.GetEdge(parent, child), QNL_pattern::DIRECTED) << c.name;
            EXPECT_EQ(pattern.GetEdge(child, parent), QNL_pattern::NO_EDGE) << c.name;
        }
        for (const auto& [parent, child] : c.forbidden)
            EXPECT_EQ(pattern.GetEdge(parent, child), QNL_pattern::NO_EDGE) << c.name;
    }
    // The random knowledge is refused often enough to say something, and not always.
    EXPECT_GT(refused, 10);
    EXPECT_LT(refused, static_cast<int>(cases.size()) - 10);
    log.Flush();
}

} // namespace
