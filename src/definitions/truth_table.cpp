#include "definitions/truth_table.h"

#include "definitions/definition_support.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <new>
#include <vector>

using quarn::detail::CopyOrNull;

QNL_truthTable::QNL_truthTable(int handle, QNL_network* network) : QNL_cpt(handle, network) {
    // The probability table's constructor built uniform columns; a truth table starts with
    // every column at its first outcome.
    FillFreshColumns(cells.Matrix());
    CheckReadiness(1);
}

QNL_nodeDefinition* QNL_truthTable::CreateCopy() const {
    return CopyOrNull(*this);
}

void QNL_truthTable::FillFreshColumns(QNL_Dmatrix& fresh) const {
    fresh.FillWith(0.0);
    for (int i = 0; i < fresh.GetSize(); ++i)
        fresh.SetToComplement(i);
}

int QNL_truthTable::CheckReadiness(int deep) {
    const QNL_Dmatrix& table = cells.Matrix();
    const int total = table.GetSize();
    const double* values = table.GetItems().Items();
    for (int i = 0; i < total; ++i) {
        if (values[i] != 0.0 && values[i] != 1.0) {
            status &= ~STATUS_READY;
            return 0;
        }
    }
    return QNL_cpt::CheckReadiness(deep);
}

int QNL_truthTable::RepairColumns() {
    if (!IsValid()) return -567;
    QNL_Dmatrix& table = cells.Matrix();
    const int n = outcomeCount;
    const int total = table.GetSize();
    if (n < 1) return 0;
    double* values = table.GetItems().Items();
    for (int start = 0; start + n <= total; start += n) {
        double largest = 0.0;
        int marked = start;
        for (int k = start; k < start + n; ++k) {
            if (values[k] >= largest) {
                largest = values[k];
                values[marked] = 0.0;
                values[k] = 1.0;
                marked = k;
            } else {
                values[k] = 0.0;
            }
        }
    }
    return 0;
}

void QNL_truthTable::FillOpenedColumns(int, int) {
    RepairColumns();
}

int QNL_truthTable::Assign(const QNL_nodeDefinition& source) {
    const int result = QNL_cpt::Assign(source);
    if (result == 0 && &source != this) {
        RepairColumns();
        CheckReadiness(1);
    }
    return result;
}

int QNL_truthTable::SetResultingStates(const int* states, int count) {
    if (!IsValid()) return -567;
    const int columns = GetNumberOfColumns();
    if (count != columns) return -4;
    if (columns > 0 && states == nullptr) return -2;
    for (int c = 0; c < columns; ++c)
        if (states[c] < 0 || states[c] >= outcomeCount) return -2;
    QNL_Dmatrix& table = cells.Matrix();
    table.FillWith(0.0);
    double* values = table.GetItems().Items();
    for (int c = 0; c < columns; ++c)
        values[c * outcomeCount + states[c]] = 1.0;
    CheckReadiness(1);
    Notify(QNL_network::CHANGE_VALUES);
    return 0;
}

int QNL_truthTable::SetResultingStates(const QNL_intArray& states) {
    const int columns = GetNumberOfColumns();
    if (states.GetCount() != columns && states.GetSize() != columns) return -4;
    return SetResultingStates(states.Items(), columns);
}

// An identifier that names no outcome is refused rather than read as the first outcome.
int QNL_truthTable::SetResultingStates(const QNL_stringArray& states) {
    if (!IsValid() || !states.IsValid()) return -567;
    const int columns = GetNumberOfColumns();
    if (states.GetCount() != columns && states.GetSize() != columns) return -4;
    try {
        std::vector<int> indices(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            const int outcome = ids.FindPosition(states.GetString(c));
            if (outcome < 0) return -2;
            indices[static_cast<std::size_t>(c)] = outcome;
        }
        return SetResultingStates(indices.data(), columns);
    } catch (const std::bad_alloc&) {
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_truthTable::GetResultingStates(QNL_stringArray& out) const {
    if (!out.IsValid() || !IsValid()) return -567;
    const int n = outcomeCount;
    const int columns = GetNumberOfColumns();
    const double* values = cells.Matrix().GetItems().Items();
    for (int c = 0; c < columns; ++c) {
        int outcome = 0;
        for (int k = 0; k < n; ++k) {
            if (values[c * n + k] == 1.0) {
                outcome = k;
                break;
            }
        }
        if (int result = out.Add(ids.GetString(outcome))) return result;
    }
    return 0;
}
