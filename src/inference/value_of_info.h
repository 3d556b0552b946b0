#pragma once

#include "model/dmatrix.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/object.h"

// The question "how much does the expected utility grow when these nodes are observed before
// that decision is made" about one influence diagram, and after QNL_network::Update its answer:
// one value per configuration of the indexing nodes. The network is not owned; it must outlive
// the object. Valid once bound to a consistent network, ready when the decision, the point of
// view and every valued node are nodes of it.
class QNL_valueOfInfo : public QNL_object {
public:
    explicit QNL_valueOfInfo(QNL_network* network);
    QNL_valueOfInfo(const QNL_valueOfInfo&) = delete;
    QNL_valueOfInfo& operator=(const QNL_valueOfInfo&) = delete;
    ~QNL_valueOfInfo() override = default;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    // -567 when not bound; -2 for a handle that names no node or is listed already.
    int AddNode(int node);
    // -567 when not bound; -2 when not listed.
    int RemoveNode(int node);
    // A decision at or after the point of view in the action order; a first choice of either
    // sets the other to the same node. -567 when not bound, -2 when refused.
    int SetDecision(int node);
    int SetPointOfView(int node);

    QNL_network* GetNetwork() const { return network; }
    const QNL_intArray& GetAllNodes() const { return nodes; }
    const QNL_intArray& GetAllDecisions() const { return decisions; }
    const QNL_intArray& GetAllActions() const { return actions; }
    int GetDecision() const { return decision; }
    int GetPointOfView() const { return pointOfView; }
    const QNL_intArray& GetIndexingNodes() const { return indexingNodes; }
    const QNL_Dmatrix& GetValues() const { return values; }

    // The answer of a computation, replacing the last one.
    void SetResult(const QNL_intArray& indexing, const QNL_Dmatrix& result);

private:
    bool IsOccupied(int node) const;

    QNL_network* network = nullptr;
    QNL_intArray decisions;
    QNL_intArray actions;
    QNL_intArray nodes;
    int decision = -1;
    int pointOfView = -1;
    QNL_intArray indexingNodes;
    QNL_Dmatrix values;
};

// Computes a value of information on a private copy of the object's network: a test decision
// T is added before the point of view and made a parent of the utility, the diagram is solved
// without and then with arcs from the valued nodes to the decision, and T's expected utilities
// are subtracted. The caller's network does not change.
class QNL_voiEngine : public QNL_object {
public:
    QNL_voiEngine() = default;
    QNL_voiEngine(const QNL_voiEngine&) = delete;
    QNL_voiEngine& operator=(const QNL_voiEngine&) = delete;

    // 0; -567 or -568 for an object that is not valid or not ready; -2 without a utility node
    // or when the two solutions differ in shape; else the code of the failing arc or solve.
    int Compute(QNL_valueOfInfo& voi);

private:
    int SolveTest(QNL_Dmatrix& out);

    QNL_network working;
    int utility = -1;
    int test = -1;
};
