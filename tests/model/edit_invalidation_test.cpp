#include "definitions/ci_definition.h"
#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "inference/bayesian_algorithms.h"
#include "inference/value_of_info.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/oracle.h"
#include "support/random_network.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace quarn_test;

const int algorithms[] = {QNL_ALG_BN_CLUSTERING, QNL_ALG_BN_RELEVANCE_DECOMPOSITION,
                          QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED,
                          QNL_ALG_BN_ELIMINATION_JOIN_TREE};

enum Edit {
    REMOVE_ARC,
    DELETE_NODE,
    REORDER,
    TABLE,
    TYPE,
    ADD_ARC,
    ADD_NODE,
    OUTCOME,
    EVIDENCE,
    TARGET,
    UPDATE,
    COPY,
    FILE_ROUND_TRIP,
    EDITS,
    // Only the gate sequences draw these.
    OUTCOME_COUNT = EDITS,
    GATE_OUTCOME_REMOVAL,
    PROBABILITY_OF_EVIDENCE,
    EMPTY,
    GATE_EDITS
};

// A gate's parameters: each free column random, or on odd draws all on one outcome, so that
// evidence implies outcomes through it.
int RandomGate(QNL_ciDefinition& gate, TestRandom& random) {
    QNL_Dmatrix params(*gate.GetParameters());
    const int n = params.GetSizeOfDimension(1);
    for (int c = 0; c < params.GetSizeOfDimension(0); ++c) {
        if (gate.IsDistinguishedColumn(c)) continue;
        const int certain = random.Below(2) == 1 ? random.Below(n) : -1;
        double sum = 0.0;
        for (int k = 0; k < n; ++k)
            sum += params.Subscript(c * n + k) = certain < 0 ? random.Uniform() : k == certain;
        for (int k = 0; k < n; ++k)
            params.Subscript(c * n + k) /= sum;
    }
    return gate.SetDefinition(params);
}

// Scales a gate's free columns to sum to 1 (an empty one becomes the unit column at the
// first outcome), as a caller does after removing an outcome, with the notice callers give.
void NormaliseGate(QNL_network& net, int h) {
    auto* gate = dynamic_cast<QNL_ciDefinition*>(net.GetNode(h)->GetDefinition());
    if (gate == nullptr) return;
    QNL_Dmatrix params(*gate->GetParameters());
    const int n = params.GetSizeOfDimension(1);
    for (int c = 0; c < params.GetSizeOfDimension(0); ++c) {
        if (gate->IsDistinguishedColumn(c)) continue;
        double sum = 0.0;
        for (int k = 0; k < n; ++k)
            sum += params.Subscript(c * n + k);
        for (int k = 0; k < n; ++k)
            params.Subscript(c * n + k) = sum > 0.0 ? params.Subscript(c * n + k) / sum : k == 0;
    }
    EXPECT_EQ(gate->SetDefinition(params), 0);
    EXPECT_EQ(net.NotifyChange(h, QNL_network::CHANGE_VALUES), 0);
}

// Each node's evidence: its kind (user or implied) and outcome.
std::vector<std::string> EvidenceState(const QNL_network& net) {
    std::vector<std::string> out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue& value = ValueOf(net, h);
        out.push_back(std::to_string(h) + ":" + std::to_string(value.HasEvidence()) +
                      std::to_string(value.HasPropagatedEvidence()) + ":" +
                      std::to_string(value.IsObserved() ? value.GetEvidence() : -1));
    }
    return out;
}

bool DefinitionsReady(const QNL_network& net) {
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
        definition->CheckReadiness(0);
        if (!definition->IsValid() || !definition->IsReady()) return false;
    }
    return true;
}

// The outcomes of node h that have positive probability given the evidence.
std::vector<int> PossibleOutcomes(const QNL_network& net, int h) {
    const Enumeration truth = Enumerate(net);
    std::vector<int> possible;
    for (int k = 0; truth.ok && k < static_cast<int>(truth.Posterior(h).size()); ++k)
        if (truth.Posterior(h)[static_cast<std::size_t>(k)] > 0.0) possible.push_back(k);
    return possible;
}

