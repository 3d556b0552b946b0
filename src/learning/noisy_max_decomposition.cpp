#include "learning/noisy_max_decomposition.h"

#include "definitions/noisy_max.h"
#include "model/dmatrix.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace quarn::detail {

namespace {

int SetMark(QNL_network& network, int node, const char* name, const char* value) {
    return network.GetNode(node)->GetInfo()->properties.AddProperty(name, value);
}

// A table whose node takes the smallest of its parents' outcome indices.
void FillSmallestIndex(QNL_Dmatrix& table) {
    const int dims = table.GetNumberOfDimensions();
    const int outcomes = table.GetSizeOfDimension(dims - 1);
    double* cells = table.GetItems().Items();
    const int columns = table.GetSize() / outcomes;
    for (int c = 0; c < columns; ++c) {
        int smallest = outcomes - 1;
        int rest = c;
        for (int d = dims - 2; d >= 0; --d) {
            const int size = table.GetSizeOfDimension(d);
            smallest = std::min(smallest, rest % size);
            rest /= size;
        }
        for (int k = 0; k < outcomes; ++k)
            cells[c * outcomes + k] = k == smallest ? 1.0 : 0.0;
    }
}

const char* MarkOf(QNL_network& network, int node, const char* name) {
    const QNL_userProperties& properties = network.GetNode(node)->GetInfo()->properties;
    const int at = properties.FindProperty(name);
    return at < 0 ? nullptr : properties.GetValue(at);
}

bool MarkIs(QNL_network& network, int node, const char* name, const char* value) {
    const char* mark = MarkOf(network, node, name);
    return mark != nullptr && std::strcmp(mark, value) == 0;
}

void DropMark(QNL_network& network, int node, const char* name) {
    QNL_userProperties& properties = network.GetNode(node)->GetInfo()->properties;
    const int at = properties.FindProperty(name);
    if (at >= 0) properties.DeleteProperty(at);
}

int FirstParent(QNL_network& network, int node) {
    const QNL_intArray& parents = network.GetParents(node);
    return parents.GetCount() > 0 ? parents[0] : -1;
}

QNL_noisyMAX* NoisyMaxOf(QNL_network& network, int node) {
    QNL_node* n = network.GetNode(node);
    if (n == nullptr || n->GetType() != QNL_TYPE_NOISY_MAX) return nullptr;
    return static_cast<QNL_noisyMAX*>(n->GetDefinition());
}

} // namespace

const NoisyMaxDecomposition::Parts* NoisyMaxDecomposition::Find(int node) const {
    for (const auto& parts : done)
        if (parts->node == node) return parts.get();
    return nullptr;
}

int NoisyMaxDecomposition::Decompose(int node) {
    QNL_noisyMAX* definition = NoisyMaxOf(network, node);
    if (definition == nullptr || Find(node) != nullptr) return 1;
    auto parts = std::make_unique<Parts>();
    parts->node = node;
    QNL_node* x = network.GetNode(node);
    const QNL_userProperties& properties = x->GetInfo()->properties;
    const int form = properties.FindProperty("QNL_MAXDECOMP");
    parts->ladder = form >= 0 && std::strcmp(properties.GetValue(form), "LADDER") == 0;
    const QNL_intArray& parents = network.GetParents(node);
    parts->parents.assign(parents.Items(), parents.Items() + parents.GetCount());
    parts->original.reset(definition->CreateCopy());
    parts->properties = std::make_unique<QNL_userProperties>(properties);
    if (parts->original == nullptr || !parts->properties->IsValid()) return -42;
    if (int r = Build(*parts)) {
        Recompose(*parts, false);
        return r;
    }
    network.TablesEdited();
    done.push_back(std::move(parts));
    return 0;
}

int NoisyMaxDecomposition::DecomposeAll() {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        if (Find(h) != nullptr) continue;
        const int r = Decompose(h);
        if (r < 0) {
            RecomposeAll();
            return r;
        }
    }
    return 0;
}

int NoisyMaxDecomposition::RecomposeAll() {
    int status = 0;
    // Last decomposed first, so handles freed by one never confuse another.
    while (!done.empty()) {
        const int r = Recompose(*done.back(), true);
        if (status == 0) status = r;
        done.pop_back();
    }
    network.TablesEdited();
    return status;
}

