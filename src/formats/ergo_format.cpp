#include "formats/ergo_format.h"

#include "definitions/noisy_max.h"
#include "formats/foreign_format_support.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "numerics/number_text.h"

#include <algorithm>
#include <new>
#include <string>

using quarn::detail::FormatOutOfMemory;

namespace {

double Clamped(double v) {
    return !(v >= 0.0) ? 0.0 : v > 1.0 ? 1.0 : v;
}

// A token of any kind but punctuation: Ergo words may be numbers too.
bool IsWord(int kind) {
    return kind == QNL_textParser::IDENTIFIER || kind == QNL_textParser::INTEGER ||
           kind == QNL_textParser::REAL;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Reading

int QNL_ergoFormat::Read(const char* path) {
    if (network == nullptr) return -2;
    nodes.clear();
    int result = StartReading(path, SCANNER_MODE);
    if (result == -102) QNL_errorHandler::Instance().LogError(-102, "ERROR: The file is empty");
    if (result != 0) return FinishReading(result);
    try {
        result = ReadFrame();
    } catch (const std::bad_alloc&) {
        result = FormatOutOfMemory();
    }
    return FinishReading(result);
}

// An integer where the layout needs one; the reason is logged when there is none.
int QNL_ergoFormat::ReadCount(int* out) {
    if (ReadInteger(out) == 0) return 0;
    const int result = Expect(INTEGER);
    // An integer beyond the range of int.
    return result != 0 ? result : ReportError(-2, "ERROR: Number out of range");
}

int QNL_ergoFormat::ReadFrame() {
    int n = 0;
    int result = ReadCount(&n);
    if (result != 0) return result;
    const std::string count = GetTokenText();
    // Each node needs at least its number of states and its number of parents, so a count
    // the rest of the file cannot hold is refused before any node is made.
    if (n < 0 || 4LL * n - 1 > static_cast<long long>(GetRemainingInput()))
        return ReportError(-2, ("ERROR: (\"" + count + "\") : Invalid number of nodes").c_str());
    if (n == 0) return 0;
    for (int i = 0; i < n; ++i) {
        const int handle = network->AddNode(QNL_TYPE_NOISY_MAX, nullptr);
        if (handle < 0) ReportError(handle, "ERROR: Couldn't Create Node");
        nodes.push_back(handle);
    }
    for (int handle : nodes) {
        int k = 0;
        if ((result = ReadCount(&k)) != 0) return result;
        // A node cannot have more states than the rest of the file has characters to list.
        if (k < 2 || static_cast<std::size_t>(k) > std::max<std::size_t>(GetRemainingInput(), 2)) {
            ReportError(-2,
                        ("ERROR: '" + std::to_string(k) + "' : Invalid number of states").c_str());
            k = 2;
        }
        if (handle >= 0) {
            result = network->GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(k);
            if (result != 0) ReportError(result, "ERROR: Couldn't set the number of states");
        }
    }
    for (int handle : nodes) {
        int p = 0;
        if ((result = ReadCount(&p)) != 0) return result;
        if (p < 0) {
            ReportError(-2,
                        ("ERROR:'" + std::to_string(p) + "' : Invalid number of parents").c_str());
            p = 0;
        }
        for (int i = 0; i < p; ++i) {
            int j = 0;
            if ((result = ReadCount(&j)) != 0) return result;
            if (j < 1 || j > n) {
                ReportError(
                    -2, ("ERROR: Couldn't Add Arc From Parent Node (\"" + std::to_string(j) + "\")")
                            .c_str());
                continue;
            }
            const int parent = nodes[static_cast<std::size_t>(j - 1)];
            if (handle < 0 || parent < 0) continue;
            const int added = network->AddArc(parent, handle, 0);
            if (added != 0)
                ReportError(added, ("ERROR: Couldn't Add Arc From Parent Node (\"" +
                                    std::string(network->GetNode(parent)->GetId()) + "\")")
                                       .c_str());
        }
    }
    return ReadSections();
}

int QNL_ergoFormat::ReadSections() {
    int result = -2;
    bool any = false;
    while (PeekToken() == 0) {
        if (!(GetTokenKind() == PUNCTUATOR && GetTokenText() == "/")) break;
        ConsumeToken();
        int heading = Expect(PUNCTUATOR, "*");
        std::string name;
        if (heading == 0) heading = NextIsWord() ? 0 : Expect(IDENTIFIER);
        if (heading == 0) {
            name = GetTokenText();
            ConsumeToken();
            heading = Expect(PUNCTUATOR, "*");
        }
        if (heading == 0) heading = Expect(PUNCTUATOR, "/");
        if (heading != 0) return heading;
        any = true;
        if (name == "Probabilities") {
            result = ReadProbabilities();
        } else if (name == "Names") {
            result = ReadNames();
        } else if (name == "Labels") {
            result = ReadLabels();
        } else if (name == "Centers") {
            result = ReadCenters();
        } else {
            result = ReportError(-127, ("ERROR: (\"" + name + "\") : Unknown Section").c_str());
        }
        if (result != 0 && result != -2 && result != -127) return result;
    }
    if (GetPeekResult() != 0 && GetPeekResult() != -111) return GetPeekResult();
    // Whatever follows the last section is no heading: left-over numbers or words.
    if (GetPeekResult() == 0) return Expect(PUNCTUATOR, "/");
    if (!any) return ReportError(-2, "ERROR: End of File : Expecting '/'");
    return result;
}

bool QNL_ergoFormat::NextIsWord() {
    return PeekToken() == 0 && IsWord(GetTokenKind());
}

int QNL_ergoFormat::ReadProbabilities() {
    int result = 0;
    for (int handle : nodes) {
        int c = 0;
        if ((result = ReadCount(&c)) != 0) return result;
        if (c < 0) {
            return ReportError(-2,
                               ("ERROR:'" + std::to_string(c) + "' : Invalid table size").c_str());
        }
        if (c == 0) {
            if ((result = ReadNoisyParameters(handle)) != 0) return result;
            continue;
        }
        QNL_node* node = handle >= 0 ? network->GetNode(handle) : nullptr;
        long long m = 0;
        if (node != nullptr) {
            m = node->GetDefinition()->GetNumberOfOutcomes();
            const QNL_intArray& parents = network->GetParents(handle);
            for (int i = 0; i < parents.GetCount() && m <= c; ++i)
                m *= network->GetNode(parents[i])->GetDefinition()->GetNumberOfOutcomes();
        }
        const bool fits = node != nullptr && m == c;
        if (node != nullptr && !fits)
            ReportError(-2, ("ERROR:'" + std::to_string(c) + "' : Invalid table size").c_str());
        // A table that does not fit is read past and never applied in part.
        QNL_doubleArray values;
        bool finite = true;
        for (int i = 0; i < c; ++i) {
            double v = 0.0;
            if (ReadReal(&v) != 0) return Expect(REAL);
            if (!fits) continue;
            quarn::detail::ClearRoundOff(&v, 1);
            finite = finite && v >= 0.0 && v <= 1.0;
            if ((result = values.Add(v)) != 0) return result;
        }
        if (!fits) continue;
        result = node->SetType(QNL_TYPE_CPT);
        if (result == 0 && !finite) result = -2;
        if (result == 0) result = node->GetDefinition()->SetDefinition(values);
        if (result != 0) ReportError(-2, "ERROR: Couldn't set probabilities");
    }
    ReverseFullTableParents();
    return 0;
}

// The cumulative numbers x1 .. x(k-1) of one column, given from the node's last state on,
// as a distribution over the node's states: with L = (1, x(k-1), .., x1) state i takes
// L[i] - L[i+1] and the last state L[k-1]; what differencing leaves negative becomes 0 and
// the column is scaled to sum 1 (its sum is at least 1 before).
int QNL_ergoFormat::ReadNoisyColumn(int k, double* column) {
    std::vector<double> cumulative(static_cast<std::size_t>(k), 1.0);
    for (int i = k - 1; i >= 1; --i) {
        double v = 0.0;
        if (ReadReal(&v) != 0) return Expect(REAL);
        cumulative[static_cast<std::size_t>(i)] = Clamped(v);
    }
    double sum = 0.0;
    for (int i = 0; i < k; ++i) {
        const double next = i + 1 < k ? cumulative[static_cast<std::size_t>(i + 1)] : 0.0;
        column[i] = Clamped(cumulative[static_cast<std::size_t>(i)] - next);
        sum += column[i];
    }
    for (int i = 0; i < k; ++i)
        column[i] /= sum;
    return 0;
}

// The leak first, then for each parent the columns of its states but the last, which is the
// distinguished one: its column is the unit column at the node's last state.
int QNL_ergoFormat::ReadNoisyParameters(int handle) {
    QNL_node* node = handle >= 0 ? network->GetNode(handle) : nullptr;
    auto* noisy = node != nullptr ? dynamic_cast<QNL_noisyMAX*>(node->GetDefinition()) : nullptr;
    if (noisy == nullptr) {
        // A node passed over, or one a full table made earlier: its numbers are read past.
        int k = 2;
        if (node != nullptr) k = node->GetDefinition()->GetNumberOfOutcomes();
        std::vector<double> column(static_cast<std::size_t>(k));
        int columns = 1;
        if (node != nullptr) {
            const QNL_intArray& parents = network->GetParents(handle);
            for (int i = 0; i < parents.GetCount(); ++i)
                columns += network->GetNode(parents[i])->GetDefinition()->GetNumberOfOutcomes() - 1;
            ReportError(-2, "ERROR:'0' : Invalid table size");
        }
        for (int c = 0; c < columns; ++c)
            if (int r = ReadNoisyColumn(k, column.data())) return r;
        return 0;
    }
    const int k = noisy->GetNumberOfOutcomes();
    QNL_Dmatrix params(*noisy->GetParameters());
    double* cells = params.GetItems().Items();
    const int blocks = noisy->GetNumberOfBlocks();
    if (int r =
            ReadNoisyColumn(k, cells + static_cast<std::size_t>(noisy->ColumnOffset(blocks)) * k))
        return r;
    for (int b = 0; b < blocks; ++b) {
        const int offset = noisy->ColumnOffset(b);
        const int size = noisy->GetBlockSize(b);
        for (int s = 0; s + 1 < size; ++s)
            if (int r = ReadNoisyColumn(k, cells + static_cast<std::size_t>(offset + s) * k))
                return r;
        double* unit = cells + static_cast<std::size_t>(offset + size - 1) * k;
        std::fill(unit, unit + k, 0.0);
        unit[k - 1] = 1.0;
    }
    if (int r = noisy->SetDefinition(params)) ReportError(r, "ERROR: Couldn't set probabilities");
    return 0;
}

// The states of a node with a full table are listed in its own order, while the columns of
// the noisy form run from a parent's last state to its first: for such a parent the columns
// stay where they were read and its strength order is reversed, so the column read last
// belongs to its first state... and its first state, the one left without a column, takes
// the distinguished place.
void QNL_ergoFormat::ReverseFullTableParents() {
    for (int handle : nodes) {
        QNL_node* node = handle >= 0 ? network->GetNode(handle) : nullptr;
        auto* noisy =
            node != nullptr ? dynamic_cast<QNL_noisyMAX*>(node->GetDefinition()) : nullptr;
        if (noisy == nullptr) continue;
        for (int b = 0; b < noisy->GetNumberOfBlocks(); ++b) {
            const QNL_node* parent = network->GetNode(noisy->GetBlockParent(b));
            if (parent == nullptr || parent->GetType() != QNL_TYPE_CPT) continue;
            const int m = noisy->GetBlockSize(b);
            QNL_intArray order;
            for (int i = m - 1; i >= 0; --i)
                order.Add(i);
            noisy->SetParentOutcomeStrengths(b, order);
        }
    }
}

int QNL_ergoFormat::ReadNames() {
    // Where each node stands in the file, so a node that must make way is found at once.
    std::vector<int> positionOf(static_cast<std::size_t>(std::max(network->GetTableSize(), 0)), -1);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i] >= 0 && static_cast<std::size_t>(nodes[i]) < positionOf.size())
            positionOf[static_cast<std::size_t>(nodes[i])] = static_cast<int>(i);
    // The word each node was named with, to tell names the file repeats from identifiers
    // that only the repair makes alike.
    std::vector<std::string> words(nodes.size());
    // From the node count up to it, the numbers are known to be borne by automatic
    // identifiers, so a node making way after another does not try them all again; one of
    // them given up lowers it (those below the node count are never tried).
    long long freshFrom = 0;
    auto givingUp = [&](long long number) {
        if (number >= network->GetNumberOfNodes() && number < freshFrom) freshFrom = number;
    };
    for (std::size_t at = 0; at < nodes.size(); ++at) {
        const int handle = nodes[at];
        if (!NextIsWord()) return Expect(IDENTIFIER);
        const std::string word = GetTokenText();
        ConsumeToken();
        QNL_node* node = handle >= 0 ? network->GetNode(handle) : nullptr;
        if (node == nullptr) continue;
        words[at] = word;
        // An 'x' in front, as for labels: replacing the first character would give "1" and
        // "2" the same identifier.
        std::string id = word;
        quarn::detail::RepairId(id);
        // A node not named yet still bears the identifier made for it on creation, which a
        // written network's own names may repeat ("Node1" first): it makes way for the name.
        const int holder = network->FindNode(id.c_str());
        const int holderAt = holder >= 0 && static_cast<std::size_t>(holder) < positionOf.size()
                                 ? positionOf[static_cast<std::size_t>(holder)]
                                 : -1;
        if (holder != handle && holderAt > static_cast<int>(at)) {
            std::string fresh;
            network->GenerateNodeId(fresh, freshFrom);
            givingUp(QNL_network::AutomaticIdNumber(network->GetNode(holder)->GetId()));
            network->GetNode(holder)->SetId(fresh.c_str());
        }
        const long long automatic = QNL_network::AutomaticIdNumber(node->GetId());
        if (network->IsIdUsed(id.c_str(), handle) != 1 && node->SetId(id.c_str()) == 0) {
            givingUp(automatic);
        } else if (holder != handle && holderAt >= 0 &&
                   words[static_cast<std::size_t>(holderAt)] == word) {
            // The file names two nodes alike; a clash that only the repair made ("a-b" and
            // "a.b") is no fault of the file.
            ReportError(-2, ("ERROR: [" + word + "] Duplicated Identifier").c_str());
        }
        // Otherwise the node keeps the automatic identifier it was made with, its own.
        node->GetInfo()->header.SetName(word.c_str());
        node->GetInfo()->header.SetComment(word.c_str());
    }
    return 0;
}