// Removes outcome k of a gate (h, or another gate when h is none), after putting user evidence
// on the gate at a possible outcome that stays (odd draws), and after giving its free columns
// none of k's mass (odd draws), so that the gate stays consistent and the evidence goes on
// implying through it. On even draws the removal leaves columns off 1.
int RemoveGateOutcome(QNL_network& net, int h, TestRandom& random) {
    std::vector<int> gates;
    for (int g = net.GetFirstNode(); g >= 0; g = net.GetNextNode(g))
        if (dynamic_cast<QNL_ciDefinition*>(net.GetNode(g)->GetDefinition())) gates.push_back(g);
    if (gates.empty()) return 0;
    if (std::find(gates.begin(), gates.end(), h) == gates.end())
        h = gates[static_cast<std::size_t>(random.Below(static_cast<int>(gates.size())))];
    auto* gate = static_cast<QNL_ciDefinition*>(net.GetNode(h)->GetDefinition());
    if (gate->GetNumberOfOutcomes() < 3 && gate->AddOutcome("x") < 0) return 0;
    const int n = gate->GetNumberOfOutcomes();
    const int k = random.Below(n);
    QNL_nodeValue& value = ValueOf(net, h);
    if (!value.HasEvidence() && random.Below(2) == 1) {
        std::vector<int> possible = PossibleOutcomes(net, h);
        possible.erase(std::remove(possible.begin(), possible.end(), k), possible.end());
        if (!possible.empty())
            value.SetEvidence(possible[static_cast<std::size_t>(
                random.Below(static_cast<int>(possible.size())))]);
    }
    if (random.Below(2) == 1) {
        QNL_Dmatrix params(*gate->GetParameters());
        for (int c = 0; c < params.GetSizeOfDimension(0); ++c)
            if (!gate->IsDistinguishedColumn(c)) params.Subscript(c * n + k) = 0.0;
        if (gate->SetDefinition(params) == 0) NormaliseGate(net, h);
    }
    return gate->RemoveOutcome(k);
}

// Edits node h: removes a random arc into it, deletes it, reverses its outcomes, reverses its
// table (each column turns into another one reversed, so truth tables stay 0/1; in the widened
// sequences a truth table may draw new resulting states, a noisy-MAX node new parameters), or
// changes its type among probability table, truth table (on odd draws by way of a decision, which
// drops its parents) and noisy-MAX. The later edits, which only the widened sequences use, add an
// arc from a random node or a child of h, add or remove an outcome, set or clear evidence at an
// outcome of positive posterior, toggle the target, update, or replace the network by a copy or by
// a file written and read back. The gate sequences also draw noisy adders among the types, set
// a new outcome count at h (or at a node without children, as only such a node can take one),
// remove an outcome of a gate, and delete every node. With `replacing`, a finding is also
// replaced by any outcome, which may be refused.
int Apply(QNL_network& net, int h, int edit, TestRandom& random, bool gates = false,
          bool replacing = false) {
    QNL_node* node = net.GetNode(h);
    QNL_nodeDefinition* definition = node->GetDefinition();
    const QNL_intArray& parents = net.GetParents(h);
    std::vector<double> values = ValuesOf(definition);
    QNL_intArray nodes;
    net.GetAllNodes(nodes);
    const int other = nodes[random.Below(nodes.GetCount())];
    const int outcomes = definition->GetNumberOfOutcomes();
    switch (edit) {
    case REMOVE_ARC:
        return parents.GetCount() == 0
                   ? 0
                   : net.RemoveArc(parents[random.Below(parents.GetCount())], h);
    case DELETE_NODE:
        return net.DeleteNode(h);
    case REORDER:
        return definition->ReorderOutcomes(Reversed(outcomes));
    case TABLE:
        if (auto* gate = dynamic_cast<QNL_ciDefinition*>(definition)) {
            // Parameters are set unnotified; callers announce them as the Java binding does.
            const int result = RandomGate(*gate, random);
            return result != 0 ? result : net.NotifyChange(h, QNL_network::CHANGE_VALUES);
        }
        if (definition->GetType() == QNL_TYPE_TRUTHTABLE && random.Below(2) == 1) {
            std::vector<int> states(values.size() / static_cast<std::size_t>(outcomes));
            for (int& state : states)
                state = random.Below(outcomes);
            return definition->SetResultingStates(IntsOf(states));
        }
        std::reverse(values.begin(), values.end());
        return static_cast<QNL_cpt*>(definition)->SetProbabilities(ArrayOf(values));
    case TYPE: {
        const int types[] = {QNL_TYPE_CPT, QNL_TYPE_TRUTHTABLE, QNL_TYPE_NOISY_MAX,
                             QNL_TYPE_NOISY_ADDER};
        const int type = types[random.Below(gates ? 4 : 3)];
        if (type == QNL_TYPE_TRUTHTABLE && random.Below(2) == 1) node->SetType(QNL_TYPE_LIST);
        return node->SetType(type);
    }
    case ADD_ARC:
        net.AddArc(other, h);
        return 0;
    case ADD_NODE: {
        const int child = net.AddNode(QNL_TYPE_CPT, nullptr);
        return child < 0 ? child : net.AddArc(h, child);
    }
    case OUTCOME:
        if (random.Below(2) == 1 && outcomes < 4)
            return definition->AddOutcome(("x" + std::to_string(random.Below(99999))).c_str());
        if (outcomes < 3 || definition->RemoveOutcome(random.Below(outcomes)) != 0) return 0;
        // What is left of each column is not renormalised by the removal: callers do that.
        if (auto* gate = dynamic_cast<QNL_ciDefinition*>(definition)) {
            RandomGate(*gate, random);
            return net.NotifyChange(h, QNL_network::CHANGE_VALUES);
        }
        values = ValuesOf(definition);
        for (std::size_t i = 0; i < values.size(); i += outcomes - 1) {
            double sum = 0.0;
            for (int k = 0; k < outcomes - 1; ++k)
                sum += values[i + k];
            for (int k = 0; k < outcomes - 1; ++k)
                values[i + k] = sum > 0.0 ? values[i + k] / sum : k == 0;
        }
        return static_cast<QNL_cpt*>(definition)->SetProbabilities(ArrayOf(values));
    case EVIDENCE: {
        QNL_nodeValue& value = ValueOf(net, h);
        if (value.HasEvidence() && replacing) {
            // A finding replaced by any outcome: one the others rule out is refused, and a
            // refusal changes no evidence, the node's own and every implied finding alike.
            const std::vector<std::string> before = EvidenceState(net);
            if (value.SetEvidence(random.Below(outcomes)) != 0) {
                EXPECT_EQ(EvidenceState(net), before) << "refused finding at node " << h;
            }
            return 0;
        }
        if (value.HasEvidence()) return value.ClearEvidence();
        const std::vector<int> possible = PossibleOutcomes(net, h);
        // Evidence that implied evidence contradicts is refused, and that is no fault.
        if (!possible.empty())
            value.SetEvidence(possible[random.Below(static_cast<int>(possible.size()))]);
        return 0;
    }
    case TARGET:
        if (random.Below(4) == 0) return net.ClearAllTargets();
        return net.IsTarget(h) ? net.UnSetTarget(h) : net.SetTarget(h);
    case UPDATE:
        return net.UpdateBeliefs();
    case COPY: {
        QNL_network copy;
        return copy.Copy(net) != 0 ? -1 : net.Copy(copy);
    }
    case FILE_ROUND_TRIP: {
        const std::string path = quarn_test::TestFile("edit_invalidation.xqnl");
        const int written = net.WriteFile(path.c_str());
        return written != 0 ? written : net.ReadFile(path.c_str());
    }
    case OUTCOME_COUNT: {
        std::vector<int> leaves;
        for (int k = 0; k < nodes.GetCount(); ++k)
            if (net.NumberOfChildren(nodes[k], 0) + net.NumberOfChildren(nodes[k], 1) == 0)
                leaves.push_back(nodes[k]);
        if (net.NumberOfChildren(h, 0) + net.NumberOfChildren(h, 1) > 0 && !leaves.empty())
            h = leaves[static_cast<std::size_t>(random.Below(static_cast<int>(leaves.size())))];
        return net.GetNode(h)->GetDefinition()->SetNumberOfOutcomes(2 + random.Below(3));
    }
    case GATE_OUTCOME_REMOVAL:
        return RemoveGateOutcome(net, h, random);
    default:
        while (net.GetNumberOfNodes() > 0)
            if (int r = net.DeleteNode(net.GetFirstNode())) return r;
        return 0;
    }
}

