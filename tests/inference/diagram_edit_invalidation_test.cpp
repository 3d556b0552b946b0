#include "definitions/cpt.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "inference/bayesian_algorithms.h"
#include "support/beliefs.h"
#include "support/decision_oracle.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_diagram.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using namespace quarn_test;

namespace {

constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

std::vector<int> IndexingOf(const QNL_network& net, int h) {
    const QNL_intArray& parents = ValueOf(net, h).GetIndexingParents();
    return std::vector<int>(parents.Items(), parents.Items() + parents.GetCount());
}

// Every value the edits left valid is what a solve of a copy of the edited network gives: the
// same indexing and the same cells. Returns how many unobserved values were compared.
// Edits can leave a plain Bayesian network: under its evidence of probability 0 no posterior
// exists to compare with, as in the Bayesian-network tests.
int ExpectValidValuesAsFreshSolve(const QNL_network& net, const std::string& label) {
    QNL_network fresh;
    EXPECT_EQ(fresh.Copy(net), 0) << label;
    bool diagram = false;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        diagram = diagram || (net.GetNode(h)->GetType() &
                              (QNL_TYPE_BIT_DECISION | QNL_TYPE_BIT_UTILITY)) != 0;
    if (!diagram && Enumerate(net).probabilityOfEvidence == 0.0) return 0;
    const int solved = fresh.UpdateBeliefs();
    int compared = 0;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue& value = ValueOf(net, h);
        if (!value.IsValueValid()) continue;
        const std::string what = label + " node " + net.GetNode(h)->GetId();
        // An observed node's value is its indicator, whatever validity a solve gives it.
        const bool comparable =
            value.IsObserved() || (solved == 0 && ValueOf(fresh, h).IsValueValid());
        EXPECT_TRUE(comparable) << what << " is valid where a fresh solve (" << solved
                                << ") leaves it not valid";
        if (!comparable) continue;
        EXPECT_EQ(IndexingOf(net, h), IndexingOf(fresh, h)) << what;
        const std::vector<double> kept = Beliefs(net, h), now = Beliefs(fresh, h);
        EXPECT_EQ(kept.size(), now.size()) << what;
        for (std::size_t i = 0; i < std::min(kept.size(), now.size()); ++i)
            EXPECT_TRUE(kept[i] == now[i] ||
                        (kept[i] != kUndefined && now[i] != kUndefined &&
                         std::fabs(kept[i] - now[i]) <= 1e-9 * std::max(1.0, std::fabs(now[i]))))
                << what << " cell " << i << ": " << kept[i] << " kept, " << now[i] << " now";
        if (!value.IsObserved()) ++compared;
    }
    return compared;
}

// A decision's valid expected utilities against enumeration, where the solver's semantics and
// the oracle's agree: no finding on a descendant of a decision. Returns the cells compared.
int ExpectDecisionsMatchEnumeration(QNL_network& net, const std::string& label) {
    int compared = 0;
    for (int d = net.GetFirstNode(); d >= 0; d = net.GetNextNode(d)) {
        if (net.GetNode(d)->GetType() != QNL_TYPE_LIST) continue;
        QNL_intArray below;
        net.GetDescendants(d, below);
        for (int i = 0; i < below.GetCount(); ++i)
            if (ValueOf(net, below[i]).HasEvidence()) return 0;
    }
    const DecisionOracle oracle = SolveByEnumeration(net);
    EXPECT_TRUE(oracle.ok) << label << ": " << oracle.error;
    const std::vector<int>& sequence = oracle.sequence;
    for (const auto& [d, expected] : oracle.decisionUtilities) {
        if (!ValueOf(net, d).IsValueValid()) continue;
        const std::size_t prefix =
            std::find(sequence.begin(), sequence.end(), d) - sequence.begin() + 1;
        const QNL_Dmatrix* m = ValueOf(net, d).GetMatrix();
        std::vector<std::size_t> position;
        for (int p : IndexingOf(net, d))
            position.push_back(std::find(sequence.begin(), sequence.end(), p) - sequence.begin());
        std::vector<int> at(prefix, 0);
        for (std::size_t s = 0; s < expected.size(); ++s) {
            for (std::size_t k = prefix, rest = s; k-- > 0; rest /= oracle.sizes[k])
                at[k] = static_cast<int>(rest % oracle.sizes[k]);
            if (std::isnan(expected[s])) continue;
            int index = at[prefix - 1];
            for (std::size_t j = 0; j < position.size(); ++j) {
                EXPECT_LT(position[j], prefix) << label;
                if (position[j] >= prefix) return compared;
                index += at[position[j]] * m->GetMultiplier(static_cast<int>(j));
            }
            EXPECT_NEAR(m->Subscript(index), expected[s],
                        1e-9 * std::max(1.0, std::fabs(expected[s])))
                << label << " decision " << net.GetNode(d)->GetId() << " cell " << s;
            ++compared;
        }
    }
    return compared;
}

