#pragma once

#include "model/dmatrix.h"
#include "model/object.h"

class QNL_network;
class QNL_doubleArray;
class QNL_intArray;

// The observation costs of one node, indexed by its cost parents: one dimension per cost
// parent in the order of the node's cost-parent list, then a final dimension of size 1.
class QNL_nodeCost : public QNL_object {
public:
    QNL_nodeCost(int handle, QNL_network* network);
    QNL_nodeCost(const QNL_nodeCost& other);
    QNL_nodeCost& operator=(const QNL_nodeCost&) = delete;

    int CleanUp(int deep = 1) override;
    // Emptying and copying; HandleMessage follows an edit of the network.
    int Assign(const QNL_nodeCost& source);
    virtual int HandleMessage(int code);

    // Cost parents, and the shape of the cost table that follows them.
    int AddParents();
    int AddParent(int parent);
    int RemoveParent(int parent);
    int InsertParentOutcome(int parent, int index);
    int RemoveParentOutcome(int parent, int index);
    int ReorderParentOutcomes(int parent, const QNL_intArray& order);
    // -2 unless there is one value per cost and every value is finite (logged); nothing
    // changes then.
    int SetCosts(const QNL_doubleArray& costs);

    // The cost table, and the network and node slot it belongs to.
    const QNL_Dmatrix& GetCosts() const { return costs; }
    QNL_Dmatrix& GetCosts() { return costs; }
    QNL_network* GetNetwork() const { return network; }
    int GetHandle() const { return handle; }
    void SetNetwork(QNL_network* newNetwork, int newHandle) {
        network = newNetwork;
        handle = newHandle;
    }

private:
    // Position of the parent among the node's cost parents, and its definition type.
    int ParentPosition(int parent) const;
    int ParentType(int parent) const;
    int OutcomeDimension(int parent) const;

    QNL_network* network = nullptr;
    int handle = -1;
    QNL_Dmatrix costs;
};
