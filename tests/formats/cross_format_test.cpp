// The shared collection of real model files: every file of a format read here reads with the
// counts its index gives, and one network published in several formats reads into the same
// model, whichever reader took it.

#include "format_test_support.h"
#include "formats/format.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace format_test;

// The parser cases that are malformed for the MSBN reader. Three of the set named malformed
// are sound here: a network name with a blank, two blanks after "node", and a header without
// nodes (which is what the writer makes of an empty network).
bool Malformed(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename();
    if (name == "ab_bad_network2.dsc" || name == "ab_bad_node1.dsc" ||
        name == "ab_only_network.dsc")
        return false;
    for (const char* mark : {"bad_", "duplicate_", "missing_", "missplaced_", "empty"})
        if (name.find(mark) != std::string::npos) return true;
    return false;
}

// The ".xml" files are XMLBIF, the others say their format by their extension.
int CodeOf(const std::string& path) {
    return path.substr(path.size() - 4) == ".xml" ? QNL_FORMAT_XMLBIF : 0;
}

TEST(RealFiles, EveryFileReadsWithTheCountsOfTheIndex) {
    const auto index = ReadIndex(RealNetworks() + "/INDEX.md");
    ASSERT_FALSE(index.empty());
    std::map<std::string, int> read;
    for (const auto& [path, entry] : index) {
        const std::string folder = path.substr(0, path.find('/'));
        if (folder != "net" && folder != "dsc" && folder != "xmlbif") continue;
        SCOPED_TRACE(path);
        QNL_errorHandler::Instance().Flush();
        QNL_network net;
        const std::string file = RealNetworks() + "/" + path;
        const int result = net.ReadFile(file.c_str(), CodeOf(file));
        ++read[entry.format];
        if (entry.format.find("pre-0.3") != std::string::npos) {
            // The older element set has no VERSION="0.3": refused, never half read.
            EXPECT_EQ(result, -2);
            EXPECT_TRUE(Logged("ERROR: Incorrect BIF Version")) << AllMessages();
            EXPECT_EQ(net.GetNumberOfNodes(), 0);
            continue;
        }
        if (folder == "dsc" && Malformed(path)) {
            EXPECT_LT(result, 0);
            EXPECT_GT(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
            continue;
        }
        ASSERT_EQ(0, result) << AllMessages();
        if (folder == "xmlbif") {
            EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0);
        }
        EXPECT_EQ(entry.nodes, net.GetNumberOfNodes());
        EXPECT_EQ(entry.arcs, CountArcs(net));
        for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
            EXPECT_TRUE(net.GetNode(h)->IsValid());
            EXPECT_TRUE(net.GetNode(h)->GetDefinition()->IsReady()) << net.GetNode(h)->GetId();
        }
        if (folder != "dsc") {
            EXPECT_EQ(entry.kinds, KindCounts(net));
        }
    }
    const bool all = HaveSharedNetworks();
    EXPECT_EQ(read["Hugin NET"], all ? 38 : 0);
    EXPECT_EQ(read["MSBN DSC"], all ? 40 : 1);
    EXPECT_EQ(read["XMLBIF 0.3"] + read["XML BIF pre-0.3 (JavaBayes)"], all ? 23 : 1);
}

// P(node = outcome | parents = configuration) over the column's sum, parents named by
// identifier and outcomes by position (publications of one network spell some outcomes
// differently), so the parent order and table layout of either reader do not matter.
double Probability(QNL_network& net, int node, const std::map<std::string, int>& config,
                   int outcome) {
    QNL_Dmatrix* table = net.GetNode(node)->GetDefinition()->GetMatrix();
    const QNL_intArray& parents = net.GetParents(node);
    QNL_intArray at;
    at.SetSize(table->GetNumberOfDimensions());
    for (int i = 0; i < parents.GetCount(); ++i)
        at[i] = config.at(net.GetNode(parents[i])->GetId());
    const int last = table->GetNumberOfDimensions() - 1;
    double sum = 0;
    for (at[last] = 0; at[last] < net.GetNode(node)->GetDefinition()->GetNumberOfOutcomes();
         ++at[last])
        sum += table->GetValue(at);
    at[last] = outcome;
    return table->GetValue(at) / sum;
}