TEST(EditInvalidation, EditsAtObservedOrReorderedNodesLeaveNoStaleValidValue) {
    struct Case {
        int observed; // position in the chain A -> B -> C, -1 for none
        Edit edit;
        int at;
    };
    const Case cases[] = {{1, REMOVE_ARC, 1},  {2, REMOVE_ARC, 2}, {1, DELETE_NODE, 1},
                          {2, DELETE_NODE, 2}, {-1, REORDER, 0},   {2, REORDER, 1}};
    for (const Case& c : cases) {
        const std::string label = "edit " + std::to_string(c.edit) + " at " + std::to_string(c.at);
        QNL_network net;
        const int a = AddBinaryNode(net, "A", {}, {0.3});
        const int b = AddBinaryNode(net, "B", {a}, {0.9, 0.2});
        const int chain[] = {a, b, AddBinaryNode(net, "C", {b}, {0.7, 0.1})};
        if (c.observed >= 0) {
            ASSERT_EQ(ValueOf(net, chain[c.observed]).SetEvidence(0), 0) << label;
        }
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        TestRandom random(1);
        ASSERT_EQ(Apply(net, chain[c.at], c.edit, random), 0) << label;
        ExpectValidValuesCurrent(net, label);
    }
}

// Sequences found by random editing, each once left a value flagged valid that was wrong: a
// finding on an outcome that kept its index while the outcome set grew (the value kept the old
// size), evidence implied through a truth table that was then deleted, and evidence implied at a
// noisy-MAX node whose outcomes were then reordered.
TEST(EditInvalidation, ValuesStayCurrentAfterOutcomeAndImpliedEvidenceEdits) {
    for (int sequence = 0; sequence < 3; ++sequence) {
        for (int algorithm : algorithms) {
            const std::string label =
                "sequence " + std::to_string(sequence) + " algorithm " + std::to_string(algorithm);
            QNL_network net;
            net.SetDefaultBNAlgorithm(algorithm);
            const int a = AddBinaryNode(net, "A", {}, {0.3});
            if (sequence == 0) {
                const int b = net.AddNode(QNL_TYPE_CPT, "B");
                QNL_nodeDefinition* definition = net.GetNode(b)->GetDefinition();
                ASSERT_EQ(definition->SetNumberOfOutcomes(3), 0) << label;
                ASSERT_EQ(ValueOf(net, b).SetEvidence(2), 0) << label;
                ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
                ASSERT_GE(definition->AddOutcome("D"), 0) << label;
                ASSERT_EQ(net.AddArc(a, b), 0) << label;
            } else if (sequence == 1) {
                const int t = AddBinaryNode(net, "T", {a}, {1.0, 0.0});
                const int d = AddBinaryNode(net, "D", {t}, {0.6, 0.2});
                AddBinaryNode(net, "C", {a}, {0.9, 0.2});
                ASSERT_EQ(net.GetNode(t)->SetType(QNL_TYPE_TRUTHTABLE), 0) << label;
                ASSERT_EQ(ValueOf(net, t).SetEvidence(0), 0) << label;
                ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
                net.SetTarget(d);
                ASSERT_EQ(net.DeleteNode(t), 0) << label;
            } else {
                const int n = net.AddNode(QNL_TYPE_NOISY_MAX, "N");
                ASSERT_EQ(net.AddArc(a, n), 0) << label;
                AddBinaryNode(net, "C", {n}, {0.7, 0.1});
                auto* gate = static_cast<QNL_noisyMAX*>(net.GetNode(n)->GetDefinition());
                ASSERT_EQ(gate->SetDefinition(ArrayOf({1, 0, 0, 1, 0, 1})), 0) << label;
                ASSERT_EQ(ValueOf(net, a).SetEvidence(1), 0) << label;
                ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
                ASSERT_EQ(gate->ReorderOutcomes(Reversed(2)), 0) << label;
            }
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            ExpectValidValuesCurrent(net, label);
        }
    }
}

