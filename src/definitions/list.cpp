#include "definitions/list.h"

#include "definitions/definition_support.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <algorithm>
#include <new>

using namespace quarn::detail;

namespace {

// A value array of exactly n numbers, all in use; -42 when it cannot be had.
int SizedValues(QNL_doubleArray& values, int n) {
    if (values.SetSize(n) != 0) return -42;
    values.SetCount(n);
    return 0;
}

} // namespace

QNL_list::QNL_list(int handle, QNL_network* network) : QNL_nodeDefinition(handle, network) {
    AddParents();
    CheckConsistency(1);
}

QNL_list::QNL_list(const QNL_list& other)
    : QNL_nodeDefinition(other), choices(other.choices), choiceValues(other.choiceValues) {
    network = other.network;
    handle = other.handle;
    status = other.status;
}

QNL_nodeDefinition* QNL_list::CreateCopy() const {
    return CopyOrNull(*this);
}

int QNL_list::CleanUp(int deep) {
    if (deep) {
        choices.CleanUp(deep);
        choiceValues.CleanUp();
    }
    return CheckConsistency(0);
}

int QNL_list::CheckConsistency(int deep) {
    if (deep) choices.CheckConsistency(0);
    const bool valuesFit =
        choiceValues.GetSize() == 0 || choiceValues.GetSize() == choices.GetCount();
    if (choices.IsValid() && valuesFit)
        status |= STATUS_VALID;
    else
        status &= ~STATUS_VALID;
    return 0;
}

int QNL_list::CheckReadiness(int deep) {
    if (deep) choices.CheckReadiness(0);
    status = choices.IsReady() ? (status | STATUS_READY) : (status & ~STATUS_READY);
    return 0;
}

int QNL_list::Notify(int kind) {
    return NotifyNetwork(network, handle, kind);
}

// ---------------------------------------------------------------------------------------
// Parents.

int QNL_list::AddParent(int parent) {
    if (!IsValid()) return -567;
    if (network == nullptr || !network->IsValidNodeHandle(parent)) return -2;
    return QNL_IsTableParentType(TypeAt(network, parent)) ? 0 : -2;
}

int QNL_list::AddParents() {
    return Guarded([&] {
        if (int result = PadOutcomeIds(choices, "Choice")) return result;
        if (choiceValues.GetSize() != choices.GetCount()) choiceValues.CleanUp();
        CheckConsistency(0);
        if (network == nullptr || !network->IsValidNodeHandle(handle)) return 0;
        const QNL_intArray parents(network->GetParents(handle));
        for (int i = 0; i < parents.GetCount(); ++i) {
            const int result = AddParent(parents[i]);
            if (result != 0)
                QNL_errorHandler::Instance().LogError(result, "Parent could not be added");
        }
        return 0;
    });
}

// A decision indexes no table, but it keeps only the parents it would have accepted, so a
// parent that became a utility or a continuous node does not stay an informational arc.
int QNL_list::RemoveInvalidParents() {
    return RemoveNonTableParents(network, handle);
}

// ---------------------------------------------------------------------------------------
// Conversion.

