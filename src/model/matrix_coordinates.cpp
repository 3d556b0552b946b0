#include "model/matrix_coordinates.h"

#include "model/node_definition.h"

#include "model/error_handler.h"

#include <cstdint>

QNL_matrixCoordinates::QNL_matrixCoordinates(QNL_Dmatrix* matrix) : matrix(matrix) {
    Reset();
}

int QNL_matrixCoordinates::LinkToDefinition(QNL_nodeDefinition* definition) {
    QNL_Dmatrix* table = definition != nullptr ? definition->GetMatrix() : nullptr;
    if (table == nullptr) return -2;
    matrix = table;
    Reset();
    return 0;
}

// Without room for the coordinates the cursor is not valid and has no matrix, so every
// walk ends at once.
void QNL_matrixCoordinates::Reset() {
    index = 0;
    const int rank = matrix != nullptr ? matrix->GetNumberOfDimensions() : 0;
    if (coordinates.SetSize(rank) != 0 || locks.SetSize(rank) != 0) {
        QNL_errorHandler::Instance().LogError(-42, "Not enough memory for matrix coordinates");
        matrix = nullptr;
        coordinates.CleanUp();
        locks.CleanUp();
        status &= ~STATUS_VALID;
        return;
    }
    coordinates.SetCount(rank);
    coordinates.FillWith(0);
    locks.SetCount(rank);
    locks.FillWith(0);
}

int QNL_matrixCoordinates::GoFirst() {
    coordinates.FillWith(0);
    index = 0;
    return 0;
}

int QNL_matrixCoordinates::GoTo(int target) {
    if (matrix == nullptr || target < 0 || target >= matrix->GetSize() ||
        coordinates.GetSize() < matrix->GetNumberOfDimensions())
        return GoFirst();
    index = target;
    for (int d = 0; d < matrix->GetNumberOfDimensions(); ++d) {
        const int step = matrix->GetMultiplier(d);
        coordinates[d] = target / step;
        target %= step;
    }
    return 0;
}

int QNL_matrixCoordinates::LockDimension(int dim) {
    if (dim < 0 || dim >= locks.GetSize())
        return QNL_errorHandler::Instance().LogError(-2, "Matrix dimension out of range");
    locks[dim] = 1;
    return 0;
}

int QNL_matrixCoordinates::UnlockAll() {
    locks.FillWith(0);
    return 0;
}

int QNL_matrixCoordinates::Next() {
    if (matrix == nullptr) return -2;
    const int rank = matrix->GetNumberOfDimensions();
    if (coordinates.GetSize() < rank) return -2;
    int d = rank - 1;
    while (d >= 0 && (locks[d] != 0 || coordinates[d] >= matrix->GetSizeOfDimension(d) - 1))
        --d;
    if (d < 0) return -2;
    ++coordinates[d];
    for (int later = d + 1; later < rank; ++later)
        if (locks[later] == 0) coordinates[later] = 0;
    std::int64_t at = 0;
    for (int i = 0; i < rank; ++i)
        at += std::int64_t{coordinates[i]} * matrix->GetMultiplier(i);
    index = static_cast<int>(at);
    return 0;
}

int QNL_matrixCoordinates::ComputeIndex() {
    const int rank = matrix != nullptr ? matrix->GetNumberOfDimensions() : 0;
    bool fits = matrix != nullptr && coordinates.GetSize() >= rank;
    std::int64_t at = 0;
    for (int d = 0; fits && d < rank; ++d) {
        const int c = coordinates[d];
        fits = c >= 0 && c < matrix->GetSizeOfDimension(d);
        at += std::int64_t{c} * matrix->GetMultiplier(d);
    }
    if (!fits) {
        GoFirst();
        return QNL_errorHandler::Instance().LogError(-2, "Matrix coordinates out of range");
    }
    index = static_cast<int>(at);
    return 0;
}

double& QNL_matrixCoordinates::GetElement() {
    if (matrix == nullptr || index < 0 || index >= matrix->GetSize()) {
        spare = 0.0;
        return spare;
    }
    return matrix->Subscript(index);
}
