#pragma once

#include "definitions/equation.h"
#include "definitions/mau.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "formats/xml/xml_reader.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "numerics/number_text.h"
#include "support/real_networks.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// Checks and builders shared by the file-format tests.
namespace format_test {

using quarn_test::HaveSharedNetworks, quarn_test::NoSharedNetworks, quarn_test::RealNetworks;

struct Compared {
    bool tables = true;      // definition values, compared exactly
    bool positions = false;  // screen x and y
    bool names = false;      // node names
    bool properties = false; // node user properties, in order
    bool types = true;       // definition types
};
const Compared kEverything{true, true, true, true, true};

// A Hugin influence diagram with comments inside a table and attributes of other tools.
const char* const kHuginInfluenceDiagram = R"(net
{
    node_size = (80 40);
    HR_Grid_X = "10";
}
node Weather
{
    label = "The weather";
    position = (100 50);
    states = ("sun" "rain");
    diagnosistype = "AUXILIARY";
}
node Forecast { position = (150 100); states = ("sunny" "cloudy" "rainy"); }
decision Umbrella { label = "Umbrella"; position = (200 150); states = ("take" "leave"); }
utility Comfort { position = (300 100); }
potential (Weather) { data = ( 0.7 0.3 ); }
potential (Forecast | Weather)
{
    data = (( 0.7 0.2 0.1 ) ( 0.15 0.25 0.6 ));
}
potential (Umbrella | Forecast) {}
potential (Comfort | Umbrella Weather)
{
    data = (( 20    % take  sun
              70 )  % take  rain
            ( 100 0 ));
}
)";

inline std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline std::string Text(const char* s) {
    return s != nullptr ? s : "";
}

inline std::vector<std::string> Strings(const QNL_stringArray* array) {
    std::vector<std::string> out;
    for (int i = 0; array != nullptr && i < array->GetCount(); ++i)
        out.push_back(Text(array->GetString(i)));
    return out;
}

inline std::vector<double> Values(const QNL_node* node) {
    QNL_doubleArray values;
    if (node->GetDefinition()->GetDefinition(values) != 0) return {};
    return std::vector<double>(values.Items(), values.Items() + values.GetCount());
}

inline QNL_node* Node(QNL_network& net, const char* id) {
    return net.GetNode(net.FindNode(id));
}

inline std::vector<std::string> ParentIds(const QNL_network& net, int node) {
    std::vector<std::string> ids;
    const QNL_intArray& parents = net.GetParents(node);
    for (int i = 0; i < parents.GetCount(); ++i)
        ids.push_back(Text(net.GetNode(parents[i])->GetId()));
    return ids;
}

inline std::string Properties(const QNL_userProperties& properties) {
    std::string out;
    for (int i = 0; i < properties.GetNumberOfProperties(); ++i)
        out += Text(properties.GetName(i)) + "=" + Text(properties.GetValue(i)) + ";";
    return out;
}

// Same nodes, outcomes and parents (in order) and whatever else `what` asks for; nodes
// matched by identifier.
inline ::testing::AssertionResult SameNetworks(const QNL_network& a, const QNL_network& b,
                                               const Compared& what = Compared()) {
    if (a.GetNumberOfNodes() != b.GetNumberOfNodes())
        return ::testing::AssertionFailure()
               << "node counts " << a.GetNumberOfNodes() << " and " << b.GetNumberOfNodes();
    for (int h = a.GetFirstNode(); h >= 0; h = a.GetNextNode(h)) {
        const QNL_node* x = a.GetNode(h);
        const std::string id = Text(x->GetId());
        const int g = b.FindNode(id.c_str());
        if (g < 0) return ::testing::AssertionFailure() << "no node " << id;
        const QNL_node* y = b.GetNode(g);
        auto differ = [&id](const char* what) {
            return ::testing::AssertionFailure() << id << ": " << what << " differ";
        };
        if (what.types && x->GetType() != y->GetType()) return differ("types");
        // Utility tables have no outcomes of their own.
        if (x->GetType() != QNL_TYPE_TABLE && y->GetType() != QNL_TYPE_TABLE &&
            Strings(x->GetDefinition()->GetOutcomeIds()) !=
                Strings(y->GetDefinition()->GetOutcomeIds()))
            return differ("outcomes");
        if (ParentIds(a, h) != ParentIds(b, g)) return differ("parents");
        if (what.tables && Values(x) != Values(y)) return differ("tables");
        const QNL_nodeInfo* ix = x->GetInfo();
        const QNL_nodeInfo* iy = y->GetInfo();
        if (what.positions && (ix->screen.position.x != iy->screen.position.x ||
                               ix->screen.position.y != iy->screen.position.y))
            return differ("positions");
        if (what.names && Text(ix->header.GetName()) != Text(iy->header.GetName()))
            return differ("names");
        if (what.properties && Properties(ix->properties) != Properties(iy->properties))
            return differ("properties");
    }
    return ::testing::AssertionSuccess();
}

