#include "support/large_network.h"

#include "model/double_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <string>

namespace quarn_test {

void BuildLargeNetwork(QNL_network& network, int nodes, bool random) {
    TestRandom draw(7);
    for (int i = 0; i < nodes; ++i) {
        const int h = network.AddNode(QNL_TYPE_CPT, ("n" + std::to_string(i)).c_str());
        ASSERT_EQ(h, i);
        QNL_nodeDefinition* definition = network.GetNode(h)->GetDefinition();
        if (!random) {
            if (i > 0) {
                ASSERT_EQ(network.AddArc(i - 1, i), 0);
            }
            continue;
        }
        ASSERT_EQ(definition->SetNumberOfOutcomes(2 + draw.Below(3)), 0);
        // A parent drawn twice is refused as related.
        for (int k = draw.Below(4); k > 0 && i > 0; --k)
            network.AddArc(i - 1 - draw.Below(i < 40 ? i : 40), h);
        const int outcomes = definition->GetNumberOfOutcomes();
        QNL_doubleArray values;
        values.SetSize(definition->GetMatrix()->GetSize());
        for (int start = 0; start < values.GetSize(); start += outcomes) {
            double sum = 0.0;
            for (int k = 0; k < outcomes; ++k)
                sum += values[start + k] = 0.05 + draw.Uniform();
            for (int k = 0; k < outcomes; ++k)
                values[start + k] /= sum;
        }
        ASSERT_EQ(definition->SetDefinition(values), 0);
    }
}

} // namespace quarn_test
