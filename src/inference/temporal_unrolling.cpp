#include "inference/temporal_unrolling.h"

#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "inference/influence_diagram.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"
#include "model/temporal_network.h"

#include <memory>
#include <new>
#include <string>
#include <utility>

namespace quarn::detail {

namespace {

constexpr int kAnchor = QNL_temporalNetwork::ANCHOR;
constexpr int kTerminal = QNL_temporalNetwork::TERMINAL;
constexpr int kPlate = QNL_temporalNetwork::PLATE;
// A slice count read from a file could ask for more nodes than memory holds; such an
// unrolling is refused before anything is built (a few gigabytes of nodes at this bound).
constexpr long long kMaxCopies = 1LL << 22;

std::string IdOf(const QNL_network& network, int node) {
    const char* id = network.GetNode(node)->GetId();
    return id != nullptr ? id : "";
}

bool SameIds(const QNL_idArray& a, const QNL_idArray* b) {
    if (b == nullptr || a.GetCount() != b->GetCount()) return false;
    for (int i = 0; i < a.GetCount(); ++i)
        if (std::string(a.GetString(i)) != b->GetString(i)) return false;
    return true;
}

// Checked before anything is built: a later slice without a temporal definition takes the
// node's own table, which has a dimension for every anchor parent its copies don't have.
int CheckAnchors(const QNL_network& source, const QNL_temporalNetwork& extension,
                 const std::vector<int>& plate, int slices) {
    for (int node : plate) {
        const QNL_intArray& parents = source.GetParents(node);
        bool anchored = false;
        for (int i = 0; i < parents.GetCount(); ++i)
            anchored = anchored || source.GetTemporalType(parents[i]) == kAnchor;
        if (!anchored) continue;
        // A definition that serves slice 1 serves every later slice.
        if (slices < 2 || extension.DefinitionOrderFor(node, 1) > 0) continue;
        const std::string message = "Node [" + IdOf(source, node) +
                                    "] has an anchor parent and no temporal definition for "
                                    "slice 1";
        return QNL_errorHandler::Instance().LogError(-2, message.c_str());
    }
    return 0;
}

class Unroller {
public:
    Unroller(const QNL_network& source, QNL_network& target, SliceCopies& where)
        : source(source), target(target), where(where) {}

    int Run() {
        const QNL_temporalNetwork* found = source.FindTemporalNetwork();
        static const QNL_temporalNetwork none(nullptr);
        extension = found != nullptr ? found : &none;
        where.slices = found != nullptr ? found->GetNumberOfSlices() : 1;
        where.plate.clear();
        indexOf.assign(static_cast<std::size_t>(source.GetTableSize()), -1);
        for (int h = source.GetFirstNode(); h >= 0; h = source.GetNextNode(h)) {
            if (source.GetTemporalType(h) != kPlate) continue;
            indexOf[static_cast<std::size_t>(h)] = static_cast<int>(where.plate.size());
            where.plate.push_back(h);
        }
        const long long copies =
            static_cast<long long>(where.plate.size()) * (where.slices > 1 ? where.slices - 1 : 0);
        if (copies > kMaxCopies)
            return QNL_errorHandler::Instance().LogError(
                -42, ("Unrolled network too large: " + std::to_string(copies) +
                      " copies of plate nodes, more than " + std::to_string(kMaxCopies))
                         .c_str());
        if (int r = CheckAnchors(source, *extension, where.plate, where.slices)) return r;
        where.copies.assign(where.plate.begin(), where.plate.end());
        where.copies.reserve(where.plate.size() * static_cast<std::size_t>(where.slices));

        if (int r = target.Copy(source, true)) return r;
        if (int r = target.ReserveSlots(static_cast<int>(copies))) return r;
        const int control = source.GetNotificationControl();
        target.SetNotificationControl(control &
                                      ~(QNL_network::NOTIFY_ON | QNL_network::NOTIFY_AUTO_UPDATE));
        // Acyclic by construction: no cycle search per arc.
        target.SetReadingMode(QNL_network::READING_NO_CYCLE_TEST);
        int result = Build();
        target.SetReadingMode(0);
        target.SetNotificationControl(control);
        target.TablesEdited();
        return result;
    }

private:
    int Build() {
        // The plate nodes' values may hold the slices x outcomes of an earlier update.
        for (int node : where.plate)
            if (int r = Reshape(node)) return r;
        std::vector<std::pair<int, QNL_intArray>> terminals;
        for (int h = source.GetFirstNode(); h >= 0; h = source.GetNextNode(h)) {
            if (source.GetTemporalType(h) != kTerminal || !HasPlateParent(h)) continue;
            terminals.emplace_back(h, QNL_intArray(source.GetParents(h)));
            if (int r = target.RemoveAllParents(h)) return r;
        }
        for (int t = 1; t < where.slices; ++t) {
            for (int node : where.plate) {
                const int copy = AddCopy(node, t);
                if (copy < 0) return copy;
                where.copies.push_back(copy);
            }
            for (std::size_t i = 0; i < where.plate.size(); ++i)
                if (int r = Connect(i, t)) return r;
        }
        for (const auto& [terminal, parents] : terminals) {
            for (int i = 0; i < parents.GetCount(); ++i) {
                const int parent = parents[i];
                const int from = source.GetTemporalType(parent) == kPlate
                                     ? Copy(parent, where.slices - 1)
                                     : parent;
                if (int r = target.AddArc(from, terminal)) return r;
            }
            if (int r = TakeDefinition(terminal, source.GetNode(terminal)->GetDefinition()))
                return r;
        }
        return 0;
    }