// The network in one line, nodes in handle order:
// "id[kind]'name'{properties}(outcomes)|parents: values; ", kind D for a decision, U a
// utility, T a truth table, none for a probability table; the name only where it is not the
// identifier; values as the shortest texts that read back exactly.
inline std::string Describe(const QNL_network& net) {
    std::string out;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const QNL_node* node = net.GetNode(h);
        const int type = node->GetType();
        out += Text(node->GetId());
        out += type == QNL_TYPE_LIST         ? "[D]"
               : type == QNL_TYPE_TABLE      ? "[U]"
               : type == QNL_TYPE_TRUTHTABLE ? "[T]"
               : type == QNL_TYPE_CPT        ? ""
                                             : "[" + std::to_string(type) + "]";
        const std::string name = Text(node->GetInfo()->header.GetName());
        if (!name.empty() && name != Text(node->GetId())) out += "'" + name + "'";
        const std::string properties = Properties(node->GetInfo()->properties);
        if (!properties.empty()) out += "{" + properties + "}";
        const auto outcomes = Strings(node->GetDefinition()->GetOutcomeIds());
        for (std::size_t i = 0; i < outcomes.size() && type != QNL_TYPE_TABLE; ++i)
            out += (i == 0 ? "(" : " ") + outcomes[i] + (i + 1 == outcomes.size() ? ")" : "");
        const auto parents = ParentIds(net, h);
        for (std::size_t i = 0; i < parents.size(); ++i)
            out += (i == 0 ? "|" : " ") + parents[i];
        const auto values = Values(node);
        for (std::size_t i = 0; i < values.size(); ++i)
            out += (i == 0 ? ": " : " ") + quarn::detail::ShortestNumberText(values[i]);
        out += "; ";
    }
    return out;
}

// The first `count` items as the shortest texts that read back exactly, comma separated.
template <class Items> std::string Joined(const Items& items, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += (i == 0 ? "" : ",") + quarn::detail::ShortestNumberText(items[i]);
    return out;
}

// What Describe() leaves out of gates, equations and multi-attribute utility nodes, a line
// for each node that has any; also the values solved when `solved`.
inline std::string DescribeDefinitions(QNL_network& net, bool solved = false) {
    std::string all;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_node* node = net.GetNode(h);
        const QNL_nodeDefinition* definition = node->GetDefinition();
        std::string out;
        if (const auto* max = dynamic_cast<const QNL_noisyMAX*>(definition)) {
            for (int b = 0; b < max->GetNumberOfBlocks(); ++b) {
                const QNL_intArray& order = *max->GetParentOutcomeStrengths(b);
                out += " strengths " + Joined(order, order.GetCount());
            }
            out += " parameters " +
                   Joined(max->GetParameters().GetItems(), max->GetParameters().GetSize());
        }
        if (const auto* adder = dynamic_cast<const QNL_noisyAdder*>(definition)) {
            out += " function " + std::to_string(adder->GetFunction()) + " states " +
                   std::to_string(adder->GetDistinguishedState());
            for (int p = 0; p < net.NumberOfParents(h); ++p)
                out += "," + std::to_string(adder->GetParentDistinguishedState(p));
            out += " weights " + Joined(adder->GetWeights(), adder->GetWeights().size());
        }
        if (const auto* equation = dynamic_cast<const QNL_equation*>(definition)) {
            std::string text;
            equation->GetEquation().GetText(text);
            out += " " + text + " in " +
                   quarn::detail::ShortestNumberText(equation->GetLowerBound()) + ".." +
                   quarn::detail::ShortestNumberText(equation->GetUpperBound());
        }
        if (const auto* mau = dynamic_cast<const QNL_mau*>(definition)) {
            for (int i = 0; mau->GetExpressions() && i < mau->GetExpressions()->GetSize(); ++i) {
                std::string text;
                QNL_exprNode::ToSignedText(mau->GetExpressions()->GetExpression(i), text);
                out += " " + text;
            }
            out += " utility parents " + std::to_string(mau->GetUtilityParents().GetCount());
        }
        if (solved) {
            if (const auto* value = dynamic_cast<QNL_equationValue*>(node->GetValue()))
                out += " mean " + quarn::detail::ShortestNumberText(value->GetMean());
            else if (const QNL_Dmatrix* matrix = node->GetValue()->GetMatrix())
                out += " values " + Joined(matrix->GetItems(), matrix->GetSize());
        }
        if (!out.empty()) all += Text(node->GetId()) + ":" + out + "\n";
    }
    return all;
}

