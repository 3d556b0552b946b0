#include "definitions/noisy_max.h"
#include "format_test_support.h"
#include "formats/format.h"
#include "support/random_network.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

using namespace format_test;

namespace {

class ErgoFormatTest : public FormatTest {
protected:
    ErgoFormatTest() : FormatTest("ergo", ".erg") {}
};

// A file of two nodes, the second a child of the first, with the sections given.
std::string TwoNodes(const std::string& sections) {
    return "2\n2 2\n0\n1 1\n" + sections;
}

// Files with faults of every part of the layout: the code, what was read (compared up to "..."
// when it ends so) and what was logged.
TEST_F(ErgoFormatTest, FilesReadAsFarAsTheyAreSound) {
    const std::string tables = "/* Probabilities */\n2 0.3 0.7\n4 0.1 0.9 0.6 0.4\n";
    const std::string ab = "/* Names */ A B\n";
    ExpectReads({
        // clang-format off
        {"0\n", 0, "", {}},
        {TwoNodes(tables + ab), 0, "A(State0 State1): 0.3 0.7; B(State0 State1)|A: 0.1 0.9 0.6 0.4; ", {}},
        {"1\n1\n0\n" + std::string("/* Names */ A\n"), -2, "A[146](State0 State1): 0.5 0.5; ",
         {"(line 2) : ERROR: '1' : Invalid number of states"}},
        {"-1\n", -2, "", {"ERROR: (\"-1\") : Invalid number of nodes"}},
        // More nodes than the file has room for are refused before any is made.
        {"2000000000\n2 2 0 0\n", -2, "", {"ERROR: (\"2000000000\") : Invalid number of nodes"}},
        {"2\n2 2\n0\n2 1 3\n" + tables, -2, "...",
         {"ERROR: Couldn't Add Arc From Parent Node (\"3\")"}},
        {"2\n2 2\n-1\n1 2\n" + tables, -2, "...", {"ERROR:'-1' : Invalid number of parents"}},
        {"2\n2 2\n1 2\n1 1\n" + ab, -2, "...", {"ERROR: Couldn't Add Arc From Parent Node (\"Node0\")"}},
        // Tables of the wrong size are read past, never applied in part.
        {TwoNodes("/* Probabilities */\n2 0.3 0.7\n3 0.1 0.9 0.6\n" + ab), -2,
         "A(State0 State1): 0.3 0.7; B[146](State0 State1)|A: 0.5 0.5 0.75 0.25; ",
         {"ERROR:'3' : Invalid table size"}},
        {TwoNodes("/* Probabilities */\n2 0.3 0.7\n5 0.1 0.9 0.6 0.4 0.5\n" + ab), -2,
         "A(State0 State1): 0.3 0.7; B[146](State0 State1)|A: 0.5 0.5 0.75 0.25; ",
         {"ERROR:'5' : Invalid table size"}},
        {TwoNodes("/* Probabilities */\n2 0.3 0.7\n4 0.1 0.9 0.6 7\n" + ab), -2, "...",
         {"ERROR: Couldn't set probabilities"}},
        {TwoNodes(tables + "/* Names */ A A\n"), -2, "A(State0 State1): 0.3 0.7; Node1'A'(...",
         {"ERROR: [A] Duplicated Identifier"}},
        // Names that repeat the identifiers nodes are made with are theirs once read.
        {TwoNodes(tables + "/* Names */ Node1 Node0\n"), 0,
         "Node1(State0 State1): 0.3 0.7; Node0(State0 State1)|Node1: 0.1 0.9 0.6 0.4; ", {}},
        {TwoNodes(tables + "/* Names */ Node1 Node1\n"), -2, "Node1(State0 State1): 0.3 0.7; Node2'Node1'(...",
         {"ERROR: [Node1] Duplicated Identifier"}},
        {TwoNodes(tables + "/* Names */ 7x b-c\n"), 0, "x7x'7x'(State0 State1): 0.3 0.7; b_c'b-c'...", {}},
        {TwoNodes(tables + "/* Colours */\n/* Names */ A B\n"), -127, "A(...",
         {"ERROR: (\"Colours\") : Unknown Section"}},
        {TwoNodes(tables + "/* Colours */ red blue\n"), -127, "...",
         {"ERROR: (\"Colours\") : Unknown Section", "ERROR: 'red' : '/' expected"}},
        {TwoNodes(""), -2, "...", {"ERROR: End of File : Expecting '/'"}},
        {TwoNodes(tables + ab + "/* Labels */ y n 1 y\n"), 0,
         "A(y n): 0.3 0.7; B(x1 y)|A: 0.1 0.9 0.6 0.4; ", {}},
        // A parent whose full table comes after its noisy child still counts as one.
        {"2\n2 2\n1 2\n0\n/* Probabilities */\n0 0.2 0.9\n2 0.4 0.6\n/* Names */ A B\n", 0,
         "A[146](State0 State1)|B: 0.8 0.2 0.82 0.18000000000000002; B(State0 State1): 0.4 0.6; ", {}},
        // Noisy columns are clamped to [0, 1] and made distributions.
        {"1\n3\n0\n/* Probabilities */\n0 -1 2\n/* Names */ A\n", 0, "A[146](State0 State1 State2): 0 1 0; ", {}},
        // Cut short anywhere, a file fails with a code.
        {TwoNodes("/* Probabilities */\n2 0.3"), -127, "...", {"ERROR: End of File : Expecting Real Number"}},
        {TwoNodes("/* Probab"), -127, "...", {}},
        {"2\n2 2\n0\n", -127, "...", {"ERROR: End of File : Expecting Integer"}},
        {"x\n", -127, "", {"ERROR: 'x' : Integer expected"}},
        // clang-format on
    });
}

// Leak and parent columns are cumulative from the node's last state; the states of a noisy node
// are listed from its last one; a parent with a full table lists its columns from its last state
// too, and its first state is the distinguished one.
TEST_F(ErgoFormatTest, NoisyFormReadsIntoTheTableComputedByHand) {
    ASSERT_EQ(0, ReadText(Fixture("ergo/noisy.erg"))) << AllMessages();
    const QNL_node* effect = network.GetNode(network.FindNode("Effect"));
    const QNL_node* final = network.GetNode(network.FindNode("Final"));
    ASSERT_TRUE(effect != nullptr && final != nullptr);
    ASSERT_EQ(QNL_TYPE_NOISY_MAX, final->GetType());
    EXPECT_EQ((std::vector<std::string>{"ehigh", "elow"}),
              Strings(effect->GetDefinition()->GetOutcomeIds()));
    EXPECT_EQ((std::vector<std::string>{"fhigh", "fmid", "flow"}),
              Strings(final->GetDefinition()->GetOutcomeIds()));
    const std::vector<double> effectTable = {0.8, 0.2, 0.82, 0.18};
    const std::vector<double> finalTable = {0.79, 0.18, 0.03, 0.7, 0.2, 0.1};
    for (const auto& [node, expected] : {std::pair{effect, effectTable}, {final, finalTable}}) {
        const std::vector<double> table = Values(node);
        ASSERT_EQ(expected.size(), table.size()) << node->GetId();
        for (std::size_t i = 0; i < table.size(); ++i)
            EXPECT_NEAR(expected[i], table[i], 1e-12) << node->GetId() << " " << i;
    }
    EXPECT_EQ(5, Info("Final").screen.position.x);
}

TEST_F(ErgoFormatTest, WriterGivesTheErgoLayoutAndReadsBackTheSame) {
    ASSERT_EQ(0, ReadText(Fixture("ergo/three_nodes.erg"))) << AllMessages();
    const std::string path = folder.File("layout.erg");
    ASSERT_EQ(0, network.WriteFile(path.c_str()));
    EXPECT_EQ(Fixture("ergo/three_nodes.erg"), TempFolder::Get(path));
    // Without nodes every section heading still stands, and the file reads back empty.
    QNL_network empty;
    const std::string none = folder.File("empty.erg");
    ASSERT_EQ(0, empty.WriteFile(none.c_str()));
    EXPECT_EQ(
        "0\n\n\n\n\n\n\n/*\tProbabilities\t*/\n\n\n/*\tNames\t*/\n\n\n\n/*\tLabels\t*/\n\n\n\n/*"
        "\tCenters\t*/\n",
        TempFolder::Get(none));
    ASSERT_EQ(0, network.ReadFile(none.c_str())) << AllMessages();
    EXPECT_EQ(0, network.GetNumberOfNodes());
}

TEST_F(ErgoFormatTest, NetworkWrittenAndReadBackIsTheSame) {
    const int a = AddNode(network, QNL_TYPE_CPT, "A", {"low", "mid", "high"});
    const int b = AddNode(network, QNL_TYPE_CPT, "B", {"yes", "no"});
    const int c = AddNode(network, QNL_TYPE_CPT, "C", {"x", "y"});
    // Parents listed against the order of the nodes.
    ASSERT_EQ(0, network.AddArc(b, c));
    ASSERT_EQ(0, network.AddArc(a, c));
    ASSERT_EQ(0, network.AddArc(a, b));
    SetValues(network, a, {1.0 / 3, 1.0 / 3, 1.0 / 3});
    SetValues(network, b, {0.1, 0.9, 1e-9, 1 - 1e-9, 0.123456789012345, 0.876543210987655});
    SetValues(network, c, {0.5, 0.5, 2.0 / 3, 1.0 / 3, 0.25, 0.75, 0.3, 0.7, 0, 1, 1, 0});
    for (int h : {a, b, c}) {
        network.GetNode(h)->GetInfo()->screen.position.x = 10 * h - 7;
        network.GetNode(h)->GetInfo()->screen.position.y = 300 - h;
        network.GetNode(h)->GetInfo()->header.SetName(network.GetNode(h)->GetId());
    }
    QNL_network copy;
    ASSERT_NO_FATAL_FAILURE(ExpectWrittenAndReadBackTheSame(kEverything, copy));
}

// Every prefix of the fixtures, and each byte replaced by characters the layout gives a meaning
// to, end with a code or a sound network: never a crash (the sanitizer build watches).
TEST_F(ErgoFormatTest, CutAndGarbledFixturesNeverCrash) {
    int failed = 0;
    for (const char* name : {"noisy.erg", "three_nodes.erg", "repaired_names.erg"}) {
        const std::string text = Fixture(std::string("ergo/") + name);
        for (std::size_t cut = 0; cut + 1 < text.size(); ++cut) {
            QNL_network net;
            const std::string prefix = text.substr(0, cut);
            const int result = ReadText(prefix, net);
            // Only a cut between two sections, or in the last word or number of one, leaves a
            // sound file.
            const bool split = cut > 0 && !std::isspace(static_cast<unsigned char>(text[cut - 1]));
            const std::size_t rest = split ? text.find_first_of(" \t\n", cut) : cut;
            const std::size_t next = text.find_first_not_of(" \t\n", rest);
            if (result == 0) {
                EXPECT_EQ(0u, text.compare(next, 2, "/*")) << name << " cut at " << cut;
            }
            failed += result != 0;
        }
        ExpectGarbledReadsExplained(text, 3, std::string("/*-x\0", 5));
    }
    EXPECT_GT(failed, 0);
}

// A file of nodes without parents, named with the words given.
std::string NamedNodes(const std::vector<std::string>& words) {
    std::string file = std::to_string(words.size()) + "\n";
    for (std::size_t i = 0; i < words.size(); ++i)
        file += "2 ";
    file += "\n";
    for (std::size_t i = 0; i < words.size(); ++i)
        file += "0\n";
    file += "/* Names */";
    for (const std::string& word : words)
        file += " " + word;
    return file + "\n";
}

// Names that one repair makes alike ("1", "2" and "3" once all became "x") read, each node with
// an identifier of its own: the repaired one, with an 'x' in front where the name cannot begin
// one, where it is free, else the automatic one the node was made with; every node keeps its
// name. Only a name the file repeats is a fault. Then random names of few characters, which
// collide often: identifiers valid and distinct, the repaired one wherever it was free.
TEST_F(ErgoFormatTest, NamesThatRepairAlikeReadWithAnIdentifierEach) {
    struct Case {
        std::vector<std::string> words;
        int code;
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {{"1", "2", "3"}, 0, {"x1", "x2", "x3"}},
        {{"10", "20", "30"}, 0, {"x10", "x20", "x30"}},
        {{"a-b", "a_b", "a.b"}, 0, {"a_b", "Node1", "Node2"}},
        {{"-1", "_1", "1"}, 0, {"x_1", "Node1", "x1"}},
        {{"1", "x1", "Node1"}, 0, {"x1", "Node1", "Node2"}},
        // A later node makes way for a name that repeats the identifier it was made with.
        {{"Node2", "1", "2"}, 0, {"Node2", "x1", "x2"}},
        {{"1", "1"}, -2, {"x1", "Node1"}},
    };
    for (const Case& c : cases) {
        QNL_network net;
        const std::string file = NamedNodes(c.words);
        SCOPED_TRACE(file);
        EXPECT_EQ(c.code, ReadText(file, net)) << AllMessages();
        EXPECT_EQ(c.code != 0, Logged("ERROR: [" + c.words[0] + "] Duplicated Identifier"));
        ASSERT_EQ(net.GetNumberOfNodes(), static_cast<int>(c.words.size()));
        for (int i = 0; i < net.GetNumberOfNodes(); ++i) {
            EXPECT_EQ(c.ids[static_cast<std::size_t>(i)], Text(net.GetNode(i)->GetId()));
            EXPECT_EQ(c.words[static_cast<std::size_t>(i)],
                      Text(net.GetNode(i)->GetInfo()->header.GetName()));
        }
    }
    // A file of names that need repair and labels that repeat once repaired, read whole.
    QNL_network fixture;
    ASSERT_EQ(0, ReadText(Fixture("ergo/repaired_names.erg"), fixture)) << AllMessages();
    EXPECT_EQ(
        "x1'1'(x1 x2): 0.3 0.7; x2'2'(yes no)|x1: 0.1 0.9 0.6 0.4; a_b'a-b'(x_y x_y2)|x2: 0.5 "
        "0.5 0.2 0.8; Node3'a.b'(x1 x12): 0.5 0.5; ",
        Describe(fixture));
    quarn_test::TestRandom random(79);
    // Words as the scanner takes them: after a digit, no '-' or '.' (which would end a number).
    const std::string characters = "1a_-.";
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> words(static_cast<std::size_t>(2 + random.Below(12)));
        for (std::string& word : words) {
            word = characters[static_cast<std::size_t>(random.Below(3))];
            const int choices = word[0] == '1' ? 3 : 5;
            for (int length = random.Below(3); length > 0; --length)
                word += characters[static_cast<std::size_t>(random.Below(choices))];
        }
        const std::string file = NamedNodes(words);
        SCOPED_TRACE(file);
        QNL_network net;
        const std::set<std::string> distinct(words.begin(), words.end());
        EXPECT_EQ(distinct.size() == words.size() ? 0 : -2, ReadText(file, net)) << AllMessages();
        std::set<std::string> ids;
        for (int i = 0; i < net.GetNumberOfNodes(); ++i) {
            const std::string id = Text(net.GetNode(i)->GetId());
            const std::string& word = words[static_cast<std::size_t>(i)];
            std::string repaired = word;
            quarn::detail::RepairId(repaired);
            EXPECT_TRUE(IsValidId(id.c_str()) && ids.insert(id).second) << id;
            EXPECT_EQ(word, Text(net.GetNode(i)->GetInfo()->header.GetName()));
            if (id != repaired) {
                EXPECT_GE(QNL_network::AutomaticIdNumber(id.c_str()), 0) << id;
                const int holder = net.FindNode(repaired.c_str());
                EXPECT_TRUE(holder >= 0 && holder < i) << word;
            }
        }
        EXPECT_EQ(net.GetNumberOfNodes(), static_cast<int>(words.size()));
    }
}

