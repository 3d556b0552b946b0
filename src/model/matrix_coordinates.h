#pragma once

#include "model/dmatrix.h"
#include "model/int_array.h"
#include "model/object.h"

class QNL_nodeDefinition;

// A cursor over a QNL_Dmatrix it does not own: one coordinate per dimension, the linear
// index of the cell there, and a lock per dimension that Next leaves alone. Callers may set
// coordinates directly and then call ComputeIndex. The matrix must outlive the cursor and
// keep its shape while the cursor is used; GetElement never reads outside the values.
class QNL_matrixCoordinates : public QNL_object {
public:
    QNL_matrixCoordinates() = default;
    explicit QNL_matrixCoordinates(QNL_Dmatrix* matrix);

    // The matrix the cursor walks.
    QNL_Dmatrix* GetMatrix() const { return matrix; }
    // Walks the definition's table from now on; -2 when the definition has none.
    int LinkToDefinition(QNL_nodeDefinition* definition);

    // Moves the cursor: to the first cell, to an index, with some dimensions held fixed.
    int GoFirst();
    // An index outside the matrix puts the cursor on the first cell.
    int GoTo(int index);
    int LockDimension(int dim);
    int UnlockAll();
    // Advances the last unlocked dimension that can still advance and resets the unlocked
    // dimensions after it; -2 when none can.
    int Next();
    // Index from the coordinates; a coordinate outside its dimension gives -2 with the
    // cursor back on the first cell.
    int ComputeIndex();

    // The cursor's flat index and its coordinates, one per dimension.
    int GetIndex() const { return index; }
    int& operator[](int dim) { return coordinates[dim]; }
    int operator[](int dim) const { return coordinates[dim]; }
    QNL_intArray& GetCoordinates() { return coordinates; }
    const QNL_intArray& GetCoordinates() const { return coordinates; }

    // The cell at the index. Without a cell there (no matrix, or one reshaped under the
    // cursor) this is a spare cell of the cursor, reset to 0.0, so nothing outside the
    // matrix is read or written.
    double& GetElement();

private:
    void Reset();

    QNL_Dmatrix* matrix = nullptr;
    QNL_intArray coordinates;
    int index = 0;
    QNL_intArray locks;
    double spare = 0.0;
};