// Adds the arcs "from>to", separated by blanks, between nodes named by identifier.
inline void AddArcs(QNL_network& net, const std::string& arcs) {
    std::istringstream in(arcs);
    for (std::string arc; in >> arc;) {
        const std::string from = arc.substr(0, arc.find('>')), to = arc.substr(arc.find('>') + 1);
        ASSERT_EQ(0, net.AddArc(net.FindNode(from.c_str()), net.FindNode(to.c_str()))) << arc;
    }
}

// Every logged message with its code, one a line.
inline std::string AllMessages() {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    std::string all;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        all += std::to_string(log.GetCode(i)) + " " + log.GetMessage(i) + "\n";
    return all;
}

inline std::vector<std::string> LoggedMessages(int code) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    std::vector<std::string> messages;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (log.GetCode(i) == code) messages.push_back(log.GetMessage(i));
    return messages;
}

inline bool Logged(const std::string& fragment) {
    return AllMessages().find(fragment) != std::string::npos;
}

inline int CountArcs(const QNL_network& network) {
    int arcs = 0;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        arcs += network.NumberOfParents(h);
    return arcs;
}

// The nodes by the kinds the index of the real files counts: "decision", "utility", "chance".
inline std::map<std::string, int> KindCounts(const QNL_network& net) {
    std::map<std::string, int> kinds;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        const int type = net.GetNode(h)->GetType();
        ++kinds[type == QNL_TYPE_LIST ? "decision" : type == QNL_TYPE_TABLE ? "utility" : "chance"];
    }
    return kinds;
}

struct IndexEntry {
    std::string format; // the format column: "Hugin NET", "XMLBIF 0.3", ...
    int nodes = -1;
    int arcs = -1;
    std::map<std::string, int> kinds; // "chance", "decision", "utility" -> count
};

// The rows INDEX.md gives for each file, keyed by the path below the networks folder
// ("net/asia.net"); empty when the index cannot be read.
inline std::map<std::string, IndexEntry> ReadIndex(const std::string& indexPath) {
    static const std::regex row(
        R"(^\| \S+/data/networks/(\S+) +\| ([^|]*[^ |]) +\| (\d+) +\| (\d+) +\| ([^|]*)\|)");
    static const std::regex kind(R"((\d+) (\w+))");
    std::map<std::string, IndexEntry> entries;
    std::ifstream in(indexPath);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_search(line, m, row)) continue;
        IndexEntry& entry = entries[m[1]] = {m[2], std::stoi(m[3]), std::stoi(m[4]), {}};
        const std::string kinds = m[5];
        for (std::sregex_iterator k(kinds.begin(), kinds.end(), kind), end; k != end; ++k)
            entry.kinds[(*k)[2]] = std::stoi((*k)[1]);
    }
    return entries;
}

// While it lives, a definition without outcomes or table is registered under the type code:
// enough to ask a writer about a type it cannot express.
template <int Type> class ScopedStubType {
public:
    ScopedStubType() : previous(quarn::detail::FindDefinitionClass(Type)) {
        quarn::detail::RegisterDefinitionClass(
            Type, [](int handle, QNL_network* network) -> QNL_nodeDefinition* {
                return new Stub(handle, network);
            });
    }
    ~ScopedStubType() { quarn::detail::RegisterDefinitionClass(Type, previous); }
    ScopedStubType(const ScopedStubType&) = delete;
    ScopedStubType& operator=(const ScopedStubType&) = delete;

private:
    struct Stub : QNL_nodeDefinition {
        using QNL_nodeDefinition::QNL_nodeDefinition;
        QNL_nodeDefinition* CreateCopy() const override { return new Stub(*this); }
        int GetType() const override { return Type; }
        const char* GetTypeName() const override { return "STUB"; }
    };
    quarn::detail::DefinitionCreator previous;
};

