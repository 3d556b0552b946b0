#pragma once

#include "definitions/cpt.h"

// A deterministic probability table: every column holds 1.0 at the outcome it resolves to
// and 0.0 elsewhere. It shares the probability table's layout and operations; where a change
// would leave columns that are not of that form (a new parent outcome, a conversion) the
// columns are repaired to their largest entry.
class QNL_truthTable : public QNL_cpt {
public:
    QNL_truthTable(int handle, QNL_network* network);
    QNL_truthTable(const QNL_truthTable& other) = default;
    QNL_truthTable& operator=(const QNL_truthTable&) = delete;
    ~QNL_truthTable() override = default;

    // Not ready when any value is other than exactly 0.0 or 1.0, else as the probability
    // table.
    int CheckReadiness(int deep = 1) override;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_TRUTHTABLE; }
    const char* GetTypeName() const override { return "TRUTHTABLE"; }

    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int Assign(const QNL_nodeDefinition& source) override;

    // One outcome identifier per column; -4 for another number of entries, -2 for an
    // identifier that is not one of the node's outcomes.
    int SetResultingStates(const QNL_stringArray& states) override;
    // One outcome index per column (the array's count or its size); -4 for another number.
    int SetResultingStates(const QNL_intArray& states) override;
    // count outcome indices, one per column; -4 for another count, -2 for an index outside
    // the outcomes, and then nothing changes.
    int SetResultingStates(const int* states, int count);
    // Appends, for every column in order, the identifier of the first outcome holding
    // exactly 1.0; a column without one resolves to the first outcome.
    int GetResultingStates(QNL_stringArray& out) const;

    // Every column keeps 1.0 at its largest entry (ties go to the later outcome) and 0.0
    // elsewhere; a column without an entry of 0.0 or more ends all zero.
    int RepairColumns();

protected:
    // Fresh columns resolve to the first outcome.
    void FillFreshColumns(QNL_Dmatrix& fresh) const override;
    // The columns of a new parent outcome are repaired.
    void FillOpenedColumns(int dim, int index) override;
};