int Find(const QNL_network& net, const char* id) {
    return net.FindNode(id);
}

int SetProbabilities(QNL_network& net, const char* id, const std::vector<double>& values) {
    return static_cast<QNL_cpt*>(net.GetNode(Find(net, id))->GetDefinition())
        ->SetProbabilities(ArrayOf(values));
}

// D observes C, a collider of A and B; U depends on D and B.
void ColliderAtInformationalParent(QNL_network& n) {
    const int a = AddDefined(n, QNL_TYPE_CPT, "A", {}, {0.3, 0.7});
    const int b = AddDefined(n, QNL_TYPE_CPT, "B", {}, {0.5, 0.5});
    const int c =
        AddDefined(n, QNL_TYPE_CPT, "C", {a, b}, {0.9, 0.1, 0.2, 0.8, 0.3, 0.7, 0.85, 0.15});
    const int d = AddDefined(n, QNL_TYPE_LIST, "D", {c});
    AddDefined(n, QNL_TYPE_TABLE, "U", {d, b}, {10.0, -10.0, -10.0, 10.0}, 0);
}

using DiagramEditInvalidationTest = NetworkFixture;

// Edits whose effect on a solved diagram the invalidation walk does not reach: the values
// named must lose validity, and the others must stay what a fresh solve gives.
TEST_F(DiagramEditInvalidationTest, EditsBeyondTheWalkDropTheValuesTheyChange) {
    struct Case {
        const char* name;
        std::function<void(QNL_network&)> build;
        std::function<int(QNL_network&)> edit;
        std::vector<const char*> dropped;
    };
    const Case cases[] = {
        {"first decision of an updated Bayesian network",
         [](QNL_network& n) { AddDefined(n, QNL_TYPE_CPT, "C", {}, {0.3, 0.7}); },
         [](QNL_network& n) {
             const int d = n.AddNode(QNL_TYPE_LIST, "D");
             return d < 0 ? d : n.AddArc(Find(n, "C"), d);
         },
         {"C"}},
        {"utility without parents deleted",
         [](QNL_network& n) {
             AddDefined(n, QNL_TYPE_LIST, "D", {});
             AddDefined(n, QNL_TYPE_TABLE, "U", {}, {87.0}, 0);
         },
         [](QNL_network& n) { return n.DeleteNode(Find(n, "U")); },
         {"D"}},
        {"informational parent made informative",
         [](QNL_network& n) {
             const int c1 = AddDefined(n, QNL_TYPE_CPT, "C1", {}, {0.3, 0.7});
             const int c2 = AddDefined(n, QNL_TYPE_CPT, "C2", {}, {0.6, 0.4});
             AddDefined(n, QNL_TYPE_LIST, "D", {c2});
             AddDefined(n, QNL_TYPE_TABLE, "U", {c1}, {-60.0, -10.0}, 0);
         },
         [](QNL_network& n) { return n.AddArc(Find(n, "C1"), Find(n, "C2")); },
         {"D", "U"}},
        {"finding made possible again",
         [](QNL_network& n) {
             const int x = AddDefined(n, QNL_TYPE_CPT, "X", {}, {0.5, 0.5});
             AddDefined(n, QNL_TYPE_TABLE, "U", {}, {66.0}, 0);
             ASSERT_EQ(ValueOf(n, x).SetEvidence(1), 0);
             ASSERT_EQ(SetProbabilities(n, "X", {1.0, 0.0}), 0);
         },
         [](QNL_network& n) {
             return SetProbabilities(n, "X", {0.5, 0.5});
         },
         {"U"}},
        {"table change through a collider at an informational parent",
         ColliderAtInformationalParent,
         [](QNL_network& n) {
             return SetProbabilities(n, "A", {0.8, 0.2});
         },
         {"D", "U"}},
        {"finding through a collider at an informational parent",
         ColliderAtInformationalParent,
         [](QNL_network& n) { return ValueOf(n, Find(n, "A")).SetEvidence(0); },
         {"D", "U"}},
        {"finding below a later decision cleared",
         [](QNL_network& n) {
             const int c = AddDefined(n, QNL_TYPE_CPT, "C", {}, {0.4, 0.6});
             const int d1 = AddDefined(n, QNL_TYPE_LIST, "D1", {});
             const int d2 = AddDefined(n, QNL_TYPE_LIST, "D2", {c, d1});
             const int f = AddDefined(n, QNL_TYPE_CPT, "F", {d2}, {1.0, 0.0, 0.5, 0.5});
             AddDefined(n, QNL_TYPE_TABLE, "U1", {d1, c}, {5.0, -5.0, -3.0, 8.0}, 0);
             AddDefined(n, QNL_TYPE_TABLE, "U2", {d2, c}, {100.0, 90.0, 0.0, 0.0}, 0);
             ASSERT_EQ(ValueOf(n, f).SetEvidence(1), 0);
         },
         [](QNL_network& n) { return ValueOf(n, Find(n, "F")).ClearEvidence(); },
         {"D1", "U2"}},
        {"best policy after a finding below a later decision is cleared",
         [](QNL_network& n) {
             n.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
             const int d1 = AddDefined(n, QNL_TYPE_LIST, "D1", {});
             const int d2 = AddDefined(n, QNL_TYPE_LIST, "D2", {d1});
             const int f = AddDefined(n, QNL_TYPE_CPT, "F", {d2}, {1.0, 0.0, 0.5, 0.5});
             AddDefined(n, QNL_TYPE_TABLE, "U", {d2, d1}, {100.0, 0.0, 0.0, 10.0}, 0);
             ASSERT_EQ(ValueOf(n, f).SetEvidence(1), 0);
         },
         [](QNL_network& n) { return ValueOf(n, Find(n, "F")).ClearEvidence(); },
         {"D1"}},
    };
    for (const Case& c : cases) {
        QNL_network n;
        c.build(n);
        ASSERT_EQ(n.UpdateBeliefs(), 0) << c.name;
        for (const char* id : c.dropped)
            ASSERT_TRUE(ValueOf(n, Find(n, id)).IsValueValid()) << c.name << " " << id;
        ASSERT_EQ(c.edit(n), 0) << c.name;
        for (const char* id : c.dropped)
            EXPECT_FALSE(ValueOf(n, Find(n, id)).IsValueValid()) << c.name << " " << id;
        ExpectValidValuesAsFreshSolve(n, c.name);
        Messages();
    }
}