// A source that gives no choices of its own (an equation, a utility table) leaves the two
// default choices, never an empty list: children and values could not follow a decision
// without outcomes. A refused source leaves this list as it was.
int QNL_list::Assign(const QNL_nodeDefinition& source) {
    if (!source.IsValid()) return -567;
    if (&source == this) return 0;
    const int type = source.GetType();
    bool fromTable = false;
    switch (type) {
    case 0:
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
    case QNL_TYPE_TABLE:
    case QNL_TYPE_LIST:
        break;
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
        fromTable = true;
        break;
    // Gates, multi-attribute utilities and continuous definitions have no choices to give.
    default:
        return -2;
    }
    return Guarded([&] {
        QNL_idArray fresh(false);
        QNL_doubleArray values;
        if (type == QNL_TYPE_LIST || fromTable) {
            const QNL_idArray* ids = source.GetOutcomeIds();
            if (ids == nullptr) return -2;
            if (int r = fresh.Assign(*ids)) return r;
        }
        if (type == QNL_TYPE_LIST) {
            if (int r = source.GetDefinition(values)) return r;
            values.SetCount(values.GetSize());
        }
        if (fromTable) {
            QNL_network* net = source.GetNetwork();
            if (net != nullptr && net->IsValidNodeHandle(source.GetHandle()))
                if (int r = net->RemoveAllParents(source.GetHandle())) return r;
        }
        if (int r = choices.Assign(fresh)) return r;
        QNL_nodeDefinition::Assign(source);
        choiceValues.Swap(values);
        AddParents();
        CheckConsistency(1);
        CheckReadiness(1);
        Notify(QNL_network::CHANGE_SHAPE);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------
// Own outcomes.

int QNL_list::AddOutcome(const char* id) {
    if (!IsValid()) return -567;
    return InsertOutcome(choices.GetCount(), id);
}

int QNL_list::InsertOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    const int n = choices.GetCount();
    if (index < 0 || index > n) return -2;
    const bool follow = ValuesFollowChoices();
    QNL_doubleArray values;
    if (follow) {
        if (SizedValues(values, n + 1) != 0) return QNL_errorHandler::Instance().LogError(-42);
        std::copy(choiceValues.Items(), choiceValues.Items() + index, values.Items());
        values[index] = 0.0;
        std::copy(choiceValues.Items() + index, choiceValues.Items() + n,
                  values.Items() + index + 1);
    }
    if (int result = InsertOutcomeId(choices, index, id, "Choice")) return result;
    if (follow) choiceValues.Swap(values);
    CheckConsistency(0);
    return PropagateInsertOutcome(index);
}

int QNL_list::RemoveOutcome(int index) {
    if (!IsValid()) return -567;
    const int n = choices.GetCount();
    if (n < 3 || index < 0 || index >= n) return -2;
    if (ValuesFollowChoices()) {
        QNL_doubleArray values;
        if (SizedValues(values, n - 1) != 0) return QNL_errorHandler::Instance().LogError(-42);
        std::copy(choiceValues.Items(), choiceValues.Items() + index, values.Items());
        std::copy(choiceValues.Items() + index + 1, choiceValues.Items() + n,
                  values.Items() + index);
        choiceValues.Swap(values);
    }
    const int result = PropagateRemoveOutcome(index, choices);
    CheckConsistency(0);
    return result;
}

int QNL_list::RenameOutcome(int index, const char* id) {
    if (!IsValid()) return -567;
    if (index < 0 || index >= choices.GetCount()) return -2;
    return choices.SetString(index, id);
}

int QNL_list::SetOutcomeIds(const QNL_stringArray& ids) {
    if (!IsValid() || !ids.IsValid()) return -567;
    return Guarded([&] {
        if (int r = RenameOutcomeIds(choices, ids)) return r;
        CheckConsistency(0);
        return 0;
    });
}

int QNL_list::CommitChoices(QNL_idArray& fresh) {
    if (int r = choices.Assign(fresh)) return r;
    choiceValues.CleanUp();
    AddParents();
    ResizeAnnotations();
    CheckConsistency(1);
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_SHAPE);
    return 0;
}

int QNL_list::SetNumberOfOutcomes(int count) {
    if (HasDependents(network, handle)) return -19;
    const int m = std::max(count, 2);
    return Guarded([&] {
        QNL_idArray fresh(false);
        if (int r = DefaultOutcomeIds(fresh, "Choice", m)) return r;
        return CommitChoices(fresh);
    });
}

int QNL_list::SetNumberOfOutcomes(const QNL_stringArray& ids) {
    if (HasDependents(network, handle)) return -19;
    if (!ids.IsValid()) return -567;
    return Guarded([&] {
        QNL_idArray fresh(false);
        bool usable = false;
        if (int r = ReadOutcomeIds(ids, fresh, usable)) return r;
        return usable ? CommitChoices(fresh) : SetNumberOfOutcomes(ids.GetCount());
    });
}

int QNL_list::ReorderOutcomes(const QNL_intArray& order) {
    if (!IsValid()) return -567;
    if (order.GetCount() != choices.GetCount()) return -2;
    const int result = Guarded([&] {
        QNL_doubleArray values;
        const bool follow = ValuesFollowChoices();
        if (follow) {
            if (values.Assign(choiceValues) != 0) throw std::bad_alloc();
            values.SetCount(values.GetSize());
            if (int r = values.Reorder(order)) return r;
        }
        if (int r = choices.Reorder(order)) return r;
        if (follow) choiceValues.Swap(values);
        return 0;
    });
    if (result != 0) return result;
    return PropagateReorderOutcomes(order);
}

int QNL_list::ChangeOutcomes(const QNL_stringArray& ids, const QNL_intArray& map) {
    return ChangeOutcomesKeepingTwo(*this, ids, map);
}

// ---------------------------------------------------------------------------------------
// Whole definition.

int QNL_list::GetDefinition(QNL_stringArray& out) const {
    if (out.Assign(choices) != 0) return QNL_errorHandler::Instance().LogError(-42);
    return 0;
}

int QNL_list::GetDefinition(QNL_doubleArray& out) const {
    if (out.Assign(choiceValues) != 0) return QNL_errorHandler::Instance().LogError(-42);
    out.SetCount(out.GetSize());
    return 0;
}

int QNL_list::SetResultingStates(const QNL_stringArray& ids) {
    if (!IsValid() || !ids.IsValid()) return -567;
    if (ids.GetCount() == choices.GetCount()) return SetOutcomeIds(ids);
    return SetNumberOfOutcomes(ids);
}

int QNL_list::SetDefinition(const QNL_doubleArray& values) {
    if (!IsValid()) return -567;
    const int n = choices.GetCount();
    if (values.GetCount() == 0 && values.GetSize() == 0) {
        choiceValues.CleanUp();
        return 0;
    }
    if (values.GetCount() != n && values.GetSize() != n) return -2;
    QNL_doubleArray copy;
    if (SizedValues(copy, n) != 0) return QNL_errorHandler::Instance().LogError(-42);
    std::copy(values.Items(), values.Items() + n, copy.Items());
    choiceValues.Swap(copy);
    return 0;
}
