#include "support/sampled_data.h"

#include "model/node.h"
#include "support/random_network.h"

namespace quarn_test {

QNL_dataset SampleDataSet(QNL_network& network, const std::vector<int>& nodes, int records,
                          double missing, std::uint64_t seed,
                          std::vector<std::vector<int>>* complete) {
    QNL_dataset data;
    for (std::size_t v = 0; v < nodes.size(); ++v) {
        data.addIntVariable(network.GetNode(nodes[v])->GetId(), nullptr, -1);
        data.setNodeHandle(static_cast<int>(v), nodes[v]);
    }
    TestRandom random(seed);
    std::vector<QNL_datasetCell> record(nodes.size());
    for (int r = 0; r < records; ++r) {
        const std::vector<int> sample = ForwardSample(network, random);
        for (std::size_t v = 0; v < nodes.size(); ++v) {
            const int outcome = sample[static_cast<std::size_t>(nodes[v])];
            record[v] = QNL_IntCell(random.Uniform() < missing ? -1 : outcome);
        }
        data.addRecord(record);
        if (complete != nullptr) complete->push_back(sample);
    }
    return data;
}

} // namespace quarn_test
