#pragma once

#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Checks shared by the file-format tests: two networks compared node by node, nodes matched
// by identifier.
namespace format_test {

struct Compared {
    bool tables = true;      // definition values, compared exactly
    bool positions = false;  // screen x and y
    bool names = false;      // node names
    bool properties = false; // node user properties, in order
    bool types = true;       // definition types
};

inline std::string Text(const char* s) {
    return s != nullptr ? s : "";
}

// Same nodes, outcomes and parents (in order) and whatever else `what` asks for.
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
        if (what.types && x->GetType() != y->GetType())
            return ::testing::AssertionFailure()
                   << id << ": types " << x->GetType() << " and " << y->GetType();
        const QNL_idArray* ox = x->GetDefinition()->GetOutcomeIds();
        const QNL_idArray* oy = y->GetDefinition()->GetOutcomeIds();
        if ((ox == nullptr) != (oy == nullptr))
            return ::testing::AssertionFailure() << id << ": outcomes on one side only";
        if (ox != nullptr && x->GetType() != QNL_TYPE_TABLE && y->GetType() != QNL_TYPE_TABLE) {
            if (ox->GetCount() != oy->GetCount())
                return ::testing::AssertionFailure() << id << ": outcome counts";
            for (int i = 0; i < ox->GetCount(); ++i)
                if (Text(ox->GetString(i)) != Text(oy->GetString(i)))
                    return ::testing::AssertionFailure()
                           << id << ": outcome " << i << " " << Text(ox->GetString(i)) << " vs "
                           << Text(oy->GetString(i));
        }
        const QNL_intArray& px = a.GetParents(h);
        const QNL_intArray& py = b.GetParents(g);
        if (px.GetCount() != py.GetCount())
            return ::testing::AssertionFailure() << id << ": parent counts";
        for (int i = 0; i < px.GetCount(); ++i)
            if (Text(a.GetNode(px[i])->GetId()) != Text(b.GetNode(py[i])->GetId()))
                return ::testing::AssertionFailure() << id << ": parent " << i;
        if (what.tables) {
            QNL_doubleArray vx;
            QNL_doubleArray vy;
            const int rx = x->GetDefinition()->GetDefinition(vx);
            const int ry = y->GetDefinition()->GetDefinition(vy);
            if (rx != ry) return ::testing::AssertionFailure() << id << ": tables on one side";
            if (vx.GetCount() != vy.GetCount())
                return ::testing::AssertionFailure() << id << ": table sizes";
            for (int i = 0; i < vx.GetCount(); ++i)
                if (!(vx[i] == vy[i]))
                    return ::testing::AssertionFailure()
                           << id << ": cell " << i << " " << vx[i] << " vs " << vy[i];
        }
        const QNL_nodeInfo* ix = x->GetInfo();
        const QNL_nodeInfo* iy = y->GetInfo();
        if (what.positions && (ix->screen.position.x != iy->screen.position.x ||
                               ix->screen.position.y != iy->screen.position.y))
            return ::testing::AssertionFailure()
                   << id << ": position (" << ix->screen.position.x << ", " << ix->screen.position.y
                   << ") vs (" << iy->screen.position.x << ", " << iy->screen.position.y << ")";
        if (what.names && Text(ix->header.GetName()) != Text(iy->header.GetName()))
            return ::testing::AssertionFailure() << id << ": names " << Text(ix->header.GetName())
                                                 << " vs " << Text(iy->header.GetName());
        if (what.properties) {
            const QNL_userProperties& ux = ix->properties;
            const QNL_userProperties& uy = iy->properties;
            if (ux.GetNumberOfProperties() != uy.GetNumberOfProperties())
                return ::testing::AssertionFailure() << id << ": property counts";
            for (int i = 0; i < ux.GetNumberOfProperties(); ++i)
                if (Text(ux.GetName(i)) != Text(uy.GetName(i)) ||
                    Text(ux.GetValue(i)) != Text(uy.GetValue(i)))
                    return ::testing::AssertionFailure() << id << ": property " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

inline int CountArcs(const QNL_network& network) {
    int arcs = 0;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        arcs += network.NumberOfParents(h);
    return arcs;
}

} // namespace format_test

namespace format_test {

struct IndexEntry {
    int nodes = -1;
    int arcs = -1;
    // "chance", "decision", "utility" -> count, from the node-kinds column.
    std::map<std::string, int> kinds;
};

// The node and arc counts INDEX.md gives for each file, keyed by the path below the
// networks folder ("net/asia.net"); empty when the index cannot be read.
inline std::map<std::string, IndexEntry> ReadIndex(const std::string& indexPath) {
    std::map<std::string, IndexEntry> entries;
    std::ifstream in(indexPath);
    const std::string marker = "shared/data/networks/";
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| " + marker, 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream row(line);
        std::string cell;
        while (std::getline(row, cell, '|')) {
            const auto first = cell.find_first_not_of(' ');
            const auto last = cell.find_last_not_of(' ');
            cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        // "", path, format, nodes, arcs, ...
        if (cells.size() < 5) continue;
        IndexEntry entry;
        entry.nodes = std::stoi(cells[3]);
        entry.arcs = std::stoi(cells[4]);
        if (cells.size() > 5) {
            std::stringstream kinds(cells[5]);
            std::string part;
            while (std::getline(kinds, part, ',')) {
                std::stringstream words(part);
                int count = 0;
                std::string kind;
                if (words >> count >> kind) entry.kinds[kind] = count;
            }
        }
        entries[cells[1].substr(marker.size())] = entry;
    }
    return entries;
}

} // namespace format_test

#include <filesystem>
#include <unistd.h>

namespace format_test {

// A definition under any type code, without outcomes or table: enough to ask a writer about
// a type it cannot express.
template <int Type> class StubDefinition : public QNL_nodeDefinition {
public:
    StubDefinition(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {}
    QNL_nodeDefinition* CreateCopy() const override { return new StubDefinition(*this); }
    int GetType() const override { return Type; }
    const char* GetTypeName() const override { return "STUB"; }

    static QNL_nodeDefinition* Create(int handle, QNL_network* network) {
        return new StubDefinition(handle, network);
    }
};

// Registers the stub under its type code while it lives.
template <int Type> class ScopedStubType {
public:
    ScopedStubType() : previous(quarn::detail::FindDefinitionClass(Type)) {
        quarn::detail::RegisterDefinitionClass(Type, &StubDefinition<Type>::Create);
    }
    ~ScopedStubType() { quarn::detail::RegisterDefinitionClass(Type, previous); }
    ScopedStubType(const ScopedStubType&) = delete;
    ScopedStubType& operator=(const ScopedStubType&) = delete;

private:
    quarn::detail::DefinitionCreator previous;
};

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag) {
        path = std::filesystem::temp_directory_path() /
               ("quarn_" + tag + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return (path / name).string(); }
    // Writes the bytes as they are (no line-end translation) and returns the file's path.
    std::string Put(const std::string& name, const std::string& bytes) const {
        std::ofstream out(File(name), std::ios::binary);
        out << bytes;
        return File(name);
    }
    static std::string Get(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path path;
};

inline bool Logged(const std::string& fragment) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (std::string(log.GetMessage(i)).find(fragment) != std::string::npos) return true;
    return false;
}

inline std::string SharedNetworks() {
    return std::string(QUARN_SHARED_DIR) + "/data/networks";
}

// Adds a node with the given outcome identifiers (none: the definition's own); the handle.
inline int AddNode(QNL_network& net, int type, const char* id, std::vector<const char*> outcomes) {
    const int node = net.AddNode(type, id);
    if (node >= 0 && !outcomes.empty()) {
        QNL_stringArray ids;
        for (const char* outcome : outcomes)
            ids.Add(outcome);
        net.GetNode(node)->GetDefinition()->SetNumberOfOutcomes(ids);
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
// numbers that "%.8f" would lose.
inline void BuildAwkwardModel(QNL_network& net, AwkwardModel& nodes) {
    const int a = nodes.a = AddNode(net, QNL_TYPE_CPT, "A", {"low", "mid", "high"});
    const int d = nodes.d = AddNode(net, QNL_TYPE_LIST, "D", {"go", "stay"});
    const int b = nodes.b = AddNode(net, QNL_TYPE_CPT, "B", {"yes", "no"});
    const int u = nodes.u = AddNode(net, QNL_TYPE_TABLE, "U", {});
    ASSERT_EQ(0, net.AddArc(a, d));
    ASSERT_EQ(0, net.AddArc(a, b));
    ASSERT_EQ(0, net.AddArc(d, b));
    ASSERT_EQ(0, net.AddArc(d, u));
    ASSERT_EQ(0, net.AddArc(b, u));
    SetValues(net, a, {1.0 / 3, 1.0 / 3, 1.0 / 3});
    SetValues(net, b,
              {0.1, 0.9, 1e-9, 1 - 1e-9, 0.123456789012345, 0.876543210987655, 0.5, 0.5, 2.0 / 3,
               1.0 / 3, 0.25, 0.75});
    SetValues(net, u, {10, -2.5, 3.14159265358979, -1e-7});
}

// A test of one file format: a network, a temporary folder, and the network's parts looked
// up by node identifier.
class FormatTest : public ::testing::Test {
protected:
    // Files read from text are named "in" with the format's extension (".net").
    FormatTest(const char* tag, const char* extension) : folder(tag), extension(extension) {}

    void SetUp() override { QNL_errorHandler::Instance().Flush(); }

    // Reads the text as a file of the format through the network's file entry point.
    int ReadText(const std::string& text, QNL_network& into) {
        return into.ReadFile(folder.Put("in" + extension, text).c_str());
    }
    int ReadText(const std::string& text) { return ReadText(text, network); }

    int Node(const char* id) const { return network.FindNode(id); }
    QNL_nodeDefinition* Definition(const char* id) const {
        return network.GetNode(Node(id))->GetDefinition();
    }
    std::vector<double> Table(const char* id) const {
        QNL_doubleArray values;
        Definition(id)->GetDefinition(values);
        return std::vector<double>(values.Items(), values.Items() + values.GetCount());
    }
    std::vector<std::string> Outcomes(const char* id) const {
        std::vector<std::string> ids;
        const QNL_idArray* outcomes = Definition(id)->GetOutcomeIds();
        for (int i = 0; i < outcomes->GetCount(); ++i)
            ids.push_back(outcomes->GetString(i));
        return ids;
    }
    std::vector<std::string> Parents(const char* id) const {
        std::vector<std::string> ids;
        const QNL_intArray& parents = network.GetParents(Node(id));
        for (int i = 0; i < parents.GetCount(); ++i)
            ids.push_back(network.GetNode(parents[i])->GetId());
        return ids;
    }
    const QNL_nodeInfo& Info(const char* id) const { return *network.GetNode(Node(id))->GetInfo(); }

    // A truth table has no kind of its own in the format: it is written as a probability
    // table and reads back as one, with the same table.
    void ExpectTruthTableWrittenAsProbabilityTable() {
        const int a = AddNode(network, QNL_TYPE_CPT, "A", {"a0", "a1", "a2"});
        const int t = AddNode(network, QNL_TYPE_TRUTHTABLE, "T", {"t0", "t1"});
        ASSERT_EQ(0, network.AddArc(a, t));
        SetValues(network, t, {0, 1, 1, 0, 0, 1});
        const std::string path = folder.File("truth" + extension);
        ASSERT_EQ(0, network.WriteFile(path.c_str()));
        QNL_network copy;
        ASSERT_EQ(0, copy.ReadFile(path.c_str()));
        EXPECT_EQ(QNL_TYPE_CPT, copy.GetNode(copy.FindNode("T"))->GetType());
        EXPECT_TRUE(SameNetworks(network, copy, Compared{true, false, false, false, false}));
    }

    // A multi-attribute utility node makes the write fail with `message` logged, and an
    // existing file keeps its contents.
    void ExpectMultiAttributeUtilityRefused(const char* message) {
        ScopedStubType<QNL_TYPE_MAU> mau;
        AddNode(network, QNL_TYPE_CPT, "A", {"a", "b"});
        ASSERT_GE(network.AddNode(QNL_TYPE_MAU, "M"), 0);
        const std::string path = folder.Put("old" + extension, "old contents");
        EXPECT_EQ(-2, network.WriteFile(path.c_str()));
        EXPECT_TRUE(Logged(message));
        EXPECT_EQ("old contents", TempFolder::Get(path));
    }

    // A node type the format cannot express (an equation) makes the write fail with `message`
    // logged, and no file is made.
    void ExpectEquationNodeRefused(const char* message) {
        ScopedStubType<QNL_TYPE_EQUATION> equation;
        AddNode(network, QNL_TYPE_CPT, "A", {"a", "b"});
        ASSERT_GE(network.AddNode(QNL_TYPE_EQUATION, "E"), 0);
        const std::string path = folder.File("new" + extension);
        EXPECT_EQ(-2, network.WriteFile(path.c_str()));
        EXPECT_TRUE(Logged(message));
        EXPECT_FALSE(std::filesystem::exists(path));
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
    ASSERT_EQ(0, net.ReadFile(file.c_str()));
    ASSERT_EQ(0, net.WriteFile(copyPath.c_str()));
    QNL_network copy;
    ASSERT_EQ(0, copy.ReadFile(copyPath.c_str()));
    EXPECT_TRUE(SameNetworks(net, copy, what));
}

} // namespace format_test