::testing::AssertionResult SameModel(QNL_network& a, QNL_network& b, double tolerance) {
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
                if (!(std::fabs(p - q) <= tolerance))
                    return ::testing::AssertionFailure()
                           << id << " outcome " << k << ": " << p << " and " << q;
            }
            more = false;
            for (std::size_t i = at.size(); i-- > 0 && !more; at[i] = more ? at[i] : 0)
                more = ++at[i] < sizes[i];
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(CrossFormat, OneNetworkReadsTheSameFromEveryFormat) {
    if (!HaveSharedNetworks()) GTEST_SKIP() << NoSharedNetworks();
    // The XML publications round to six decimals; the Hugin reader divides a column by its
    // sum unless that is 1 up to rounding, the MSBN reader takes the numbers as they are.
    const struct {
        const char* first;
        const char* second;
        double tolerance;
    } pairs[] = {
        // clang-format off
        {"net/asia.net", "xmlbif/asia.xml", 5e-6}, {"net/cancer.net", "xmlbif/cancer.xml", 5e-6},
        {"net/earthquake.net", "xmlbif/earthquake.xml", 5e-6},
        {"net/child.net", "xmlbif/child.xml", 5e-6}, {"xmlbif/alarm.xml", "dsc/alarm.dsc", 5e-6},
        {"net/insurance.net", "xmlbif/insurance.xml", 5e-6},
        {"net/hailfinder.net", "xmlbif/hailfinder.xml", 5e-6},
        {"net/water.net", "xmlbif/water.xml", 5e-6}, {"net/hepar2.net", "xmlbif/hepar2.xml", 5e-6},
        {"net/asia.net", "dsc/asia.dsc", 1e-12}, {"net/asia_agrum.net", "dsc/asia.dsc", 1e-12},
        {"net/cancer.net", "dsc/cancer.dsc", 1e-12},
        {"net/earthquake.net", "dsc/earthquake.dsc", 1e-12},
        {"net/sachs.net", "dsc/sachs.dsc", 1e-12}, {"net/survey.net", "dsc/survey.dsc", 1e-12},
        {"net/survey_noheader.net", "dsc/survey.dsc", 1e-12},
        {"net/child.net", "dsc/child.dsc", 1e-12}, {"net/alarm_agrum.net", "dsc/alarm.dsc", 1e-12},
        {"net/alarm_samiam.net", "dsc/alarm.dsc", 1e-12},
        {"net/alarm_noheader.net", "dsc/alarm.dsc", 1e-12},
        // Some tools leave states unquoted (and round differently); other files of the same
        // networks quote them.
        {"net/hailfinder_agrum.net", "net/hailfinder.net", 1e-12},
        {"net/insurance_agrum.net", "net/insurance.net", 1e-8},
        // clang-format on
    };
    for (const auto& pair : pairs) {
        QNL_network a, b;
        const std::string first = RealNetworks() + "/" + pair.first;
        const std::string second = RealNetworks() + "/" + pair.second;
        ASSERT_EQ(a.ReadFile(first.c_str(), CodeOf(first)), 0) << first;
        ASSERT_EQ(b.ReadFile(second.c_str(), CodeOf(second)), 0) << second;
        // Twins in the two text formats also keep parent order and outcome names.
        if (pair.tolerance < 5e-6) {
            EXPECT_TRUE(SameNetworks(a, b, Compared{false})) << pair.first;
        }
        EXPECT_TRUE(SameModel(a, b, pair.tolerance)) << pair.first << " vs " << pair.second;
    }
}

