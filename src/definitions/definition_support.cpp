#include "definitions/definition_support.h"

#include "definitions/cpt.h"

#include <string>

namespace quarn::detail {

// Arcs may go while the list is walked (a removal can prune more), hence the bound check.
void RestoreParents(QNL_network* net, int node, const QNL_intArray& oldParents,
                    QNL_intArray& order) {
    for (int i = net->GetParents(node).GetCount() - 1; i >= 0; --i) {
        const QNL_intArray& now = net->GetParents(node);
        if (i < now.GetCount() && !oldParents.IsInList(now[i])) net->RemoveArc(now[i], node, 0);
    }
    for (int i = 0; i < oldParents.GetCount(); ++i)
        if (!net->GetParents(node).IsInList(oldParents[i])) net->AddArc(oldParents[i], node, 0);
    const QNL_intArray& restored = net->GetParents(node);
    bool complete = restored.GetCount() == oldParents.GetCount();
    bool inPlace = true;
    for (int i = 0; complete && i < oldParents.GetCount(); ++i) {
        order.Add(restored.FindPosition(oldParents[i]));
        complete = order[i] >= 0;
        inPlace = inPlace && order[i] == i;
    }
    if (complete && !inPlace) net->ReorderParents(node, order);
}

int RemoveNonTableParents(QNL_network* net, int node) {
    if (net == nullptr || !net->IsValidNodeHandle(node)) return 0;
    return Guarded([&] {
        // A copy: every removal shortens the network's own list.
        const QNL_intArray parents(net->GetParents(node));
        for (int i = 0; i < parents.GetCount(); ++i)
            if (!QNL_IsTableParentType(TypeAt(net, parents[i])))
                net->RemoveArc(parents[i], node, 0);
        return 0;
    });
}

int PadOutcomeIds(QNL_idArray& ids, const char* prefix) {
    while (ids.GetCount() < 2)
        if (int result = ids.AddDefault(prefix, ids.GetCount())) return result;
    return 0;
}

int DefaultOutcomeIds(QNL_idArray& ids, const char* prefix, int count) {
    // Numbered from an empty array they are distinct and valid by construction, so each is
    // added without the scan for a duplicate that would make a large count quadratic.
    if (ids.GetCount() == 0 && IsValidId(prefix)) {
        std::string id;
        for (int i = 0; i < count; ++i) {
            id = prefix + std::to_string(i);
            if (int result = ids.QNL_stringArray::Insert(i, id.c_str())) return result;
        }
        return 0;
    }
    for (int i = 0; i < count; ++i)
        if (int result = ids.AddDefault(prefix, i)) return result;
    return 0;
}

int InsertOutcomeId(QNL_idArray& ids, int index, const char* id, const char* prefix) {
    const int result = ids.Insert(index, id);
    return result == -2 ? ids.InsertDefault(prefix, ids.GetCount(), index) : result;
}

int RenameOutcomeIds(QNL_idArray& ids, const QNL_stringArray& texts) {
    if (texts.GetCount() < ids.GetCount()) return -2;
    QNL_idArray fresh(ids.AllowsEmpty());
    std::string repaired;
    for (int i = 0; i < ids.GetCount(); ++i) {
        const char* text = texts.GetString(i);
        if (fresh.Add(text) == 0) continue;
        int result = fresh.MakeValidId(text, -1, repaired);
        if (result == 0) result = fresh.Add(repaired.c_str());
        if (result != 0) return result;
    }
    return ids.Assign(fresh);
}

int ReadOutcomeIds(const QNL_stringArray& texts, QNL_idArray& fresh, bool& usable) {
    usable = false;
    if (int result = fresh.QNL_stringArray::Assign(texts)) return result;
    fresh.CheckReadiness(1);
    usable = fresh.IsReady() || fresh.MakeAllIdsValid() == 0;
    return 0;
}

bool ColumnsAreDistributions(const QNL_Dmatrix& table) {
    const int dimensions = table.GetNumberOfDimensions();
    if (dimensions == 0 || table.GetSize() == 0) return true;
    const int n = table.GetSizeOfDimension(dimensions - 1);
    if (n <= 0) return false;
    const double* values = table.GetItems().Items();
    for (int start = 0; start < table.GetSize(); start += n) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) {
            if (!(values[start + k] >= 0.0)) return false;
            sum += values[start + k];
        }
        if (!(sum >= QNL_cpt::MIN_COLUMN_SUM && sum <= QNL_cpt::MAX_COLUMN_SUM)) return false;
    }
    return true;
}

} // namespace quarn::detail