// A node whose name another node still bears as the identifier it was made with takes a
// fresh automatic identifier first. Random small files whose names repeat automatic
// identifiers (some past the node count) and each other: the identifiers read are those of
// the rule applied step by step with a full search for each fresh identifier.
TEST_F(ErgoFormatTest, NodesMakingWayTakeTheFirstFreeAutomaticIdentifier) {
    quarn_test::TestRandom random(5);
    for (int round = 0; round < 300; ++round) {
        const int n = 2 + random.Below(15);
        std::vector<std::string> names;
        std::string file = std::to_string(n) + "\n";
        for (int i = 0; i < n; ++i)
            file += "2 ";
        file += "\n";
        for (int i = 0; i < n; ++i)
            file += "0\n";
        file += "/* Names */";
        for (int i = 0; i < n; ++i) {
            // Mostly the identifiers nodes are made with, some of those fresh ones take.
            const int kind = random.Below(10);
            names.push_back(kind < 6   ? "Node" + std::to_string(random.Below(n))
                            : kind < 9 ? "Node" + std::to_string(n + random.Below(4))
                                       : std::string(kind % 2 == 0 ? "a" : "b"));
            file += " " + names.back();
        }
        SCOPED_TRACE(file);
        QNL_network read;
        ReadText(file + "\n", read);
        QNL_network expected;
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(expected.AddNode(QNL_TYPE_CPT, nullptr), i);
        for (int at = 0; at < n; ++at) {
            const int holder = expected.FindNode(names[static_cast<std::size_t>(at)].c_str());
            if (holder > at) {
                std::string fresh;
                expected.GenerateNodeId(fresh);
                ASSERT_EQ(expected.GetNode(holder)->SetId(fresh.c_str()), 0);
            }
            const char* name = names[static_cast<std::size_t>(at)].c_str();
            if (!expected.IsIdUsed(name, at)) {
                ASSERT_EQ(expected.GetNode(at)->SetId(name), 0);
            }
        }
        ASSERT_EQ(read.GetNumberOfNodes(), n);
        for (int i = 0; i < n; ++i)
            EXPECT_STREQ(read.GetNode(i)->GetId(), expected.GetNode(i)->GetId()) << i;
    }
}