// Real files survive a write and a read: every Hugin file of the shared collection (or else
// the Netica files the repository holds) as Hugin; MSBN files, then influence diagrams and Hugin
// files with every quirk as MSBN (the repository holds the first two), which keeps no properties.
TEST(RealFiles, SurviveAWriteAndAReadAsHuginAndAsMsbn) {
    TempFolder folder("real_copies");
    const std::string root = RealNetworks() + (HaveSharedNetworks() ? "/net/" : "/dne/");
    for (const auto& entry : std::filesystem::directory_iterator(root))
        if (entry.file_size() <= 1000000) // the few multi-megabyte tables add time, not cases
            ExpectSurvivesAWriteAndARead(entry.path(), folder.File("copy.net"), kEverything);
    for (const char* file : {"dsc/alarm.dsc", "dne/CostOfTesting.dne", "dsc/child.dsc",
                             "dsc/covid.dsc", "dsc/sachs.dsc", "net/mildew_id.net",
                             "net/fisher_id.net", "net/regular_id.net", "net/requirements_id.net",
                             "net/child_agrum.net", "net/bn20_tw5_tw10.net", "net/cardio7.net"})
        if (HaveSharedNetworks() || std::filesystem::exists(RealNetworks() + "/" + file))
            ExpectSurvivesAWriteAndARead(RealNetworks() + "/" + file, folder.File("copy.dsc"),
                                         {true, true, true, false, true});
}

// A truth table is written as a probability table and reads back as one with the same table
// (the own XML format keeps it).
TEST(CrossFormat, TruthTablesAreWrittenAsTheirTables) {
    TempFolder folder("truth");
    for (const char* extension : {".net", ".dsc", ".xml03", ".erg", ".xqnl"}) {
        QNL_network net, copy;
        const int a = AddNode(net, QNL_TYPE_CPT, "A", {"a0", "a1", "a2"});
        const int t = AddNode(net, QNL_TYPE_TRUTHTABLE, "T", {"t0", "t1"});
        ASSERT_EQ(0, net.AddArc(a, t));
        SetValues(net, t, {0, 1, 1, 0, 0, 1});
        const std::string path = folder.File(std::string("truth") + extension);
        ASSERT_EQ(0, net.WriteFile(path.c_str()));
        ASSERT_EQ(0, copy.ReadFile(path.c_str()));
        EXPECT_EQ(std::string(extension) == ".xqnl" ? QNL_TYPE_TRUTHTABLE : QNL_TYPE_CPT,
                  copy.GetNode(copy.FindNode("T"))->GetType());
        EXPECT_TRUE(SameNetworks(net, copy, Compared{true, false, false, false, false}));
    }
}

