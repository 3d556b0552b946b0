#include "support/temporal_oracle.h"

#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/temporal_network.h"
#include "support/network_builder.h"
#include "support/oracle.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace quarn_test {

void FillRandom(QNL_nodeDefinition* definition, TestRandom& random, double certainShare,
                bool notifying) {
    std::vector<double> values = ValuesOf(definition);
    const int outcomes = definition->GetNumberOfOutcomes();
    for (std::size_t c = 0; c < values.size(); c += static_cast<std::size_t>(outcomes)) {
        const int certain =
            certainShare > 0.0 && random.Uniform() < certainShare ? random.Below(outcomes) : -1;
        double sum = 0.0;
        for (int o = 0; o < outcomes; ++o)
            sum += values[c + o] = certain >= 0 ? (o == certain) : 0.05 + random.Uniform();
        for (int o = 0; o < outcomes; ++o)
            values[c + o] /= sum;
    }
    if (notifying)
        ASSERT_EQ(static_cast<QNL_cpt*>(definition)->SetProbabilities(ArrayOf(values)), 0);
    else
        ASSERT_EQ(definition->SetDefinition(ArrayOf(values)), 0);
}

void UnrollByHand(QNL_network& net, int slices, QNL_network& out,
                  std::map<std::pair<int, int>, int>& at) {
    QNL_temporalNetwork& ext = net.GetTemporalNetwork();
    auto type = [&](int h) { return net.GetTemporalType(h); };
    // Utilities have no outcomes, decisions no table.
    auto make = [&](int h, const std::string& id) {
        const int made = out.AddNode(net.GetNode(h)->GetType(), id.c_str());
        const QNL_idArray* ids = net.GetNode(h)->GetDefinition()->GetOutcomeIds();
        if (ids != nullptr) {
            EXPECT_EQ(out.GetNode(made)->GetDefinition()->SetNumberOfOutcomes(*ids), 0);
        }
        return made;
    };
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
        if (type(h) != 3) at[{h, 0}] = make(h, net.GetNode(h)->GetId());
    for (int t = 0; t < slices; ++t)
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h))
            if (type(h) == 3)
                at[{h, t}] = make(h, net.GetNode(h)->GetId() + (t ? "_" + std::to_string(t) : ""));
    auto in = [&](int h, int t) { return at.at({h, type(h) == 3 ? t : 0}); };
    auto table = [&](int node, const QNL_nodeDefinition* def) {
        if (def->GetType() == QNL_TYPE_LIST) return;
        ASSERT_EQ(out.GetNode(node)->GetDefinition()->SetDefinition(ArrayOf(ValuesOf(def))), 0);
    };
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_intArray& parents = net.GetParents(h);
        if (type(h) != 3) {
            const int last = type(h) == 2 ? slices - 1 : 0;
            for (int i = 0; i < parents.GetCount(); ++i)
                ASSERT_EQ(out.AddArc(in(parents[i], last), at[{h, 0}]), 0);
            table(at[{h, 0}], net.GetNode(h)->GetDefinition());
            continue;
        }
        for (int t = 0; t < slices; ++t) {
            for (int i = 0; i < parents.GetCount(); ++i) {
                if (t > 0 && type(parents[i]) == 1) continue;
                ASSERT_EQ(out.AddArc(in(parents[i], t), at[{h, t}]), 0);
            }
            int order = std::min(t, 2); // the largest order with a definition, not above t
            while (order > 0 && ext.GetTemporalDefinition(h, order) == nullptr)
                --order;
            for (int k = 1; k <= order; ++k) {
                QNL_intArray tp;
                net.GetTemporalParents(h, k, tp);
                for (int i = 0; i < tp.GetCount(); ++i)
                    ASSERT_EQ(out.AddArc(at[{tp[i], t - k}], at[{h, t}]), 0);
            }
            table(at[{h, t}],
                  order ? ext.GetTemporalDefinition(h, order) : net.GetNode(h)->GetDefinition());
        }
    }
}

void UnrollWithEvidence(QNL_network& net, QNL_network& out,
                        std::map<std::pair<int, int>, int>& at) {
    const int slices = net.GetNumberOfSlices() > 0 ? net.GetNumberOfSlices() : 1;
    UnrollByHand(net, slices, out, at);
    out.SetNotificationControl(0);
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue* value = net.GetNode(h)->GetValue();
        if (value->HasEvidence()) {
            ASSERT_EQ(out.GetNode(at.at({h, 0}))->GetValue()->SetEvidence(value->GetEvidence()), 0);
        }
        if (net.GetTemporalType(h) != 3) continue;
        for (int t = 1; t < slices; ++t) {
            const int outcome = net.GetSliceEvidence(h, t);
            if (outcome >= 0) {
                ASSERT_EQ(out.GetNode(at.at({h, t}))->GetValue()->SetEvidence(outcome), 0);
            }
        }
    }
}

::testing::AssertionResult ValidValuesMatchUnrolling(QNL_network& net, int* compared) {
    if (compared != nullptr) *compared = 0;
    bool anyToCompare = false;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_nodeValue* value = net.GetNode(h)->GetValue();
        anyToCompare = anyToCompare || value->IsValueValid() || value->HasPropagatedEvidence();
    }
    if (!anyToCompare) return ::testing::AssertionSuccess();
    QNL_network hand;
    std::map<std::pair<int, int>, int> at;
    UnrollWithEvidence(net, hand, at);
    const Enumeration truth = Enumerate(hand);
    if (!truth.ok) return ::testing::AssertionFailure() << "enumeration: " << truth.error;
    if (truth.probabilityOfEvidence == 0.0) return ::testing::AssertionSuccess();
    const int slices = net.GetNumberOfSlices() > 0 ? net.GetNumberOfSlices() : 1;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeValue* value = net.GetNode(h)->GetValue();
        // Implied evidence is certain in the unrolling, in the slice of the node's own finding.
        if (value->HasPropagatedEvidence() && !value->HasEvidence() &&
            !(truth.Posterior(at.at({h, 0}))[static_cast<std::size_t>(value->GetEvidence())] >
              1.0 - 1e-9))
            return ::testing::AssertionFailure() << net.GetNode(h)->GetId() << " is implied at "
                                                 << value->GetEvidence() << ", not certain";
        if (!value->IsValueValid()) continue;
        const bool plate = net.GetTemporalType(h) == 3;
        std::vector<double> expected;
        for (int t = 0; t < (plate ? slices : 1); ++t) {
            const std::vector<double>& row = truth.Posterior(at.at({h, t}));
            expected.insert(expected.end(), row.begin(), row.end());
        }
        const QNL_Dmatrix* m = value->GetMatrix();
        const std::string id = net.GetNode(h)->GetId();
        if (m == nullptr || m->GetSize() != static_cast<int>(expected.size()))
            return ::testing::AssertionFailure()
                   << id << " is valid with " << (m ? m->GetSize() : 0) << " cells, not "
                   << expected.size();
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (!(std::fabs(m->Subscript(static_cast<int>(i)) - expected[i]) <= 1e-9))
                return ::testing::AssertionFailure()
                       << id << " is valid with cell " << i << " at "
                       << m->Subscript(static_cast<int>(i)) << ", unrolled " << expected[i];
        if (compared != nullptr) ++*compared;
    }
    return ::testing::AssertionSuccess();
}

} // namespace quarn_test