// A new table node named after the pattern ("%s" the noisy-MAX node, then the parent), made
// unique when the name is taken; with the node's outcomes, or the default two.
int NoisyMaxDecomposition::AddAuxiliary(Parts& parts, const char* pattern, const char* parent,
                                        bool outcomesOfNode) {
    const QNL_node* x = network.GetNode(parts.node);
    std::string id = pattern;
    id.replace(id.find("%s"), 2, x->GetId());
    if (parent != nullptr) id.replace(id.find("%s"), 2, parent);
    std::string unique = id;
    for (int n = 1; network.FindNode(unique.c_str()) >= 0; ++n)
        unique = id + "_" + std::to_string(n);
    const int handle = network.AddNode(QNL_TYPE_CPT, unique.c_str());
    if (handle < 0) return handle;
    QNL_node* added = network.GetNode(handle);
    added->GetInfo()->screen.Assign(x->GetInfo()->screen);
    if (outcomesOfNode) {
        QNL_stringArray ids;
        if (int r = ids.Assign(*x->GetDefinition()->GetOutcomeIds())) return r;
        if (int r = added->GetDefinition()->SetNumberOfOutcomes(ids)) return r;
    }
    return handle;
}

int NoisyMaxDecomposition::Build(Parts& parts) {
    const int x = parts.node;
    const auto& original = static_cast<const QNL_noisyMAX&>(*parts.original);
    const QNL_Dmatrix& params = original.GetParameters();
    const int n = network.GetNode(x)->GetDefinition()->GetNumberOfOutcomes();
    const double* columns = params.GetItems().Items();
    const int m = static_cast<int>(parts.parents.size());
    const bool frozen = [&] {
        const int at = parts.properties->FindProperty("QNL_NOLEARN");
        return at >= 0 && std::strcmp(parts.properties->GetValue(at), "ALL") == 0;
    }();

    for (int i = 0; i < m; ++i) {
        const int p = parts.parents[static_cast<std::size_t>(i)];
        const int inhibitor =
            AddAuxiliary(parts, "INHIBITOR_%s_%s", network.GetNode(p)->GetId(), true);
        if (inhibitor < 0) return inhibitor;
        parts.inhibitors.push_back(inhibitor);
        if (int r = network.AddArc(p, inhibitor)) return r;
        const QNL_intArray* strengths = original.GetParentOutcomeStrengths(i);
        const int offset = original.GetParentColumnOffset(i);
        QNL_Dmatrix* table = network.GetNode(inhibitor)->GetDefinition()->GetMatrix();
        if (strengths == nullptr || offset < 0 || table == nullptr) return -2;
        const int size = strengths->GetCount();
        double* cells = table->GetItems().Items();
        for (int j = 0; j < size; ++j)
            std::copy_n(columns + static_cast<std::size_t>(offset + j) * n, n,
                        cells + static_cast<std::size_t>((*strengths)[j]) * n);
        const std::string distinguished = std::to_string((*strengths)[size - 1]);
        if (int r =
                SetMark(network, inhibitor, "QNL_NOLEARN", frozen ? "ALL" : distinguished.c_str()))
            return r;
        if (parts.ladder) {
            if (int r = SetMark(network, inhibitor, "QNL_DECOMPTYPE", "INHIBITOR")) return r;
        }
    }

    parts.leakParent = AddAuxiliary(parts, "LEAK_PARENT_%s", nullptr, false);
    if (parts.leakParent < 0) return parts.leakParent;
    QNL_Dmatrix* leakPrior = network.GetNode(parts.leakParent)->GetDefinition()->GetMatrix();
    if (leakPrior == nullptr || leakPrior->GetSize() != 2) return -2;
    leakPrior->Subscript(0) = 1.0;
    leakPrior->Subscript(1) = 0.0;
    if (int r = SetMark(network, parts.leakParent, "QNL_NOLEARN", "ALL")) return r;
    if (int r = SetMark(network, parts.leakParent, "QNL_FAKE_LEAK", "TRUE")) return r;

    parts.leakChild = AddAuxiliary(parts, "LEAK_CHILD_%s", nullptr, true);
    if (parts.leakChild < 0) return parts.leakChild;
    if (int r = network.AddArc(parts.leakParent, parts.leakChild)) return r;
    QNL_Dmatrix* leak = network.GetNode(parts.leakChild)->GetDefinition()->GetMatrix();
    if (leak == nullptr || leak->GetSize() != 2 * n) return -2;
    const int leakColumn = original.ColumnOffset(original.GetNumberOfBlocks());
    std::copy_n(columns + static_cast<std::size_t>(leakColumn) * n, n, leak->GetItems().Items());
    for (int k = 0; k < n; ++k)
        leak->Subscript(n + k) = k == n - 1 ? 1.0 : 0.0;
    if (int r = SetMark(network, parts.leakChild, "QNL_NOLEARN", frozen ? "ALL" : "1")) return r;
    if (int r = SetMark(network, parts.leakChild, "QNL_FAKE_LEAK", "TRUE")) return r;
    if (parts.ladder) {
        if (int r = SetMark(network, parts.leakChild, "QNL_DECOMPTYPE", "LEAKCHILD")) return r;
    }

    std::vector<int> newParents;
    if (parts.ladder) {
        int chain = parts.leakChild;
        for (int i = 0; i + 1 < m; ++i) {
            const int p = parts.parents[static_cast<std::size_t>(i)];
            const int step = AddAuxiliary(parts, "LADDER_%s_%s", network.GetNode(p)->GetId(), true);
            if (step < 0) return step;
            parts.ladders.push_back(step);
            if (int r = network.AddArc(chain, step)) return r;
            if (int r = network.AddArc(parts.inhibitors[static_cast<std::size_t>(i)], step))
                return r;
            FillSmallestIndex(*network.GetNode(step)->GetDefinition()->GetMatrix());
            if (int r = SetMark(network, step, "QNL_NOLEARN", "ALL")) return r;
            if (int r = SetMark(network, step, "QNL_DECOMPTYPE", "LADDER")) return r;
            chain = step;
        }
        newParents.push_back(chain);
        if (m > 0) newParents.push_back(parts.inhibitors.back());
    } else {
        newParents = parts.inhibitors;
        newParents.push_back(parts.leakChild);
    }

    for (int p : parts.parents)
        if (int r = network.RemoveArc(p, x)) return r;
    if (int r = network.GetNode(x)->SetType(QNL_TYPE_CPT)) return r;
    for (int p : newParents)
        if (int r = network.AddArc(p, x)) return r;
    QNL_Dmatrix* table = network.GetNode(x)->GetDefinition()->GetMatrix();
    if (table == nullptr) return -2;
    FillSmallestIndex(*table);
    if (int r = SetMark(network, x, "QNL_NOLEARN", "ALL")) return r;
    return SetMark(network, x, parts.ladder ? "QNL_DECOMPTYPE" : "QNL_ORIGINAL_NOISYMAX",
                   parts.ladder ? "ORIGMAX" : "TRUE");
}