// A node of a type the format has no kind or statements for fails the write with its message
// before an existing file is touched or a new one made; so does a user property the format keeps
// for itself. KI files are never written.
TEST(CrossFormat, WritersRefuseWhatTheirFormatCannotCarry) {
    ScopedStubType<QNL_TYPE_MAU> mau;
    ScopedStubType<QNL_TYPE_DISTRIBUTION> continuous;
    TempFolder folder("limits");
    const std::string hugin = "ERROR: 'E' : Node type not supported by Hugin",
                      msbn = "ERROR: 'E' : Node type not supported by MSBN",
                      xml = "ERROR: This Network cannot be saved in XML format",
                      qnl = "ERROR: This Network cannot be saved in QNL format: node 'E' is of a "
                            "type without statements in it",
                      netica = "ERROR: This Network cannot be saved in Netica format",
                      ergo = "ERROR: This Network cannot be saved in Ergo format";
    // clang-format off
    const struct {
        int type;
        const char* extension;
        std::string message;
    } refusals[] = {
        {QNL_TYPE_MAU, ".net", "ERROR: This Network cannot be saved in Hugin format"},
        {QNL_TYPE_DISTRIBUTION, ".net", hugin}, {QNL_TYPE_DEMORGAN, ".net", hugin},
        {QNL_TYPE_CAST, ".net", hugin},
        {QNL_TYPE_MAU, ".dsc", "ERROR: This Network cannot be saved in Microsotf format"},
        {QNL_TYPE_DISTRIBUTION, ".dsc", msbn}, {QNL_TYPE_DEMORGAN, ".dsc", msbn},
        {QNL_TYPE_CAST, ".dsc", msbn},
        {QNL_TYPE_MAU, ".xml03", "Node [E] : ERROR: Unsupported node type"},
        {QNL_TYPE_DISTRIBUTION, ".xml03", "Node [E] : ERROR: Unsupported node type"},
        {QNL_TYPE_DISTRIBUTION, ".xqnl", xml},
        {QNL_TYPE_EQUATION_SCC, ".xqnl", xml + ": node 'E' is of type EQUATION_SCC, which the "
         "format does not carry"},
        {QNL_TYPE_EQUATION, ".qnl", qnl}, {QNL_TYPE_NOISY_ADDER, ".qnl", qnl},
        {QNL_TYPE_DEMORGAN, ".qnl", qnl},
        {QNL_TYPE_MAU, ".dne", netica}, {QNL_TYPE_EQUATION, ".dne", netica},
        {QNL_TYPE_NOISY_MAX, ".erg", ergo}, {QNL_TYPE_LIST, ".erg", ergo},
        {QNL_TYPE_TABLE, ".erg", ergo},
        {QNL_TYPE_CPT, ".dxp", "Writing to KI file format not supported."},
    };
    // clang-format on
    for (const auto& r : refusals) {
        SCOPED_TRACE(std::string(r.extension) + " " + std::to_string(r.type));
        QNL_errorHandler::Instance().Flush();
        QNL_network refused;
        AddNode(refused, QNL_TYPE_CPT, "A", {"a", "b"});
        ASSERT_GE(refused.AddNode(r.type, "E"), 0);
        const std::string old = folder.Put(std::string("old") + r.extension, "old contents");
        const std::string fresh = folder.File(std::string("new") + r.extension);
        EXPECT_EQ(-2, refused.WriteFile(old.c_str()));
        EXPECT_EQ(-2, refused.WriteFile(fresh.c_str()));
        EXPECT_TRUE(Logged(r.message)) << AllMessages();
        EXPECT_EQ("old contents", TempFolder::Get(old));
        EXPECT_FALSE(std::filesystem::exists(fresh));
    }
    QNL_network net;
    AddNode(net, QNL_TYPE_CPT, "Weather", {"a", "b"});
    net.GetNode(0)->GetInfo()->properties.AddProperty("position", "x");
    const std::string path = folder.Put("refused.xml03", "previous content");
    EXPECT_EQ(-2, net.WriteFile(path.c_str()));
    EXPECT_TRUE(Logged("ERROR: This Network cannot be saved in XMLBIF format"));
    EXPECT_EQ("previous content", TempFolder::Get(path));
}

// A reader builds the network node by node; the whole network is walked only a few times per
// file (the checks after the read), never per node: the work, counted in slots walked over,
// moved or told, grows as the file does. The copy read back writes the very same file.
TEST(CrossFormat, ReadingAFileWalksTheNetworkAFewTimesWhateverItsSize) {
    TempFolder folder("bulk_read");
    for (const char* extension : {".qnl", ".erg"}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE(std::string(extension) + (random ? " random" : " chain"));
            const int sizes[2] = {100, 400};
            std::uint64_t work[2] = {0, 0};
            for (int s = 0; s < 2; ++s) {
                QNL_network source;
                quarn_test::BuildLargeNetwork(source, sizes[s], random);
                const std::string path = folder.File("model" + std::string(extension));
                const std::string again = folder.File("again" + std::string(extension));
                ASSERT_EQ(source.WriteFile(path.c_str()), 0) << AllMessages();
                QNL_network copy;
                const std::uint64_t before = copy.GetSlotVisits();
                ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
                work[s] = copy.GetSlotVisits() - before;
                ASSERT_EQ(copy.GetNumberOfNodes(), sizes[s]);
                EXPECT_LE(work[s], static_cast<std::uint64_t>(16 * sizes[s])) << sizes[s];
                ASSERT_EQ(copy.WriteFile(again.c_str()), 0) << AllMessages();
                EXPECT_TRUE(TempFolder::Get(path) == TempFolder::Get(again));
            }
            EXPECT_LE(work[1], 5 * work[0]);
        }
    }
}

} // namespace