int QNL_ergoFormat::ReadLabels() {
    for (int handle : nodes) {
        QNL_node* node = handle >= 0 ? network->GetNode(handle) : nullptr;
        const int k = node != nullptr ? node->GetDefinition()->GetNumberOfOutcomes() : 0;
        QNL_stringArray words;
        // A node passed over still has its labels in the file, as many as it was given.
        const int count = node != nullptr ? k : 2;
        for (int i = 0; i < count; ++i) {
            if (!NextIsWord()) return Expect(IDENTIFIER);
            if (int r = words.Add(GetTokenText().c_str())) return r;
            ConsumeToken();
        }
        if (node == nullptr) continue;
        const bool reversed = node->GetType() == QNL_TYPE_NOISY_MAX;
        QNL_stringArray ordered;
        for (int i = 0; i < k; ++i)
            if (int r = ordered.Add(words.GetString(reversed ? k - 1 - i : i))) return r;
        QNL_idArray ids(false);
        int result = ids.Assign(ordered);
        if (result == 0) result = ids.MakeAllIdsValid();
        if (result == 0) result = node->GetDefinition()->SetOutcomeIds(ids);
        if (result != 0)
            return ReportError(result, ("ERROR: Couldn't set the states of node (\"" +
                                        std::string(node->GetId()) + "\")")
                                           .c_str());
    }
    return 0;
}