static int DeleteAuxiliaries(QNL_network& network, NoisyMaxDecomposition::Parts& parts) {
    int status = 0;
    auto note = [&](int r) {
        if (status == 0) status = r;
    };
    for (int h : parts.ladders)
        note(network.DeleteNode(h));
    for (int h : parts.inhibitors)
        note(network.DeleteNode(h));
    if (parts.leakChild >= 0) note(network.DeleteNode(parts.leakChild));
    if (parts.leakParent >= 0) note(network.DeleteNode(parts.leakParent));
    parts.ladders.clear();
    parts.inhibitors.clear();
    parts.leakChild = parts.leakParent = -1;
    return status;
}

// Puts the noisy-MAX node back as it was, with the tables the auxiliary nodes hold now as
// its parameters when `learned`, and deletes the auxiliary nodes.
int NoisyMaxDecomposition::Recompose(Parts& parts, bool learned) {
    const int x = parts.node;
    const auto& original = static_cast<const QNL_noisyMAX&>(*parts.original);
    QNL_Dmatrix params(original.GetParameters());
    const int n = original.GetNumberOfOutcomes();
    if (learned && static_cast<int>(parts.inhibitors.size()) == original.GetNumberOfBlocks()) {
        double* columns = params.GetItems().Items();
        // Each learned column goes back to the parameter column it came from; the
        // distinguished one stays the unit column.
        for (std::size_t i = 0; i < parts.inhibitors.size(); ++i) {
            const QNL_intArray* strengths = original.GetParentOutcomeStrengths(static_cast<int>(i));
            const int offset = original.GetParentColumnOffset(static_cast<int>(i));
            const QNL_Dmatrix* table =
                network.GetNode(parts.inhibitors[i])->GetDefinition()->GetMatrix();
            if (strengths == nullptr || table == nullptr) continue;
            const double* cells = table->GetItems().Items();
            for (int j = 0; j + 1 < strengths->GetCount(); ++j)
                std::copy_n(cells + static_cast<std::size_t>((*strengths)[j]) * n, n,
                            columns + static_cast<std::size_t>(offset + j) * n);
        }
        const QNL_Dmatrix* leak =
            parts.leakChild >= 0 ? network.GetNode(parts.leakChild)->GetDefinition()->GetMatrix()
                                 : nullptr;
        const int leakColumn = original.ColumnOffset(original.GetNumberOfBlocks());
        if (leak != nullptr)
            std::copy_n(leak->GetItems().Items(), n,
                        columns + static_cast<std::size_t>(leakColumn) * n);
    }

    int status = DeleteAuxiliaries(network, parts);
    auto note = [&](int r) {
        if (status == 0) status = r;
    };
    QNL_node* node = network.GetNode(x);
    note(network.RemoveAllParents(x));
    note(node->SetType(QNL_TYPE_NOISY_MAX));
    for (int p : parts.parents)
        note(network.AddArc(p, x));
    QNL_nodeDefinition* definition = node->GetDefinition();
    note(definition->Assign(original));
    if (learned && node->GetType() == QNL_TYPE_NOISY_MAX) {
        auto* noisyMax = static_cast<QNL_noisyMAX*>(definition);
        QNL_Dmatrix* target = noisyMax->GetParameters();
        if (target->GetSize() == params.GetSize()) {
            std::copy_n(params.GetItems().Items(), params.GetSize(), target->GetItems().Items());
            noisyMax->MarkStale();
        }
    }
    note(node->GetInfo()->properties.Assign(*parts.properties));
    network.TablesEdited();
    return status;
}

