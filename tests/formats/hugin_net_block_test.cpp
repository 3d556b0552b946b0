// The net block of a Hugin file carries attributes of the tools that wrote it. They are kept
// as user properties of the network, read without a message, and written back.

#include "model/error_handler.h"
#include "model/network.h"
#include "model/node_info.h"
#include "model/submodel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace {

using Properties = std::map<std::string, std::string>;

Properties PropertiesOf(QNL_network& network) {
    Properties found;
    const QNL_userProperties& properties = network.GetUserProperties();
    for (int i = 0; i < properties.GetNumberOfProperties(); ++i)
        found[properties.GetName(i)] = properties.GetValue(i);
    return found;
}

TEST(HuginNetBlock, AttributesOfOtherToolsBecomeNetworkPropertiesWithoutAMessage) {
    const std::string file = std::string(QUARN_TEST_DATA_DIR) + "/hostile/net_attributes.net";
    const Properties expected = {{"name", "Munin"},
                                 {"tree", "(A,B)"},
                                 {"UnBBayes_Color_Probabilistic_Description", "-256"},
                                 {"software", "x 1.0"}};
    QNL_errorHandler::Instance().Flush();
    QNL_network network;
    ASSERT_EQ(0, network.ReadFile(file.c_str()));
    // A message left behind would be reported with the next failure, which has nothing to do
    // with it.
    EXPECT_EQ(0, QNL_errorHandler::Instance().GetNumberOfErrors());
    EXPECT_EQ(expected, PropertiesOf(network));
    EXPECT_EQ(80, network.GetSubmodelHandler().GetDefaultNodeScreenInfo().position.width);

    const std::string copy = ::testing::TempDir() + "quarn_net_attributes_copy.net";
    ASSERT_EQ(0, network.WriteFile(copy.c_str()));
    QNL_network back;
    ASSERT_EQ(0, back.ReadFile(copy.c_str()));
    EXPECT_EQ(expected, PropertiesOf(back));
    std::filesystem::remove(copy);
}

TEST(HuginNetBlock, RealFilesKeepTheirNetAttributes) {
    const std::string folder = std::string(QUARN_SHARED_DIR) + "/data/networks/net/";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no " << folder;
    struct Case {
        const char* file;
        const char* name;
        const char* value;
    } const cases[] = {
        {"asia_unbbayes.net", "name", "Chest-clinic"},
        {"asia_unbbayes.net", "UnBBayes_Color_Probabilistic_Description", "-256"},
        {"asia_agrum.net", "name", "Asia"},
        {"child_agrum.net", "software", "aGrUM 1.9.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        QNL_errorHandler::Instance().Flush();
        QNL_network network;
        ASSERT_EQ(0, network.ReadFile((folder + c.file).c_str()));
        EXPECT_EQ(0, QNL_errorHandler::Instance().GetNumberOfErrors());
        EXPECT_EQ(c.value, PropertiesOf(network)[c.name]);
    }
}

} // namespace