// Automatic identifiers in the reverse of the order a file lists the nodes: each node but the
// last makes way for one written before it. The fresh identifiers are found without trying
// every one taken before (work counted in slots and identifiers tried), and the names read
// are those written.
TEST_F(ErgoFormatTest, ReadingNodesThatMakeWayTriesEachFreshIdentifierOnce) {
    std::uint64_t work[2] = {0, 0};
    const int sizes[2] = {300, 1200};
    for (int s = 0; s < 2; ++s) {
        QNL_network source;
        for (int i = 0; i < sizes[s]; ++i) {
            ASSERT_EQ(source.AddNode(QNL_TYPE_CPT, nullptr), i);
            if (i > 0) {
                ASSERT_EQ(source.AddArc(i, i - 1), 0);
            }
        }
        const std::string path = folder.File("reversed.erg");
        ASSERT_EQ(source.WriteFile(path.c_str()), 0);
        QNL_network copy;
        const std::uint64_t before = copy.GetSlotVisits();
        ASSERT_EQ(copy.ReadFile(path.c_str()), 0) << AllMessages();
        work[s] = copy.GetSlotVisits() - before;
        EXPECT_LE(work[s], static_cast<std::uint64_t>(16 * sizes[s]));
        for (int h = 0; h < sizes[s]; h += 37) {
            const char* id = source.GetNode(h)->GetId();
            ASSERT_GE(copy.FindNode(id), 0) << id;
            EXPECT_EQ(ParentIds(copy, copy.FindNode(id)), ParentIds(source, h)) << id;
        }
    }
    EXPECT_LE(work[1], 5 * work[0]);
}

} // namespace