// The ladder form is found by walking up from the node: each step's parents are an inhibitor
// and the next ladder node, until the leak child. The inhibitor form is the node's parents.
bool NoisyMaxDecomposition::FindParts(QNL_network& network, int x, Parts& parts,
                                      std::vector<int>& distinguished) {
    const QNL_node* node = network.GetNode(x);
    if (node == nullptr || node->GetType() != QNL_TYPE_CPT) return false;
    parts.node = x;
    parts.ladder = MarkIs(network, x, "QNL_DECOMPTYPE", "ORIGMAX");
    if (parts.ladder) {
        int at = x;
        // Each step goes one ladder node up, so the walk is bounded by the node count.
        for (int steps = network.GetNumberOfNodes(); parts.leakChild < 0; --steps) {
            const QNL_intArray& up = network.GetParents(at);
            if (steps < 0 || up.GetCount() == 0) return false;
            int next = -1;
            for (int k = up.GetCount() - 1; k >= 0; --k) {
                const int p = up[k];
                if (MarkIs(network, p, "QNL_DECOMPTYPE", "INHIBITOR")) {
                    parts.inhibitors.insert(parts.inhibitors.begin(), p);
                } else if (MarkIs(network, p, "QNL_DECOMPTYPE", "LADDER") && next < 0) {
                    parts.ladders.insert(parts.ladders.begin(), p);
                    next = p;
                } else if (MarkIs(network, p, "QNL_DECOMPTYPE", "LEAKCHILD") && next < 0) {
                    parts.leakChild = p;
                } else {
                    return false;
                }
            }
            if (parts.leakChild < 0 && next < 0) return false;
            at = next;
        }
    } else {
        if (!MarkIs(network, x, "QNL_ORIGINAL_NOISYMAX", "TRUE")) return false;
        const QNL_intArray& up = network.GetParents(x);
        for (int k = 0; k < up.GetCount(); ++k) {
            if (!MarkIs(network, up[k], "QNL_FAKE_LEAK", "TRUE"))
                parts.inhibitors.push_back(up[k]);
            else if (parts.leakChild < 0)
                parts.leakChild = up[k];
            else
                return false;
        }
    }
    if (parts.leakChild < 0) return false;
    parts.leakParent = FirstParent(network, parts.leakChild);
    if (parts.leakParent < 0 || !MarkIs(network, parts.leakParent, "QNL_FAKE_LEAK", "TRUE"))
        return false;
    const int n = node->GetDefinition()->GetNumberOfOutcomes();
    for (int inhibitor : parts.inhibitors) {
        const int p = FirstParent(network, inhibitor);
        if (p < 0 || network.GetNode(inhibitor)->GetDefinition()->GetNumberOfOutcomes() != n)
            return false;
        parts.parents.push_back(p);
        // A frozen node marks its inhibitors "ALL": the last outcome is then the distinguished.
        const int outcomes = network.GetNode(p)->GetDefinition()->GetNumberOfOutcomes();
        const char* mark = MarkOf(network, inhibitor, "QNL_NOLEARN");
        char* end = nullptr;
        const long d = mark != nullptr ? std::strtol(mark, &end, 10) : -1;
        const bool number = mark != nullptr && end != mark && *end == '\0';
        distinguished.push_back(number && d >= 0 && d < outcomes ? static_cast<int>(d)
                                                                 : outcomes - 1);
    }
    return true;
}