// An outcome count set anew, or an outcome removed, at a node that holds or implies evidence:
// the node's finding is set again over the new outcome set (or goes with its outcome), and the
// evidence its gate implies is derived from the finished gate. Each case once left a value
// flagged valid with the old number of cells, or implied evidence read from a gate whose
// distinguished columns were not yet repaired.
TEST(EditInvalidation, OutcomeCountChangesAtObservedNodesAndGatesLeaveNoStaleValidValue) {
    enum Kind { CPT_GROW, CPT_SHRINK, NOISY_MAX_GROW, ADDER_GROW, ADDER_SHRINK, GATE_REMOVAL };
    for (const Kind kind :
         {CPT_GROW, CPT_SHRINK, NOISY_MAX_GROW, ADDER_GROW, ADDER_SHRINK, GATE_REMOVAL}) {
        for (int algorithm : algorithms) {
            const std::string label =
                "case " + std::to_string(kind) + " algorithm " + std::to_string(algorithm);
            QNL_network net;
            net.SetDefaultBNAlgorithm(algorithm);
            const int p = AddBinaryNode(net, "P", {}, {0.55});
            const int type = kind == NOISY_MAX_GROW || kind == GATE_REMOVAL ? QNL_TYPE_NOISY_MAX
                             : kind == ADDER_GROW || kind == ADDER_SHRINK   ? QNL_TYPE_NOISY_ADDER
                                                                            : QNL_TYPE_CPT;
            const int c = net.AddNode(type, "C");
            ASSERT_EQ(net.AddArc(p, c), 0) << label;
            QNL_nodeDefinition* definition = net.GetNode(c)->GetDefinition();
            if (type == QNL_TYPE_CPT) {
                ASSERT_EQ(definition->SetNumberOfOutcomes(3), 0) << label;
                ASSERT_EQ(definition->SetDefinition(ArrayOf({0.2, 0.3, 0.5, 0.6, 0.3, 0.1})), 0);
            } else if (type == QNL_TYPE_NOISY_MAX) {
                ASSERT_EQ(definition->SetNumberOfOutcomes(3), 0) << label;
                // Parent outcome 0 and the leak never give the last outcome, so the table
                // does not depend on P once that outcome is gone.
                ASSERT_EQ(definition->SetDefinition(ArrayOf({0, 1, 0, 0, 0, 1, 0.78, 0.22, 0})), 0)
                    << label;
            }
            // The adder's table given P's distinguished outcome is its leak: evidence there
            // implies the distinguished state.
            QNL_nodeValue& observed = ValueOf(net, type == QNL_TYPE_NOISY_ADDER ? p : c);
            const int outcome = kind == CPT_SHRINK ? 2 : 1;
            ASSERT_EQ(observed.SetEvidence(outcome), 0) << label;
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            if (kind == GATE_REMOVAL) {
                ASSERT_EQ(definition->RemoveOutcome(2), 0) << label;
            } else {
                const int count = kind == CPT_SHRINK || kind == ADDER_SHRINK ? 2 : 4;
                ASSERT_EQ(definition->SetNumberOfOutcomes(count), 0) << label;
            }
            ExpectValidValuesCurrent(net, label + " after the edit");
            ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
            ExpectValidValuesCurrent(net, label + " after the update");
            for (int h : {p, c})
                EXPECT_EQ(Beliefs(net, h).size(),
                          static_cast<std::size_t>(
                              net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes()))
                    << label << " node " << h;
            EXPECT_EQ(ValueOf(net, c).IsObserved(), kind != CPT_SHRINK) << label;
        }
    }
}