using quarn_test::TempFolder;

// Adds a node with the given outcome identifiers (none: the definition's own); the handle.
inline int AddNode(QNL_network& net, int type, const char* id, std::vector<const char*> outcomes) {
    const int node = net.AddNode(type, id);
    if (node >= 0 && !outcomes.empty()) {
        QNL_stringArray ids;
        for (const char* outcome : outcomes)
            ids.Add(outcome);
        EXPECT_EQ(0, net.GetNode(node)->GetDefinition()->SetNumberOfOutcomes(ids)) << id;
    }
    return node;
}

inline void SetValues(QNL_network& net, int node, std::vector<double> values) {
    QNL_doubleArray array;
    for (double v : values)
        array.Add(v);
    ASSERT_EQ(0, net.GetNode(node)->GetDefinition()->SetDefinition(array));
}

// The nodes of the model BuildAwkwardModel makes.
struct AwkwardModel {
    int a = -1, d = -1, b = -1, u = -1;
};

// A small influence diagram, chance node A, decision D, chance node B and utility U, with
// numbers that "%.8f" would lose, names with quotes, a backslash and a tab, and positions on
// both sides of the origin.
inline void BuildAwkwardModel(QNL_network& net, AwkwardModel& nodes) {
    const int a = nodes.a = AddNode(net, QNL_TYPE_CPT, "A", {"low", "mid", "high"});
    const int d = nodes.d = AddNode(net, QNL_TYPE_LIST, "D", {"go", "stay"});
    const int b = nodes.b = AddNode(net, QNL_TYPE_CPT, "B", {"yes", "no"});
    const int u = nodes.u = AddNode(net, QNL_TYPE_TABLE, "U", {});
    for (const auto& [from, to] : {std::pair{a, d}, {a, b}, {d, b}, {d, u}, {b, u}})
        ASSERT_EQ(0, net.AddArc(from, to));
    SetValues(net, a, {1.0 / 3, 1.0 / 3, 1.0 / 3});
    SetValues(net, b,
              {0.1, 0.9, 1e-9, 1 - 1e-9, 0.123456789012345, 0.876543210987655, 0.5, 0.5, 2.0 / 3,
               1.0 / 3, 0.25, 0.75});
    SetValues(net, u, {10, -2.5, 3.14159265358979, -1e-7});
    net.GetHeader()->SetName("A \"quoted\" model");
    net.GetNode(a)->GetInfo()->header.SetName("Level \"A\" \\ with\ttab");
    const int xs[] = {5, -20, 300, 7}, ys[] = {-40, 300, 75, 120}, handles[] = {a, d, b, u};
    for (int i = 0; i < 4; ++i) {
        net.GetNode(handles[i])->GetInfo()->screen.position.x = xs[i];
        net.GetNode(handles[i])->GetInfo()->screen.position.y = ys[i];
    }
}

// A text read as a file of a format: the code, the model as Describe() gives it (only its
// start compared when it ends in "..."), and messages that must be logged. A text "@name" is
// the fixture of that name in the format's folder of test data.
struct ReadCase {
    std::string text;
    int code;
    std::string model;
    std::vector<const char*> logged;
};

// A test of one file format: a network and a temporary folder.
class FormatTest : public ::testing::Test {
protected:
    // Files read from text are named "in" with the format's extension (".net").
    FormatTest(const char* tag, const char* extension) : folder(tag), extension(extension) {}

    static std::string Fixture(const std::string& name) {
        return TempFolder::Get(std::string(QUARN_TEST_DATA_DIR) + "/" + name);
    }

