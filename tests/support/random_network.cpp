#include "support/random_network.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <string>

#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

namespace quarn_test {

std::uint64_t TestRandom::Next() {
    // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double TestRandom::Uniform() {
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

int TestRandom::Below(int n) {
    return static_cast<int>(Next() % static_cast<std::uint64_t>(n));
}

std::vector<int> RoundsUpTo(int count, std::vector<int> named) {
    const char* more = std::getenv("QUARN_RANDOM_EDIT_ROUNDS");
    if (more != nullptr) count = std::max(count, std::atoi(more));
    std::vector<int> rounds(static_cast<std::size_t>(count));
    std::iota(rounds.begin(), rounds.end(), 0);
    rounds.insert(rounds.end(), named.begin(), named.end());
    return rounds;
}

RandomNetworkSpec RoundSpec(std::uint64_t base, int round) {
    RandomNetworkSpec spec;
    spec.seed = base + static_cast<std::uint64_t>(round);
    spec.nodes = 2 + round % 11;
    spec.maxParents = 1 + round % 4;
    spec.deterministicShare = round % 3 == 0 ? 0.3 : 0.0;
    return spec;
}

std::vector<int> BuildRandomNetwork(QNL_network& network, const RandomNetworkSpec& spec) {
    TestRandom random(spec.seed);
    std::vector<int> handles;
    for (int i = 0; i < spec.nodes; ++i) {
        const std::string id = "N" + std::to_string(i);
        const int handle = network.AddNode(QNL_TYPE_CPT, id.c_str());
        EXPECT_GE(handle, 0) << id;
        if (handle < 0) return handles;
        const int outcomes = 2 + random.Below(spec.maxOutcomes - 1);
        EXPECT_EQ(network.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(outcomes), 0);
        handles.push_back(handle);
    }
    for (int i = 1; i < spec.nodes; ++i) {
        std::vector<int> candidates(handles.begin(), handles.begin() + i);
        for (int k = random.Below(std::min(spec.maxParents, i) + 1); k > 0; --k) {
            const int pick = random.Below(static_cast<int>(candidates.size()));
            EXPECT_EQ(network.AddArc(candidates[pick], handles[i]), 0);
            candidates.erase(candidates.begin() + pick);
        }
    }
    for (int handle : handles) {
        QNL_nodeDefinition* definition = network.GetNode(handle)->GetDefinition();
        const int outcomes = definition->GetNumberOfOutcomes();
        QNL_doubleArray values;
        values.SetSize(definition->GetMatrix()->GetSize());
        for (int start = 0; start < values.GetSize(); start += outcomes) {
            double* column = values.Items() + start;
            if (random.Uniform() < spec.deterministicShare) {
                const int certain = random.Below(outcomes);
                for (int k = 0; k < outcomes; ++k)
                    column[k] = k == certain ? 1.0 : 0.0;
                continue;
            }
            double sum = 0.0;
            for (int k = 0; k < outcomes; ++k)
                sum += column[k] = 0.05 + random.Uniform();
            for (int k = 0; k < outcomes; ++k)
                column[k] /= sum;
        }
        EXPECT_EQ(definition->SetDefinition(values), 0);
    }
    return handles;
}

std::vector<int> ForwardSample(QNL_network& network, TestRandom& random) {
    std::vector<int> sample(network.GetTableSize(), -1);
    const QNL_intArray order(network.GetOrderedNodes());
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        QNL_nodeDefinition* definition = network.GetNode(h)->GetDefinition();
        const QNL_Dmatrix* table = definition->GetMatrix();
        const QNL_intArray& parents = network.GetParents(h);
        int start = 0;
        for (int k = 0; k < parents.GetCount(); ++k)
            start += sample[parents[k]] * table->GetMultiplier(k);
        const double u = random.Uniform();
        double cumulative = 0.0;
        for (int k = 0; k < definition->GetNumberOfOutcomes(); ++k) {
            const double p = table->Subscript(start + k);
            cumulative += p;
            if (p > 0.0) sample[h] = k; // the last possible outcome catches rounding
            if (p > 0.0 && u < cumulative) break;
        }
    }
    return sample;
}

void ObserveJointDraw(QNL_network& network, double share, std::uint64_t seed) {
    TestRandom random(seed);
    const std::vector<int> sample = ForwardSample(network, random);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_nodeValue* value = network.GetNode(h)->GetValue();
        if (random.Uniform() < share && !value->IsObserved()) value->SetEvidence(sample[h]);
    }
}

std::vector<int> SetPossibleEvidence(QNL_network& network, std::uint64_t seed, int count) {
    TestRandom random(seed);
    const std::vector<int> sample = ForwardSample(network, random);
    std::vector<int> nodes, observed;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        nodes.push_back(h);
    while (count-- > 0 && !nodes.empty()) {
        const int pick = random.Below(static_cast<int>(nodes.size()));
        const int h = nodes[pick];
        nodes.erase(nodes.begin() + pick);
        EXPECT_EQ(network.GetNode(h)->GetValue()->SetEvidence(sample[h]), 0) << "node " << h;
        observed.push_back(h);
    }
    return observed;
}

