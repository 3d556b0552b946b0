#pragma once

#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/int_array.h"
#include "model/object.h"

class QNL_network;
class QNL_stringArray;
class QNL_idArray;

// Definition type codes. The codes are bit sets: 1 marks a decision, 8 a utility, 16 a
// discrete node with outcomes, 0x1000 a continuous node.
enum QNL_definitionType {
    QNL_TYPE_EQUATION = 4,
    QNL_TYPE_TABLE = 8,
    QNL_TYPE_LIST = 17,
    QNL_TYPE_CPT = 18,
    QNL_TYPE_TRUTHTABLE = 20,
    QNL_TYPE_CAST = 50,
    QNL_TYPE_DEMORGAN = 82,
    QNL_TYPE_NOISY_MAX = 146,
    QNL_TYPE_NOISY_ADDER = 274,
    QNL_TYPE_MAU = 520,
    QNL_TYPE_EQUATION_SCC = 1028,
    QNL_TYPE_DCHILDHPARENT = 2064,
    QNL_TYPE_DISTRIBUTION = 4098,
    QNL_TYPE_HEQUATION = 4100,
};

constexpr int QNL_TYPE_BIT_DECISION = 1;
constexpr int QNL_TYPE_BIT_UTILITY = 8;
constexpr int QNL_TYPE_BIT_DISCRETE = 16;
constexpr int QNL_TYPE_BIT_CONTINUOUS = 0x1000;

// Types whose outcomes give a child's table (or cost table) a dimension of their own.
// Inline: the evidence passes ask for every parent of every node they reach.
inline bool QNL_IsTableParentType(int type) {
    return type == QNL_TYPE_LIST || type == QNL_TYPE_CPT || type == QNL_TYPE_TRUTHTABLE ||
           type == QNL_TYPE_NOISY_MAX || type == QNL_TYPE_NOISY_ADDER;
}
// Whether a parent of the type takes a dimension of a child's table of the type: a CAST or
// DeMorgan child takes only gates of its own class, every other table the types above.
inline bool QNL_IsTableParentOf(int childType, int parentType) {
    if (childType == QNL_TYPE_CAST || childType == QNL_TYPE_DEMORGAN)
        return parentType == childType;
    return QNL_IsTableParentType(parentType);
}

// The abstract local model of a node. The network edits structure through it (arcs,
// outcomes, parents) and algorithms read its table through it. It belongs to one node of
// one network, named by the network pointer and the node handle; operations a class does
// not support answer -51 without any effect.
class QNL_nodeDefinition : public QNL_object {
public:
    // The HandleMessage code that a definition forwards to its network as a change.
    static constexpr int CHANGE_MESSAGE = 123445;

    QNL_nodeDefinition(int handle, QNL_network* network);
    QNL_nodeDefinition(const QNL_nodeDefinition& other);
    QNL_nodeDefinition& operator=(const QNL_nodeDefinition&) = delete;
    ~QNL_nodeDefinition() override = default;

    int CheckConsistency(int deep = 1) override;

    // A new definition of the same class with the same contents, bound to the same node;
    // null when memory runs out.
    virtual QNL_nodeDefinition* CreateCopy() const = 0;

    // The definition's type code (a QNL_definitionType) and its keyword.
    virtual int GetType() const = 0;
    virtual const char* GetTypeName() const = 0;

    // Edits of the parents; a definition that cannot follow one answers -51.
    virtual int AddParent(int) { return -51; }
    virtual int RemoveParent(int) { return -51; }
    virtual int AbsorbParentEvidence(int) { return -51; }
    virtual int MarginalizeParent(int) { return -51; }
    virtual int InsertParentOutcome(int, int) { return -51; }
    virtual int RemoveParentOutcome(int, int) { return -51; }
    virtual int ReorderParentOutcomes(int, const QNL_intArray&) { return -51; }
    virtual int ReorderParents(const QNL_intArray&) { return -51; }
    virtual void ParentIdChanged(int, const char*, const char*) {}
    virtual int HandleMessage(int code);
    virtual int GetSize() const { return -51; }
    virtual int Clone(const QNL_nodeDefinition&) { return -51; }
    virtual int AddParents() { return -51; }
    virtual int Assign(const QNL_nodeDefinition& other);
    virtual int RemoveInvalidParents() { return -51; }
    virtual int AddOutcome(const char*) { return -51; }
    virtual int InsertOutcome(int, const char*) { return -51; }
    virtual int RemoveOutcome(int) { return -51; }
    virtual int GetNumberOfOutcomes() const { return -51; }
    virtual int RenameOutcome(int, const char*) { return -51; }
    virtual int SetOutcomeIds(const QNL_stringArray&) { return -51; }
    virtual const QNL_idArray* GetOutcomeIds() const { return nullptr; }
    virtual int SetNumberOfOutcomes(const QNL_stringArray&) { return -51; }
    virtual int SetNumberOfOutcomes(int) { return -51; }
    virtual int ReorderOutcomes(const QNL_intArray&) { return -51; }
    virtual int ChangeOutcomes(const QNL_stringArray& ids, const QNL_intArray& map);
    virtual int GetDefinition(QNL_stringArray&) const { return -51; }
    virtual int GetDefinition(QNL_doubleArray&) const { return -51; }
    virtual int GetDefinition(QNL_Dmatrix**) { return -51; }
    virtual int SetDefinition(const QNL_Dmatrix&) { return -51; }
    virtual int SetResultingStates(const QNL_stringArray&) { return -51; }
    virtual int SetResultingStates(const QNL_intArray&) { return -51; }
    virtual int SetDefinition(const QNL_doubleArray&) { return -51; }
    virtual void CopyTableTo(QNL_nodeDefinition&) const {}

    // The definition matrix, or null for classes without one.
    QNL_Dmatrix* GetMatrix();

    // The network and node slot this definition belongs to; set when the node moves.
    QNL_network* GetNetwork() const { return network; }
    int GetHandle() const { return handle; }
    void SetNetwork(QNL_network* newNetwork, int newHandle);

    // Tell the network, the children, the cost children and the diagnostic data that this
    // definition inserted, removed or reordered its own outcomes.
    int PropagateInsertOutcome(int index);
    int PropagateRemoveOutcome(int index, QNL_stringArray& ids);
    int PropagateReorderOutcomes(const QNL_intArray& order);

protected:
    // After the whole outcome set was replaced at once: the node's diagnostic annotations
    // take the new outcome count (outcome-by-outcome changes reach them by propagation).
    void ResizeAnnotations();

    QNL_network* network = nullptr;
    int handle = -1;
};