    // Each case read into a network of its own; fixtures named "@..." are taken from `data`.
    void ExpectReads(const std::vector<ReadCase>& cases, const std::string& data = "") {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.text);
            QNL_network net;
            const bool fixture = c.text.rfind('@', 0) == 0;
            EXPECT_EQ(c.code,
                      ReadText(fixture ? Fixture(data + "/" + c.text.substr(1)) : c.text, net))
                << AllMessages();
            const bool prefix = c.model.size() >= 3 && c.model.substr(c.model.size() - 3) == "...";
            const std::string model = Describe(net);
            EXPECT_EQ(c.model.substr(0, c.model.size() - (prefix ? 3 : 0)),
                      prefix ? model.substr(0, c.model.size() - 3) : model);
            for (const char* message : c.logged)
                EXPECT_TRUE(Logged(message)) << message << "\n" << AllMessages();
        }
    }

    void SetUp() override { QNL_errorHandler::Instance().Flush(); }

    // Each byte `step` apart replaced by each of `bytes` in turn: the read succeeds or fails
    // with a message, never crashes (the sanitizer build watches).
    void ExpectGarbledReadsExplained(const std::string& text, std::size_t step,
                                     const std::string& bytes) {
        for (std::size_t at = 0; at < text.size(); at += step)
            for (char c : bytes) {
                std::string garbled = text;
                garbled[at] = c;
                QNL_network net;
                if (ReadText(garbled, net) != 0) {
                    EXPECT_FALSE(AllMessages().empty()) << at;
                }
            }
    }

    // Reads the text as a file of the format through the network's file entry point.
    int ReadText(const std::string& text, QNL_network& into) {
        QNL_errorHandler::Instance().Flush();
        return into.ReadFile(folder.Put("in" + extension, text).c_str());
    }
    int ReadText(const std::string& text) { return ReadText(text, network); }

    const QNL_nodeInfo& Info(const char* id) const {
        return *network.GetNode(network.FindNode(id))->GetInfo();
    }

    // The network written, read back and compared as `what` says; the copy must write the
    // very same file.
    void ExpectWrittenAndReadBackTheSame(const Compared& what, QNL_network& copy) {
        const std::string path = folder.File("model" + extension);
        ASSERT_EQ(0, network.WriteFile(path.c_str()));
        ASSERT_EQ(0, copy.ReadFile(path.c_str()));
        EXPECT_TRUE(SameNetworks(network, copy, what));
        const std::string again = folder.File("again" + extension);
        ASSERT_EQ(0, copy.WriteFile(again.c_str()));
        EXPECT_EQ(TempFolder::Get(path), TempFolder::Get(again));
    }

    TempFolder folder;
    QNL_network network;

private:
    std::string extension;
};

// The file read, written as `copyPath` (in the format its extension names), read back and
// compared as `what` says.
inline void ExpectSurvivesAWriteAndARead(const std::string& file, const std::string& copyPath,
                                         const Compared& what) {
    QNL_network net;
    ASSERT_EQ(0, net.ReadFile(file.c_str())) << file;
    ASSERT_EQ(0, net.WriteFile(copyPath.c_str())) << file;
    QNL_network copy;
    ASSERT_EQ(0, copy.ReadFile(copyPath.c_str())) << file;
    EXPECT_TRUE(SameNetworks(net, copy, what)) << file;
}

// A path in the running test's own temporary folder.
inline std::string TempPath(const std::string& name) {
    return quarn_test::TestFile(name);
}
inline std::string WriteText(const std::string& name, const std::string& content) {
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// True when expat finds the file well formed: every element is accepted and skipped.
inline bool IsWellFormed(const std::string& path, const char* root = "quarn") {
    class AnyReader : public QNL_xmlReader {
    public:
        bool Read(const std::string& file, const char* root) {
            return ReadFile(file.c_str(),
                            CreateElement(nullptr, root, QNL_xmlElementHandler::LENIENT), nullptr);
        }
    } reader;
    return reader.Read(path, root);
}

// Reads the document into the network through the network's file entry point.
inline int ReadDocument(QNL_network& network, const std::string& name, const std::string& xml) {
    QNL_errorHandler::Instance().Flush();
    return network.ReadFile(WriteText(name, xml).c_str());
}

// An own-XML document around the given node elements (and further parts of "quarn").
inline std::string Document(const std::string& nodes, const std::string& rest = "") {
    return "<?xml version=\"1.0\"?>\n<quarn version=\"1.0\" id=\"Net\">\n<nodes>\n" + nodes +
           "</nodes>\n" + rest + "</quarn>\n";
}

} // namespace format_test