// A leaf that holds no evidence conditions nothing above it: a new outcome count there leaves
// its parent's beliefs standing.
TEST(EditInvalidation, NewOutcomeCountAtAnUnobservedLeafKeepsItsParentValid) {
    QNL_network net;
    const int p = AddBinaryNode(net, "P", {}, {0.55});
    const int c = AddBinaryNode(net, "C", {p}, {0.9, 0.2});
    ASSERT_EQ(net.UpdateBeliefs(), 0);
    ASSERT_EQ(net.GetNode(c)->GetDefinition()->SetNumberOfOutcomes(4), 0);
    EXPECT_TRUE(ValueOf(net, p).IsValueValid());
    EXPECT_FALSE(ValueOf(net, c).IsValueValid());
    ExpectValidValuesCurrent(net, "unobserved leaf");
}

// Every entry that evaluates the network refuses a table that updating refuses (here a
// noisy-MAX node whose columns no longer sum to 1 after an outcome removal), names the node,
// and leaves no belief flagged valid. The probability of the evidence by clustering and a
// direct call of the algorithm once evaluated it.
TEST(EditInvalidation, EveryEvaluationRefusesATableThatUpdatingRefuses) {
    enum Entry {
        UPDATE_BELIEFS,
        CLUSTERING_EVIDENCE,
        CHAIN_RULE_EVIDENCE,
        CALL_ALGORITHM,
        ANNEALED_MAP,
        VALUE_OF_INFORMATION
    };
    for (const Entry entry : {UPDATE_BELIEFS, CLUSTERING_EVIDENCE, CHAIN_RULE_EVIDENCE,
                              CALL_ALGORITHM, ANNEALED_MAP, VALUE_OF_INFORMATION}) {
        const std::string label = "entry " + std::to_string(entry);
        QNL_network net;
        const int p = AddBinaryNode(net, "P", {}, {0.3});
        const int act = entry == VALUE_OF_INFORMATION ? net.AddNode(QNL_TYPE_LIST, "Act") : -1;
        if (act >= 0) {
            const int u = net.AddNode(QNL_TYPE_TABLE, "U");
            ASSERT_EQ(net.AddArc(act, u), 0);
            ASSERT_EQ(net.AddArc(p, u), 0);
        }
        const int c = net.AddNode(QNL_TYPE_NOISY_MAX, "C");
        ASSERT_EQ(net.AddArc(p, c), 0) << label;
        QNL_nodeDefinition* definition = net.GetNode(c)->GetDefinition();
        ASSERT_EQ(definition->SetNumberOfOutcomes(3), 0) << label;
        ASSERT_EQ(definition->SetDefinition(ArrayOf({0.2, 0.3, 0.5, 0, 0, 1, 0.1, 0.2, 0.7})), 0);
        const int d = AddBinaryNode(net, "D", {p}, {0.9, 0.4});
        ASSERT_EQ(ValueOf(net, c).SetEvidence(0), 0) << label;
        ASSERT_EQ(net.UpdateBeliefs(), 0) << label;
        ASSERT_EQ(definition->RemoveOutcome(2), 0) << label;
        QNL_errorHandler::Instance().Flush();
        double pe = -2.0;
        int code = 0;
        switch (entry) {
        case UPDATE_BELIEFS:
            code = net.UpdateBeliefs();
            break;
        case CLUSTERING_EVIDENCE:
        case CHAIN_RULE_EVIDENCE:
            code = net.CalcPropEvidence(pe, entry == CHAIN_RULE_EVIDENCE) ? 0 : -1;
            break;
        case CALL_ALGORITHM:
            code = net.CallBNAlgorithm();
            break;
        case ANNEALED_MAP: {
            std::vector<int> outcomes;
            double joint = 0.0;
            code = net.AnnealedMAP({{c, 0}}, {p, d}, outcomes, joint, pe, 1);
            break;
        }
        case VALUE_OF_INFORMATION: {
            QNL_valueOfInfo voi(&net);
            ASSERT_EQ(voi.SetDecision(act), 0) << label;
            ASSERT_EQ(voi.AddNode(p), 0) << label;
            code = net.Update(voi);
            break;
        }
        }
        EXPECT_NE(code, 0) << label << " P(e) " << pe;
        const std::vector<std::string> log = Messages();
        EXPECT_NE(std::find(log.begin(), log.end(),
                            "-568 ERROR: Node [C] is not consistent. Inference may not be correct"),
                  log.end())
            << label;
        for (int h : {p, d})
            EXPECT_FALSE(ValueOf(net, h).IsValueValid()) << label << " node " << h;
        EXPECT_TRUE(ValueOf(net, c).HasEvidence()) << label;
    }
}