bool SetImpossibleEvidence(QNL_network& network, std::uint64_t seed) {
    TestRandom random(seed);
    std::vector<std::pair<int, int>> zeros; // node, cell
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_Dmatrix* table = network.GetNode(h)->GetDefinition()->GetMatrix();
        for (int c = 0; c < table->GetSize(); ++c)
            if (table->Subscript(c) == 0.0) zeros.push_back({h, c});
    }
    if (zeros.empty()) return false;
    const auto [node, cell] = zeros[random.Below(static_cast<int>(zeros.size()))];
    QNL_intArray coordinates;
    network.GetNode(node)->GetDefinition()->GetMatrix()->CoordinatesFromIndex(cell, coordinates);

    const int control = network.GetNotificationControl();
    network.SetNotificationControl(0);
    const QNL_intArray& parents = network.GetParents(node);
    for (int k = 0; k < parents.GetCount(); ++k)
        EXPECT_EQ(network.GetNode(parents[k])->GetValue()->SetEvidence(coordinates[k]), 0);
    EXPECT_EQ(network.GetNode(node)->GetValue()->SetEvidence(coordinates[parents.GetCount()]), 0);
    network.SetNotificationControl(control);
    return true;
}

int AddBinaryNode(QNL_network& network, const char* id, const std::vector<int>& parents,
                  const std::vector<double>& pTrue) {
    const int handle = network.AddNode(QNL_TYPE_CPT, id);
    EXPECT_GE(handle, 0) << id;
    if (handle < 0) return handle;
    for (int parent : parents)
        EXPECT_EQ(network.AddArc(parent, handle), 0) << id;
    std::vector<double> values;
    for (double p : pTrue)
        values.insert(values.end(), {p, 1.0 - p});
    EXPECT_EQ(network.GetNode(handle)->GetDefinition()->SetDefinition(ArrayOf(values)), 0) << id;
    return handle;
}

Sprinkler BuildSprinkler(QNL_network& network) {
    Sprinkler s{};
    s.cloudy = AddBinaryNode(network, "Cloudy", {}, {0.5});
    s.sprinkler = AddBinaryNode(network, "Sprinkler", {s.cloudy}, {0.1, 0.5});
    s.rain = AddBinaryNode(network, "Rain", {s.cloudy}, {0.8, 0.2});
    s.wetGrass = AddBinaryNode(network, "WetGrass", {s.sprinkler, s.rain}, {0.99, 0.9, 0.9, 0.0});
    return s;
}

Asia BuildAsia(QNL_network& network) {
    Asia a{};
    a.visit = AddBinaryNode(network, "VisitAsia", {}, {0.01});
    a.smoking = AddBinaryNode(network, "Smoking", {}, {0.5});
    a.tuberculosis = AddBinaryNode(network, "Tuberculosis", {a.visit}, {0.05, 0.01});
    a.cancer = AddBinaryNode(network, "LungCancer", {a.smoking}, {0.1, 0.01});
    a.bronchitis = AddBinaryNode(network, "Bronchitis", {a.smoking}, {0.6, 0.3});
    a.either = AddBinaryNode(network, "Either", {a.tuberculosis, a.cancer}, {1.0, 1.0, 1.0, 0.0});
    a.xray = AddBinaryNode(network, "XRay", {a.either}, {0.98, 0.05});
    a.dyspnoea = AddBinaryNode(network, "Dyspnoea", {a.either, a.bronchitis}, {0.9, 0.7, 0.8, 0.1});
    return a;
}

Alarm BuildAlarm(QNL_network& network) {
    Alarm a{};
    a.burglary = AddBinaryNode(network, "Burglary", {}, {0.001});
    a.earthquake = AddBinaryNode(network, "Earthquake", {}, {0.002});
    a.alarm =
        AddBinaryNode(network, "Alarm", {a.burglary, a.earthquake}, {0.95, 0.94, 0.29, 0.001});
    a.johnCalls = AddBinaryNode(network, "JohnCalls", {a.alarm}, {0.9, 0.05});
    a.maryCalls = AddBinaryNode(network, "MaryCalls", {a.alarm}, {0.7, 0.01});
    return a;
}

void BuildLargeNetwork(QNL_network& network, int nodes, bool random) {
    if (random) {
        RandomNetworkSpec spec;
        spec.seed = 7;
        spec.nodes = nodes;
        BuildRandomNetwork(network, spec);
        return;
    }
    for (int i = 0; i < nodes; ++i) {
        ASSERT_EQ(network.AddNode(QNL_TYPE_CPT, ("N" + std::to_string(i)).c_str()), i);
        if (i > 0) {
            ASSERT_EQ(network.AddArc(i - 1, i), 0);
        }
    }
}

void ThinToForest(QNL_network& network) {
    std::vector<int> root(static_cast<std::size_t>(std::max(network.GetLastNode() + 1, 0)));
    std::iota(root.begin(), root.end(), 0);
    auto find = [&](int x) {
        while (root[static_cast<std::size_t>(x)] != x)
            x = root[static_cast<std::size_t>(x)];
        return x;
    };
    for (int child = network.GetFirstNode(); child >= 0; child = network.GetNextNode(child)) {
        const QNL_intArray parents(network.GetParents(child));
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int a = find(parents[i]), b = find(child);
            if (a == b)
                EXPECT_EQ(network.RemoveArc(parents[i], child), 0);
            else
                root[static_cast<std::size_t>(a)] = b;
        }
    }
    EXPECT_EQ(network.IsPolytree(), 1);
}

} // namespace quarn_test
