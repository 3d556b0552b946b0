#pragma once

class QNL_relevanceComponent;
class QNL_network;
class QNL_Dmatrix;

// The read side of one component of a reduced network, as the join trees and samplers see
// it: records are numbered 0..N-1 in the component's order; parents and children are given
// as record numbers of the same component (-3 for a record outside it).
class QNL_graphView {
public:
    static constexpr int OUTSIDE = -3;
    // Table kinds: the record owns its table, or reads its node definition's matrix.
    static constexpr int TABLE_NONE = 0;
    static constexpr int TABLE_OWN = 1;
    static constexpr int TABLE_DEFINITION = 2;

    explicit QNL_graphView(QNL_relevanceComponent* component) : component(component) {}

    // The records the triangulation works on and their outcome counts.
    int GetNumberOfRecords() const;
    int GetNumberOfOutcomes(int record) const;
    // The observed outcome, -1 when the record is unobserved.
    int GetObservedOutcome(int record) const;
    int GetTableKind(int record) const;
    // The record's conditional table: one dimension per parent in parent order, the record's
    // own outcomes last. Null for a record without one.
    const QNL_Dmatrix* GetTable(int record) const;
    int GetNumberOfParents(int record) const;
    int GetParent(int record, int index) const;
    int GetNumberOfChildren(int record) const;
    int GetChild(int record, int index) const;
    // The network node the record stands for; -1 for an extra record without a node.
    int GetNodeHandle(int record) const;
    // Whether the record's beliefs are wanted: the network has no target, or it is one.
    bool IsReported(int record) const;
    QNL_network* GetNetwork() const;
    // Writes normalised beliefs into the node's value (one dimension of `count` outcomes)
    // and marks the value valid; 0, or -2 for a record without a node.
    int WriteBeliefs(int record, const double* beliefs, int count) const;
    QNL_relevanceComponent* GetComponent() const { return component; }

private:
    QNL_relevanceComponent* component;
};