// One round of random edits: after every edit each value flagged valid holds what enumeration
// gives, and an update that succeeds leaves every target valid. With `gates`, the gate edits
// too, noisy adders and polytree propagation among the algorithms: a table left inconsistent by
// a removal is refused by every evaluation until it is normalised, the probability of the
// evidence is enumeration's whenever it is given (always when an update succeeds), and a network
// emptied of nodes updates with nothing and gives the evidence probability 1.
void RunRandomEdits(int round, bool gates, bool replacing = false) {
    RandomNetworkSpec spec = RoundSpec(gates ? 52000 : 1400, round);
    spec.nodes = 3 + round % 5;
    spec.maxOutcomes = 3;
    spec.deterministicShare = 0.5;
    QNL_network net;
    const int algorithm = gates && round % 5 == 4 ? QNL_ALG_BN_POLYTREE : algorithms[round % 4];
    net.SetDefaultBNAlgorithm(algorithm);
    BuildRandomNetwork(net, spec);
    SetPossibleEvidence(net, spec.seed, 1 + round % 3);
    TestRandom random(spec.seed);
    for (int step = 0; step < 40 && net.GetNumberOfNodes() > 1 && !::testing::Test::HasFailure();
         ++step) {
        QNL_intArray nodes;
        net.GetAllNodes(nodes);
        int h = nodes[random.Below(nodes.GetCount())];
        int edit = step % 4 == 0 ? UPDATE : random.Below(gates ? GATE_EDITS : EDITS);
        // Replacements come at observed nodes, every other edit.
        if (replacing && step % 2 == 1) {
            edit = EVIDENCE;
            for (int k = 0; k < nodes.GetCount(); ++k)
                if (ValueOf(net, nodes[k]).HasEvidence() && random.Below(2) == 0) h = nodes[k];
        }
        // Emptied networks end the round: kept rare.
        if (edit == EMPTY && random.Below(4) != 0) edit = GATE_OUTCOME_REMOVAL;
        const std::string label = "round " + std::to_string(round) + " step " +
                                  std::to_string(step) + " edit " + std::to_string(edit);
        double pe = -1.0;
        const int code = edit == PROBABILITY_OF_EVIDENCE
                             ? (net.CalcPropEvidence(pe, random.Below(2) == 1) ? 0 : -1)
                             : Apply(net, h, edit, random, gates, replacing);
        if (!DefinitionsReady(net)) {
            // A removal left a gate's columns off 1.
            double refused = -1.0;
            EXPECT_FALSE(net.CalcPropEvidence(refused, random.Below(2) == 1)) << label;
            EXPECT_EQ(net.UpdateBeliefs(), -568) << label;
            ExpectNoValidBeliefs(net, label);
            for (int k = 0; k < nodes.GetCount(); ++k)
                if (net.IsValidNodeHandle(nodes[k])) NormaliseGate(net, nodes[k]);
            ASSERT_TRUE(DefinitionsReady(net)) << label;
        }
        ExpectValidValuesCurrent(net, label);
        if (edit == PROBABILITY_OF_EVIDENCE) {
            const Enumeration truth = Enumerate(net);
            if (code == 0) {
                EXPECT_NEAR(pe, truth.probabilityOfEvidence, 1e-9 * truth.probabilityOfEvidence)
                    << label;
            }
            if (net.UpdateBeliefs() == 0) {
                EXPECT_EQ(code, 0) << label;
            }
        }
        if (edit == EMPTY) {
            EXPECT_EQ(net.UpdateBeliefs(), 0) << label;
            for (const bool chainRule : {false, true}) {
                EXPECT_TRUE(net.CalcPropEvidence(pe, chainRule)) << label;
                EXPECT_EQ(pe, 1.0) << label;
            }
        }
        const std::vector<int> targets = Targets(net);
        const std::vector<int> wanted = Unobserved(net, targets);
        if (edit == UPDATE && code == 0 && (targets.empty() || !wanted.empty()) &&
            Enumerate(net).probabilityOfEvidence > 0.0)
            ExpectOracle(net, label, wanted);
    }
}