    bool HasPlateParent(int node) const {
        const QNL_intArray& parents = source.GetParents(node);
        for (int i = 0; i < parents.GetCount(); ++i)
            if (source.GetTemporalType(parents[i]) == kPlate) return true;
        return false;
    }

    int Copy(int node, int slice) const {
        return where.CopyOf(slice,
                            static_cast<std::size_t>(indexOf[static_cast<std::size_t>(node)]));
    }

    int AddCopy(int node, int slice) {
        const QNL_nodeDefinition* definition = source.GetNode(node)->GetDefinition();
        const std::string id = IdOf(source, node) + "_" + std::to_string(slice);
        int copy =
            target.IsIdUsed(id.c_str()) ? -2 : target.AddNode(definition->GetType(), id.c_str());
        if (copy < 0) copy = target.AddNode(definition->GetType(), nullptr);
        if (copy < 0) return copy;
        // Kinds with a fixed outcome set refuse to be given one; they have it already.
        const QNL_idArray* ids = definition->GetOutcomeIds();
        QNL_nodeDefinition* made = target.GetNode(copy)->GetDefinition();
        if (ids != nullptr && !SameIds(*ids, made->GetOutcomeIds())) {
            if (int r = made->SetNumberOfOutcomes(*ids)) return r;
        }
        if (source.IsTarget(node)) target.SetTarget(copy);
        return copy;
    }

    int Connect(std::size_t index, int slice) {
        const int node = where.plate[index];
        const int copy = where.CopyOf(slice, index);
        const QNL_intArray& parents = source.GetParents(node);
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int parent = parents[i];
            const int type = source.GetTemporalType(parent);
            if (type == kAnchor) continue;
            const int from = type == kPlate ? Copy(parent, slice) : parent;
            if (int r = target.AddArc(from, copy)) return r;
        }
        const int order = extension->DefinitionOrderFor(node, slice);
        QNL_intArray temporalParents;
        for (int k = 1; k <= order; ++k) {
            if (int r = extension->GetTemporalParents(node, k, temporalParents)) return r;
            for (int i = 0; i < temporalParents.GetCount(); ++i)
                if (int r = target.AddArc(Copy(temporalParents[i], slice - k), copy)) return r;
        }
        const QNL_nodeDefinition* definition = order > 0
                                                   ? extension->GetTemporalDefinition(node, order)
                                                   : source.GetNode(node)->GetDefinition();
        if (int r = TakeDefinition(copy, definition)) return r;
        const int evidence = extension->GetSliceEvidence(node, slice);
        if (evidence >= 0) {
            QNL_nodeValue* value = target.GetNode(copy)->GetValue();
            value->InitFromDefinition();
            if (int r = value->SetEvidence(evidence)) return r;
        }
        return 0;
    }

    int TakeDefinition(int node, const QNL_nodeDefinition* definition) {
        QNL_node* n = target.GetNode(node);
        if (int r = n->CopyDefinition(definition)) return QNL_errorHandler::Instance().LogError(r);
        return Reshape(node);
    }

    // Shapes the value by the node's definition, keeping the evidence it holds.
    int Reshape(int node) {
        QNL_nodeValue* value = target.GetNode(node)->GetValue();
        const int evidence = value->HasEvidence() ? value->GetEvidence() : -1;
        value->InitFromDefinition();
        return evidence >= 0 && !value->HasEvidence() ? value->SetEvidence(evidence) : 0;
    }

    const QNL_network& source;
    QNL_network& target;
    SliceCopies& where;
    const QNL_temporalNetwork* extension = nullptr;
    std::vector<int> indexOf;
};

// A solved diagram indexes values by the decisions and observations they depend on; the
// copies of later slices among them have no handle in the network. Where a value's indexing
// can't be said there, the value holds the undefined marker instead: a row of a plate node
// whose copy depends on nodes not yet observed, or a node outside the plate that depends on a
// later slice. The findings of the slices before make a slice's row hold its numbers.
class CopyBack {
public:
    CopyBack(QNL_network& network, const QNL_network& unrolled, const SliceCopies& where)
        : network(network), unrolled(unrolled), where(where) {}