enum Edit { TABLE, UTILITY, ADD_ARC, REMOVE_ARC, EVIDENCE, DELETE, ADD_NODE, TYPE, COPY, UPDATE };

std::vector<int> NodesOfType(const QNL_network& net, int type) {
    std::vector<int> out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        if (net.GetNode(h)->GetType() == type) out.push_back(h);
    return out;
}

std::vector<double> RandomUtilities(TestRandom& random, int size) {
    std::vector<double> values(static_cast<std::size_t>(size));
    for (double& v : values)
        v = random.Below(201) - 100;
    return values;
}

// Applies one edit of the kind to a diagram kept within 3 chance nodes, 2 decisions and 2
// utilities; refusals are part of the game and their codes are not looked at.
void Apply(QNL_network& net, Edit edit, TestRandom& random) {
    auto pick = [&](const std::vector<int>& from) {
        return from.empty()
                   ? -1
                   : from[static_cast<std::size_t>(random.Below(static_cast<int>(from.size())))];
    };
    std::vector<int> chance = NodesOfType(net, QNL_TYPE_CPT);
    std::vector<int> decisions = NodesOfType(net, QNL_TYPE_LIST);
    std::vector<int> utilities = NodesOfType(net, QNL_TYPE_TABLE);
    std::vector<int> all, parents = chance;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        all.push_back(h);
    parents.insert(parents.end(), decisions.begin(), decisions.end());
    switch (edit) {
    case TABLE:
        if (const int h = pick(chance); h >= 0) {
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            static_cast<QNL_cpt*>(definition)
                ->SetProbabilities(ArrayOf(RandomColumns(random, definition->GetMatrix()->GetSize(),
                                                         definition->GetNumberOfOutcomes())));
        }
        return;
    case UTILITY:
        if (const int h = pick(utilities); h >= 0) {
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            static_cast<QNL_table*>(definition)
                ->SetUtilities(ArrayOf(RandomUtilities(random, definition->GetSize())));
        }
        return;
    case ADD_ARC:
        if (!parents.empty()) net.AddArc(pick(parents), pick(all));
        return;
    case REMOVE_ARC:
        if (const int h = pick(all); h >= 0 && net.NumberOfParents(h, 0) > 0)
            net.RemoveArc(net.GetParents(h)[random.Below(net.NumberOfParents(h, 0))], h);
        return;
    case EVIDENCE:
        if (const int h = pick(chance); h >= 0) {
            QNL_nodeValue& value = ValueOf(net, h);
            const int outcomes = net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
            if (value.HasEvidence() && random.Below(2) == 0)
                value.ClearEvidence();
            else
                value.SetEvidence(random.Below(outcomes));
        }
        return;
    case DELETE:
        if (all.size() > 2) net.DeleteNode(pick(all));
        return;
    case ADD_NODE: {
        const int kind = random.Below(3);
        const int type = kind == 0 ? QNL_TYPE_CPT : kind == 1 ? QNL_TYPE_LIST : QNL_TYPE_TABLE;
        const std::size_t limit = kind == 0 ? 3 : 2;
        if ((kind == 0 ? chance : kind == 1 ? decisions : utilities).size() >= limit) return;
        const int h = net.AddNode(type, nullptr);
        if (h >= 0 && !parents.empty() && random.Below(3) > 0) net.AddArc(pick(parents), h);
        if (h >= 0 && type == QNL_TYPE_CPT) {
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            static_cast<QNL_cpt*>(definition)
                ->SetProbabilities(
                    ArrayOf(RandomColumns(random, definition->GetMatrix()->GetSize(), 2)));
        }
        if (h >= 0 && type == QNL_TYPE_TABLE) {
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            static_cast<QNL_table*>(definition)
                ->SetUtilities(ArrayOf(RandomUtilities(random, definition->GetSize())));
        }
        return;
    }
    case TYPE:
        if (random.Below(2) == 0 && decisions.size() < 2 && !chance.empty())
            net.GetNode(pick(chance))->SetType(QNL_TYPE_LIST);
        else if (chance.size() < 3 && !decisions.empty())
            net.GetNode(pick(decisions))->SetType(QNL_TYPE_CPT);
        return;
    default:
        net.UpdateBeliefs();
        return;
    }
}