// Random sequences of every edit over networks with deterministic columns, truth tables and
// noisy-MAX nodes, so that evidence implies outcomes. Rounds 339 and 9059 of longer runs once
// caught a finding dropped with its outcome without reaching the parents conditioned on it, and
// an observed parent's outcome change that left its noisy-MAX child valid over rewritten columns.
TEST(EditInvalidation, ValuesLeftValidByRandomEditsAreCurrent) {
    for (const int round : RoundsUpTo(100, {339, 9059})) {
        if (HasFailure()) break;
        RunRandomEdits(round, false);
    }
}

// The same with new outcome counts, outcome removals at observed gates, noisy adders, the
// probability of the evidence, polytree propagation and emptied networks. Round 62 finds the
// evidence a noisy-MAX child implied at its parent while its distinguished column, emptied by
// an outcome removal, was not yet whole again.
TEST(EditInvalidation, ValuesLeftValidByRandomGateAndOutcomeCountEditsAreCurrent) {
    for (const int round : RoundsUpTo(60, {62})) {
        if (HasFailure()) break;
        RunRandomEdits(round, true);
    }
}

// The same with findings replaced as well as set and cleared: a replacement that the other
// findings rule out is refused and changes no evidence (the node keeps its finding, every node
// its implied evidence), and the values left valid stay current. Refusals once dropped the
// evidence the old finding implied together with others.
TEST(EditInvalidation, RefusedFindingsChangeNoEvidenceUnderRandomEdits) {
    for (const int round : RoundsUpTo(100)) {
        if (HasFailure()) break;
        RunRandomEdits(round, round % 2 == 1, true);
    }
}

// Each node's evidence and whether its value is valid.
std::vector<std::string> EvidenceAndValidity(const QNL_network& net) {
    std::vector<std::string> out = EvidenceState(net);
    std::size_t i = 0;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h), ++i)
        out[i] += ValueOf(net, h).IsValueValid() ? " valid" : "";
    return out;
}

// A network that derives the implied evidence from all its findings at its next edit: a copy
// holds its evidence without the notices that made it.
void ForgetDerivation(QNL_network& net) {
    const QNL_network copy(net);
    ASSERT_EQ(net.Copy(copy), 0);
}

// Random small networks with deterministic columns, and findings, take random edits of their
// structure, tables and outcomes, new nodes (with findings on the way) and findings; a twin
// takes the same edits after forgetting its derivation each time, so that every edit told to
// it derives the implied evidence from all findings. After each edit told to the networks
// both hold the same evidence, what a copy derives afresh, and the same values valid, which
// hold what enumeration gives. Findings alone are propagated as they come, in both alike.
TEST(EditInvalidation, ImpliedEvidenceAfterRandomEditsIsWhatAFullDerivationGives) {
    const Edit edits[] = {REMOVE_ARC, DELETE_NODE, REORDER,  TABLE,    TYPE,     ADD_ARC,
                          ADD_NODE,   OUTCOME,     EVIDENCE, EVIDENCE, EVIDENCE, OUTCOME_COUNT};
    int stood = 0, compared = 0;
    for (const int round : RoundsUpTo(1000)) {
        if (HasFailure()) break;
        RandomNetworkSpec spec = RoundSpec(61000, round);
        spec.nodes = 3 + round % 5;
        spec.maxOutcomes = 3;
        spec.deterministicShare = 0.5;
        QNL_network net, twin;
        BuildRandomNetwork(net, spec);
        SetPossibleEvidence(net, spec.seed, 1 + round % 3);
        ASSERT_EQ(twin.Copy(net), 0);
        TestRandom random(spec.seed * 3 + 1);
        for (int step = 0; step < 20 && net.GetNumberOfNodes() > 1 && !HasFailure(); ++step) {
            QNL_intArray nodes;
            net.GetAllNodes(nodes);
            const int h = nodes[random.Below(nodes.GetCount())];
            const Edit edit =
                step % 5 == 4 ? UPDATE : edits[random.Below(static_cast<int>(std::size(edits)))];
            const std::string label = "round " + std::to_string(round) + " step " +
                                      std::to_string(step) + " edit " + std::to_string(edit);
            const bool arcs = net.GetParents(h).GetCount() + net.GetChildren(h).GetCount() > 0;
            const std::uint64_t version = net.GetStructureVersion();
            const std::uint64_t rederived = net.GetEvidenceWork().rederived;
            ForgetDerivation(twin);
            TestRandom twinRandom = random;
            const int code = Apply(net, h, edit, random);
            EXPECT_EQ(Apply(twin, h, edit, twinRandom), code) << label;
            // Only an edit told to the network derives: not a finding, an update, a refused
            // edit or a node deleted without arcs.
            const bool told = edit != EVIDENCE && edit != UPDATE && code == 0 &&
                              net.GetStructureVersion() != version && (edit != DELETE_NODE || arcs);
            if (!DefinitionsReady(net)) {
                for (QNL_network* n : {&net, &twin}) {
                    QNL_intArray all;
                    n->GetAllNodes(all);
                    for (int k = 0; k < all.GetCount(); ++k)
                        if (n->GetNode(all[k])->GetDefinition()->GetType() == QNL_TYPE_NOISY_MAX)
                            NormaliseGate(*n, all[k]);
                }
            }
            EXPECT_EQ(EvidenceAndValidity(net), EvidenceAndValidity(twin)) << label;
            if (!told) continue;
            ++compared;
            if (net.GetEvidenceWork().rederived == rederived) ++stood;
            QNL_network fresh(net);
            ASSERT_EQ(fresh.NotifyChange(fresh.GetFirstNode(), QNL_network::CHANGE_VALUES), 0)
                << label;
            EXPECT_EQ(EvidenceState(net), EvidenceState(fresh)) << label;
            ExpectValidValuesCurrent(net, label);
        }
    }
    // The derivation stood through many of the edits compared.
    EXPECT_GT(stood, compared / 8) << stood << " of " << compared;
}

