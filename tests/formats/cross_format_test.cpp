// One network published in several formats must read into the same model, whichever reader
// took it: same nodes, outcomes, parents and the same probability for every configuration.

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

std::string NetworksDir() {
    return std::string(QUARN_SHARED_DIR) + "/data/networks/";
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

std::string Outcome(const QNL_network& net, int node, int k) {
    const QNL_idArray* ids = net.GetNode(node)->GetDefinition()->GetOutcomeIds();
    const char* id = ids != nullptr ? ids->GetString(k) : nullptr;
    return id != nullptr ? id : "";
}

// P(node = outcome | parents = configuration), parents named by identifier and outcomes by
// position (publications of one network spell some outcomes differently), so the parent order
// and table layout of either reader do not matter.
double Probability(QNL_network& net, int node, const std::map<std::string, int>& config,
                   int outcome) {
    QNL_Dmatrix* table = net.GetNode(node)->GetDefinition()->GetMatrix();
    const QNL_intArray& parents = net.GetParents(node);
    QNL_intArray at;
    at.SetSize(table->GetNumberOfDimensions());
    for (int i = 0; i < parents.GetCount(); ++i)
        at[i] = config.at(net.GetNode(parents[i])->GetId());
    at[table->GetNumberOfDimensions() - 1] = outcome;
    return table->GetValue(at);
}

::testing::AssertionResult SameModel(QNL_network& a, QNL_network& b) {
    if (a.GetNumberOfNodes() != b.GetNumberOfNodes())
        return ::testing::AssertionFailure() << "node counts differ";
    for (int h = a.GetFirstNode(); h >= 0; h = a.GetNextNode(h)) {
        const std::string id = a.GetNode(h)->GetId();
        const int g = b.FindNode(id.c_str());
        if (g < 0) return ::testing::AssertionFailure() << "no node " << id;
        const QNL_intArray& parents = a.GetParents(h);
        if (parents.GetCount() != b.GetParents(g).GetCount())
            return ::testing::AssertionFailure() << id << ": parent counts differ";
        std::vector<std::string> parentIds;
        std::vector<int> sizes;
        for (int i = 0; i < parents.GetCount(); ++i) {
            parentIds.push_back(a.GetNode(parents[i])->GetId());
            sizes.push_back(a.GetNode(parents[i])->GetDefinition()->GetNumberOfOutcomes());
            if (!b.GetParents(g).IsInList(b.FindNode(parentIds.back().c_str())))
                return ::testing::AssertionFailure() << id << ": parent " << parentIds.back();
        }
        const int outcomes = a.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        if (outcomes != b.GetNode(g)->GetDefinition()->GetNumberOfOutcomes())
            return ::testing::AssertionFailure() << id << ": outcome counts differ";
        std::vector<int> at(parentIds.size(), 0);
        for (bool more = true; more;) {
            std::map<std::string, int> config;
            for (std::size_t i = 0; i < at.size(); ++i)
                config[parentIds[i]] = at[i];
            for (int k = 0; k < outcomes; ++k) {
                const double p = Probability(a, h, config, k);
                const double q = Probability(b, g, config, k);
                // The XML publications round to six decimals.
                if (!(std::fabs(p - q) <= 5e-6))
                    return ::testing::AssertionFailure()
                           << id << "=" << Outcome(a, h, k) << ": " << p << " and " << q;
            }
            more = false;
            for (std::size_t i = at.size(); i-- > 0;) {
                if (++at[i] < sizes[i]) {
                    more = true;
                    break;
                }
                at[i] = 0;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

struct Published {
    const char* hugin;
    const char* other;
    int code; // the other file's format
};

TEST(CrossFormat, OneNetworkReadsTheSameFromEveryFormat) {
    if (!Exists(NetworksDir() + "INDEX.md")) GTEST_SKIP() << "shared networks absent";
    const Published pairs[] = {
        {"asia.net", "xmlbif/asia.xml", 6},
        {"cancer.net", "xmlbif/cancer.xml", 6},
        {"earthquake.net", "xmlbif/earthquake.xml", 6},
        {"child.net", "xmlbif/child.xml", 6},
        {"../xmlbif/alarm.xml", "dsc/alarm.dsc", 3},
        {"insurance.net", "xmlbif/insurance.xml", 6},
        {"hailfinder.net", "xmlbif/hailfinder.xml", 6},
        {"water.net", "xmlbif/water.xml", 6},
        {"hepar2.net", "xmlbif/hepar2.xml", 6},
        {"asia.net", "dsc/asia.dsc", 3},
        {"child.net", "dsc/child.dsc", 3},
    };
    int compared = 0;
    for (const Published& pair : pairs) {
        const std::string first = NetworksDir() + "net/" + pair.hugin;
        const std::string second = NetworksDir() + pair.other;
        if (!Exists(first) || !Exists(second)) continue;
        QNL_network a, b;
        const int firstCode = first.size() > 4 && first.substr(first.size() - 4) == ".xml" ? 6 : 5;
        ASSERT_EQ(a.ReadFile(first.c_str(), firstCode), 0) << first;
        ASSERT_EQ(b.ReadFile(second.c_str(), pair.code), 0) << second;
        EXPECT_TRUE(SameModel(a, b)) << pair.hugin << " vs " << pair.other;
        ++compared;
    }
    QNL_errorHandler::Instance().Flush();
    EXPECT_GT(compared, 0);
}

} // namespace