    void Run() {
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            if (network.GetTemporalType(h) != kPlate) Single(h);
        for (std::size_t i = 0; i < where.plate.size(); ++i)
            Plate(i);
    }

private:
    static constexpr double kUndefined = QNL_utilityValue::UNDEFINED_UTILITY;

    bool NamedHere(const QNL_intArray& parents) {
        if (parents.GetCount() == 0) return true;
        if (laterCopy.empty()) {
            laterCopy.assign(static_cast<std::size_t>(unrolled.GetTableSize()), 0);
            for (std::size_t c = where.plate.size(); c < where.copies.size(); ++c)
                laterCopy[static_cast<std::size_t>(where.copies[c])] = 1;
        }
        for (int i = 0; i < parents.GetCount(); ++i) {
            const std::size_t p = static_cast<std::size_t>(parents[i]);
            if (p >= laterCopy.size() || laterCopy[p] || network.GetNode(parents[i]) == nullptr)
                return false;
        }
        return true;
    }

    // The value without indexing parents, or with `parents` when given.
    bool Index(int h, const QNL_intArray* parents) {
        QNL_nodeValue* value = network.GetNode(h)->GetValue();
        const QNL_intArray& now = value->GetIndexingParents();
        const int count = parents != nullptr ? parents->GetCount() : 0;
        bool same = now.GetCount() == count;
        for (int i = 0; same && i < count; ++i)
            same = now[i] == (*parents)[i];
        if (same) return true;
        if (ResetValue(network, h) != 0) return false;
        for (int i = 0; i < count; ++i)
            if (value->AddIndexingParent((*parents)[i]) != 0) return false;
        return true;
    }

    void Single(int h) {
        QNL_nodeValue* value = network.GetNode(h)->GetValue();
        QNL_nodeValue* counterpart = unrolled.GetNode(h)->GetValue();
        const QNL_Dmatrix* computed = counterpart->GetMatrix();
        bool valid = counterpart->IsValueValid() && computed != nullptr;
        if (valid) {
            const QNL_intArray& parents = counterpart->GetIndexingParents();
            const bool named = NamedHere(parents);
            valid = Index(h, named ? &parents : nullptr);
            QNL_Dmatrix* matrix = value->GetMatrix();
            valid = valid && matrix != nullptr;
            if (valid && named)
                valid = matrix->Assign(*computed) == 0;
            else if (valid)
                matrix->FillWith(kUndefined);
        }
        value->SetValidFlag(valid);
    }

    // Row t is the value of the node's copy in slice t.
    void Plate(std::size_t i) {
        const int h = where.plate[i];
        QNL_nodeValue* value = network.GetNode(h)->GetValue();
        const int outcomes = network.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        const int sizes[2] = {where.slices, outcomes > 0 ? outcomes : 1};
        bool valid = Index(h, nullptr);
        QNL_Dmatrix* matrix = value->GetMatrix();
        valid = valid && matrix != nullptr && matrix->Setup(sizes, 2) == 0;
        for (int t = 0; valid && t < where.slices; ++t) {
            QNL_nodeValue* copy = unrolled.GetNode(where.CopyOf(t, i))->GetValue();
            const QNL_Dmatrix* row = copy->GetMatrix();
            const bool indexed = copy->GetIndexingParents().GetCount() > 0;
            valid =
                copy->IsValueValid() && row != nullptr && (indexed || row->GetSize() == sizes[1]);
            for (int o = 0; valid && o < sizes[1]; ++o)
                matrix->Subscript(t * sizes[1] + o) = indexed ? kUndefined : row->Subscript(o);
        }
        value->SetValidFlag(valid);
    }