// A diagram whose decision D observes A and F, F a common child of A and C, and E between A
// and C observed: C's value is indexed by A and F, yet no walk from A reaches C (E blocks
// it). Every value an edit of an indexing parent leaves valid must still have one cell per
// combination of its indexing parents' outcomes and its own, and name only existing nodes.
class IndexingParentEdits : public NetworkFixture {
protected:
    void Build() {
        a = Add(QNL_TYPE_CPT, "A");
        const int e = Add(QNL_TYPE_CPT, "E");
        c = Add(QNL_TYPE_CPT, "C");
        f = Add(QNL_TYPE_CPT, "F");
        const int d = Add(QNL_TYPE_LIST, "D");
        const int u = Add(QNL_TYPE_TABLE, "U");
        for (const auto& [from, to] : std::vector<std::pair<int, int>>{
                 {a, e}, {e, c}, {c, f}, {a, f}, {a, d}, {f, d}, {d, u}, {f, u}})
            ASSERT_EQ(net.AddArc(from, to), 0);
        ASSERT_EQ(Def(f)->SetDefinition(ArrayOf({0.9, 0.1, 0.2, 0.8, 0.3, 0.7, 0.6, 0.4})), 0);
        ASSERT_EQ(Def(u)->SetDefinition(ArrayOf({1, 2, 3, 4})), 0);
        ASSERT_EQ(ValueOf(net, e).SetEvidence(0), 0);
        ASSERT_EQ(net.UpdateBeliefs(), 0);
        ASSERT_TRUE(ValueOf(net, c).GetIndexingParents().IsInList(a));
    }

    void ExpectValidValuesShaped(const std::string& label) {
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            QNL_nodeValue& value = *net.GetNode(h)->GetValue();
            if (!value.IsValueValid() || value.GetMatrix() == nullptr) continue;
            const QNL_intArray& indexing = value.GetIndexingParents();
            int cells = std::max(1, Def(h)->GetNumberOfOutcomes());
            for (int i = 0; i < indexing.GetCount(); ++i) {
                ASSERT_TRUE(net.IsValidNodeHandle(indexing[i])) << label << " node " << h;
                cells *= Def(indexing[i])->GetNumberOfOutcomes();
            }
            EXPECT_EQ(value.GetMatrix()->GetSize(), cells) << label << " node " << h;
        }
    }

    int a = -1, c = -1, f = -1;
};

TEST_F(IndexingParentEdits, ValuesIndexedByAnEditedNodeAreNotLeftValid) {
    struct Case {
        const char* label;
        int (*edit)(QNL_network& net, int node);
    } cases[] = {
        {"outcome added",
         [](QNL_network& n, int h) { return n.GetNode(h)->GetDefinition()->AddOutcome("x"); }},
        {"outcome inserted",
         [](QNL_network& n, int h) {
             return n.GetNode(h)->GetDefinition()->InsertOutcome(0, "x");
         }},
        {"node deleted",
         [](QNL_network& n, int h) {
             const int result = n.DeleteNode(h);
             // The freed handle goes to a node of another outcome count.
             const int again = n.AddNode(QNL_TYPE_CPT, "Again");
             return result != 0 ? result
                    : again < 0 ? again
                                : n.GetNode(again)->GetDefinition()->AddOutcome("y");
         }},
    };
    for (const Case& k : cases) {
        for (const bool first : {true, false}) {
            net.DeleteAllNodes();
            Build();
            if (HasFatalFailure()) return;
            const std::string label = std::string(k.label) + (first ? " A" : " F");
            EXPECT_GE(k.edit(net, first ? a : f), 0) << label;
            ExpectValidValuesShaped(label);
        }
    }
}

} // namespace