int NoisyMaxDecomposition::RecomposeFromMarks(QNL_network& network, int x) {
    Parts parts;
    std::vector<int> distinguished;
    if (!FindParts(network, x, parts, distinguished)) return 1;
    // The learned tables are read before anything is deleted.
    std::vector<QNL_Dmatrix> tables;
    for (int h : parts.inhibitors)
        tables.emplace_back(*network.GetNode(h)->GetDefinition()->GetMatrix());
    const QNL_Dmatrix leak(*network.GetNode(parts.leakChild)->GetDefinition()->GetMatrix());

    QNL_node* node = network.GetNode(x);
    if (int r = network.RemoveAllParents(x)) return r;
    if (int r = node->SetType(QNL_TYPE_NOISY_MAX)) return r;
    for (int p : parts.parents)
        if (int r = network.AddArc(p, x)) return r;
    auto* gate = static_cast<QNL_noisyMAX*>(node->GetDefinition());
    const int n = gate->GetNumberOfOutcomes();
    double* columns = gate->GetParameters()->GetItems().Items();
    for (std::size_t i = 0; i < parts.parents.size(); ++i) {
        const int index = static_cast<int>(i);
        const QNL_intArray* strengths = gate->GetParentOutcomeStrengths(index);
        if (strengths == nullptr) return -2;
        const int outcomes = strengths->GetCount();
        const int d = distinguished[i];
        if (d != outcomes - 1) {
            // The distinguished outcome trades places with the last in the strength order.
            QNL_intArray order;
            for (int j = 0; j < outcomes; ++j)
                order.Add(j == d ? outcomes - 1 : j == outcomes - 1 ? d : j);
            if (int r = gate->SetParentOutcomeStrengths(index, order)) return r;
        }
        const int offset = gate->GetParentColumnOffset(index);
        const double* cells = tables[i].GetItems().Items();
        for (int j = 0; j + 1 < outcomes; ++j)
            std::copy_n(cells + static_cast<std::size_t>((*strengths)[j]) * n, n,
                        columns + static_cast<std::size_t>(offset + j) * n);
    }
    std::copy_n(leak.GetItems().Items(), n,
                columns +
                    static_cast<std::size_t>(gate->ColumnOffset(gate->GetNumberOfBlocks())) * n);
    gate->MarkStale();
    const int status = DeleteAuxiliaries(network, parts);
    DropMark(network, x, "QNL_NOLEARN");
    DropMark(network, x, parts.ladder ? "QNL_DECOMPTYPE" : "QNL_ORIGINAL_NOISYMAX");
    network.TablesEdited();
    return status;
}

} // namespace quarn::detail

bool DecomposeNoisyMax(QNL_network& network, int node) {
    quarn::detail::NoisyMaxDecomposition decomposition(network);
    const bool done = decomposition.Decompose(node) == 0;
    decomposition.Release();
    return done;
}

bool RecomposeNoisyMax(QNL_network& network, int node) {
    return quarn::detail::NoisyMaxDecomposition::RecomposeFromMarks(network, node) == 0;
}