    QNL_network& network;
    const QNL_network& unrolled;
    const SliceCopies& where;
    // Per handle of the unrolled network: a copy of a slice after the first. Made when a
    // value indexed by some node is met.
    std::vector<char> laterCopy;
};

std::vector<int> TargetsOf(const QNL_network& network) {
    std::vector<int> out;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (network.IsTarget(h) == 1) out.push_back(h);
    return out;
}

// Tables can be written in place without a notice: the kept copies are compared cell by cell.
bool SameTable(QNL_nodeDefinition* source, QNL_nodeDefinition* kept) {
    const QNL_Dmatrix* a = source != nullptr ? source->GetMatrix() : nullptr;
    const QNL_Dmatrix* b = kept != nullptr ? kept->GetMatrix() : nullptr;
    if (a == nullptr || b == nullptr || a->GetSize() != b->GetSize()) return false;
    const double* x = a->GetItems().Items();
    const double* y = b->GetItems().Items();
    for (int i = 0; i < a->GetSize(); ++i)
        if (!(x[i] == y[i])) return false;
    return true;
}

bool SameTables(QNL_network& network, const QNL_temporalNetwork& extension, UnrolledNetwork& kept) {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (!SameTable(network.GetNode(h)->GetDefinition(),
                       kept.network.GetNode(h)->GetDefinition()))
            return false;
    const SliceCopies& where = kept.where;
    for (int t = 1; t < where.slices; ++t) {
        for (std::size_t i = 0; i < where.plate.size(); ++i) {
            const int node = where.plate[i];
            const int order = extension.DefinitionOrderFor(node, t);
            QNL_nodeDefinition* source = order > 0 ? extension.GetTemporalDefinition(node, order)
                                                   : network.GetNode(node)->GetDefinition();
            if (!SameTable(source, kept.network.GetNode(where.CopyOf(t, i))->GetDefinition()))
                return false;
        }
    }
    return true;
}

// The kept unrolling takes the evidence of the network's nodes (slice 0) and of its slices:
// what differs is withdrawn first, then set, so no stale finding conflicts with a new one.
bool RefreshEvidence(const QNL_network& network, const QNL_temporalNetwork& extension,
                     UnrolledNetwork& kept) {
    std::vector<std::pair<int, int>> wanted;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_nodeValue* value = network.GetNode(h)->GetValue();
        const int outcome = value->HasEvidence() ? value->GetEvidence() : -1;
        if (value->HasEvidence() && outcome < 0) return false;
        wanted.emplace_back(h, outcome);
    }
    const SliceCopies& where = kept.where;
    for (int t = 1; t < where.slices; ++t)
        for (std::size_t i = 0; i < where.plate.size(); ++i)
            wanted.emplace_back(where.CopyOf(t, i), extension.GetSliceEvidence(where.plate[i], t));
    auto valueOf = [&](int h) { return kept.network.GetNode(h)->GetValue(); };
    for (const auto& [h, outcome] : wanted) {
        QNL_nodeValue* value = valueOf(h);
        if (value->HasEvidence() && value->GetEvidence() != outcome && value->ClearEvidence() != 0)
            return false;
    }
    for (const auto& [h, outcome] : wanted) {
        QNL_nodeValue* value = valueOf(h);
        if (outcome >= 0 && !value->HasEvidence() && value->SetEvidence(outcome) != 0) return false;
    }
    return true;
}

bool CanReuse(QNL_network& network, const QNL_temporalNetwork& extension, UnrolledNetwork& kept) {
    if (kept.structureVersion != network.GetStructureVersion() ||
        kept.definitionsVersion != extension.GetDefinitionsVersion() ||
        kept.where.slices != extension.GetNumberOfSlices() || kept.targets != TargetsOf(network) ||
        !SameTables(network, extension, kept))
        return false;
    kept.network.SetDefaultBNAlgorithm(network.GetDefaultBNAlgorithm());
    kept.network.SetNumberOfSamples(network.GetNumberOfSamples());
    return RefreshEvidence(network, extension, kept);
}

} // namespace

int UnrollTemporalNetwork(const QNL_network& source, QNL_network& target, SliceCopies& where) {
    try {
        return Unroller(source, target, where).Run();
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int UpdateTemporalNetwork(QNL_network& network) {
    try {
        QNL_temporalNetwork& extension = network.GetTemporalNetwork();
        UnrolledNetwork* kept = extension.GetUnrolled();
        if (kept != nullptr && !CanReuse(network, extension, *kept)) {
            extension.SetUnrolled(nullptr);
            kept = nullptr;
        }
        if (kept == nullptr) {
            static std::uint64_t serial = 0;
            auto fresh = std::make_unique<UnrolledNetwork>();
            if (int r = UnrollTemporalNetwork(network, fresh->network, fresh->where)) return r;
            fresh->structureVersion = network.GetStructureVersion();
            fresh->definitionsVersion = extension.GetDefinitionsVersion();
            fresh->targets = TargetsOf(network);
            fresh->serial = ++serial;
            kept = fresh.get();
            extension.SetUnrolled(std::move(fresh));
        }
        const int result = kept->network.UpdateBeliefs();
        CopyBack(network, kept->network, kept->where).Run();
        return result;
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

bool ProbEvidenceOfTemporalNetwork(const QNL_network& network, double& result, bool chainRule) {
    try {
        QNL_network unrolled;
        SliceCopies where;
        if (UnrollTemporalNetwork(network, unrolled, where) != 0) return false;
        return unrolled.CalcPropEvidence(result, chainRule);
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return false;
    }
}

} // namespace quarn::detail