int QNL_ergoFormat::ReadCenters() {
    for (int handle : nodes) {
        int xy[2] = {0, 0};
        bool read = true;
        for (int& v : xy) {
            if (ReadInteger(&v) == 0) continue;
            read = false;
            // A pair that is not two integers is passed over.
            if (!NextIsNumber()) return Expect(INTEGER);
            ConsumeToken();
        }
        QNL_node* node = handle >= 0 ? network->GetNode(handle) : nullptr;
        if (!read || node == nullptr) continue;
        node->GetInfo()->screen.position.x = xy[0];
        node->GetInfo()->screen.position.y = xy[1];
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Writing

int QNL_ergoFormat::Write(const char* path) {
    if (network == nullptr) return -2;
    static const char* const refusal = "ERROR: This Network cannot be saved in Ergo format";
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        const int type = node->GetType();
        if (type != QNL_TYPE_CPT && type != QNL_TYPE_TRUTHTABLE)
            return QNL_errorHandler::Instance().LogError(-2, refusal);
        if (!quarn::detail::HoldsFiniteNumbers(node, quarn::detail::DEFINITION_NUMBERS))
            return QNL_errorHandler::Instance().LogError(
                -2, std::string(refusal) + ": node '" +
                        (node->GetId() != nullptr ? node->GetId() : quarn::detail::UNNAMED_NODE) +
                        "' holds a number that is not finite");
    }
    try {
        int result = OpenFile(path, QNL_textFile::WRITE_MODE);
        if (result != 0) return result;
        result = WriteFile();
        if (result != 0) {
            DiscardFile();
            return result;
        }
        return CloseFile();
    } catch (const std::bad_alloc&) {
        DiscardFile();
        return FormatOutOfMemory();
    }
}

// Every list follows the one topological order, so the positions in the parent lists and the
// order of every section agree. Lines are never broken: the layout is by tabs and newlines.
int QNL_ergoFormat::WriteFile() {
    const QNL_intArray order(network->GetOrderedNodes());
    const int n = order.GetCount();
    std::vector<int> position(static_cast<std::size_t>(std::max(network->GetTableSize(), 0)), 0);
    for (int i = 0; i < n; ++i)
        position[static_cast<std::size_t>(order[i])] = i + 1;
    auto node = [&](int i) { return network->GetNode(order[i]); };

    std::string text = std::to_string(n) + "\n\n";
    for (int i = 0; i < n; ++i)
        text += std::to_string(node(i)->GetDefinition()->GetNumberOfOutcomes()) + "\t";
    text += "\n\n";
    for (int i = 0; i < n; ++i) {
        const QNL_intArray& parents = network->GetParents(order[i]);
        text += std::to_string(parents.GetCount());
        for (int j = 0; j < parents.GetCount(); ++j)
            text += "\t" + std::to_string(position[static_cast<std::size_t>(parents[j])]);
        text += "\n";
    }
    text += "\n\n";
    if (int r = WriteRaw(text.c_str())) return r;

    // Every file has this heading, one without nodes too.
    text = "\n/*\tProbabilities\t*/\n";
    for (int i = 0; i < n; ++i) {
        QNL_doubleArray values;
        if (int r = node(i)->GetDefinition()->GetDefinition(values)) return r;
        text += std::to_string(values.GetCount()) + "\n";
        for (int v = 0; v < values.GetCount(); ++v)
            text += FormatNumber(values[v]) + "\t";
        text += "\n\n";
        if (int r = WriteRaw(text.c_str())) return r;
        text.clear();
    }
    text += "\n\n/*\tNames\t*/\n";
    for (int i = 0; i < n; ++i) {
        const char* id = node(i)->GetId();
        text +=
            std::string(id != nullptr && id[0] != '\0' ? id : quarn::detail::UNNAMED_NODE) + "\t";
    }
    text += "\n\n\n/*\tLabels\t*/\n";
    for (int i = 0; i < n; ++i) {
        const QNL_idArray* ids = node(i)->GetDefinition()->GetOutcomeIds();
        for (int s = 0; ids != nullptr && s < ids->GetCount(); ++s)
            text += std::string(ids->GetString(s)) + "\t";
        text += "\n";
    }
    text += "\n\n\n/*\tCenters\t*/\n";
    for (int i = 0; i < n; ++i) {
        const QNL_rectangle& at = node(i)->GetInfo()->screen.position;
        text += std::to_string(at.x) + "\t" + std::to_string(at.y) + "\n";
    }
    return WriteRaw(text.c_str());
}