// Random diagrams edited at random, solved now and then: after every edit each value still
// valid is what a fresh solve gives, and after every solve each decision agrees with
// enumeration where the two semantics meet.
TEST_F(DiagramEditInvalidationTest, ValidValuesStayWhatAFreshSolveGivesAfterRandomEdits) {
    int compared = 0, enumerated = 0;
    for (const int round : RoundsUpTo(40)) {
        const std::uint64_t seed = static_cast<std::uint64_t>(round) + 1;
        TestRandom random(seed);
        QNL_network net;
        // The best-policy method writes the first decision's choice alone.
        const bool bestPolicy = seed % 4 == 0;
        if (bestPolicy) net.SetDefaultIDAlgorithm(QNL_ALG_ID_SHACHTER);
        std::vector<int> placed;
        const int chanceCount = 1 + random.Below(3), decisionCount = 1 + random.Below(2);
        for (int c = 0, d = 0; c < chanceCount || d < decisionCount;) {
            const bool decision = d < decisionCount && (c == chanceCount || random.Below(2) == 0);
            const std::string id = decision ? "D" + std::to_string(d++) : "C" + std::to_string(c++);
            std::vector<int> from;
            for (int i = 0, n = placed.empty() ? 0 : random.Below(3); i < n; ++i)
                from.push_back(placed[static_cast<std::size_t>(
                    random.Below(static_cast<int>(placed.size())))]);
            std::sort(from.begin(), from.end());
            from.erase(std::unique(from.begin(), from.end()), from.end());
            const int h =
                AddDefined(net, decision ? QNL_TYPE_LIST : QNL_TYPE_CPT, id.c_str(), from);
            QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
            if (!decision)
                definition->SetDefinition(
                    ArrayOf(RandomColumns(random, definition->GetMatrix()->GetSize(), 2)));
            placed.push_back(h);
        }
        for (int i = 0, n = 1 + random.Below(2); i < n; ++i) {
            const int u = AddDefined(
                net, QNL_TYPE_TABLE, ("U" + std::to_string(i)).c_str(),
                {placed[static_cast<std::size_t>(random.Below(static_cast<int>(placed.size())))]},
                {}, 0);
            net.GetNode(u)->GetDefinition()->SetDefinition(
                ArrayOf(RandomUtilities(random, net.GetNode(u)->GetDefinition()->GetSize())));
        }
        net.UpdateBeliefs();
        // A copy edit goes on with a fresh network copied from the edited one.
        std::unique_ptr<QNL_network> replaced;
        QNL_network* edited = &net;
        for (int step = 0; step < 30; ++step) {
            const Edit edit =
                random.Below(3) == 0 ? UPDATE : static_cast<Edit>(random.Below(UPDATE));
            const std::string label = "seed " + std::to_string(seed) + " step " +
                                      std::to_string(step) + " edit " + std::to_string(edit);
            if (edit == COPY) {
                auto copy = std::make_unique<QNL_network>();
                ASSERT_EQ(copy->Copy(*edited), 0) << label;
                replaced = std::move(copy);
                edited = replaced.get();
            } else {
                Apply(*edited, edit, random);
            }
            compared += ExpectValidValuesAsFreshSolve(*edited, label);
            if (edit == UPDATE && !bestPolicy)
                enumerated += ExpectDecisionsMatchEnumeration(*edited, label);
            Messages();
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(enumerated, 200);
}

} // namespace

namespace {

// A diagram edited into a Bayesian network updates beliefs indexed by nothing, and a finding's
// value is the indicator of its outcome, whatever a solve indexed the values by before.
TEST_F(DiagramEditInvalidationTest, ValuesOfAnEditedDiagramDropTheirIndexing) {
    const int d = AddDefined(net, QNL_TYPE_LIST, "D", {});
    const int c = AddDefined(net, QNL_TYPE_CPT, "C", {d}, {0.9, 0.1, 0.2, 0.8});
    const int e = AddDefined(net, QNL_TYPE_CPT, "E", {c}, {0.7, 0.3, 0.4, 0.6});
    const int u = AddDefined(net, QNL_TYPE_TABLE, "U", {c}, {10.0, -5.0}, 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ASSERT_EQ(IndexingOf(net, c), std::vector<int>{d});
    ASSERT_EQ(net.DeleteNode(u) + net.DeleteNode(d), 0);
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    EXPECT_TRUE(IndexingOf(net, c).empty());
    ExpectValidValuesAsFreshSolve(net, "beliefs after the diagram's nodes went");
    ASSERT_EQ(ValueOf(net, e).SetEvidence(1), 0);
    EXPECT_TRUE(IndexingOf(net, e).empty());
    ExpectValidValuesAsFreshSolve(net, "finding after the diagram's nodes went");
}

} // namespace
