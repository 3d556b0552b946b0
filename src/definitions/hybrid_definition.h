#pragma once

#include "definitions/evaluation_context.h"
#include "model/int_array.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <memory>
#include <vector>

// One holder per configuration of a hybrid node's discrete parents, indexed row-major: one
// dimension per discrete parent in parent order, then a trailing dimension of size 1. Every
// change of shape runs through a matrix of holder indices, so that a holder survives in the
// first cell that names it, further cells get clones and holders no cell names are deleted.
// Edits that fail leave the table as it was.
class QNL_distributionTable {
public:
    QNL_distributionTable() = default;
    QNL_distributionTable(const QNL_distributionTable&) = delete;
    QNL_distributionTable& operator=(const QNL_distributionTable&) = delete;

    int GetSize() const { return static_cast<int>(holders.size()); }
    QNL_evaluationContext* GetHolder(int index) const;
    // Takes ownership and deletes the holder it replaces; -2 for an index out of range (the
    // caller keeps the holder).
    int SetHolder(int index, QNL_evaluationContext* holder);
    // The configuration index of the discrete parents' states: states[d] points to the state
    // of the parent of dimension d; the trailing dimension contributes 0.
    int GetIndex(const int* const* states) const;
    int GetIndex(const std::vector<int>& states) const;
    const QNL_intArray& GetDimensions() const { return dimensions; }
    const QNL_intArray& GetMultipliers() const { return multipliers; }
    // Dimensions without the trailing one.
    int GetNumberOfParentDimensions() const { return dimensions.GetCount() - 1; }

    // Only the trailing dimension, with the one holder given (owned from here on).
    int Reset(QNL_evaluationContext* holder);
    // Clones of every holder of the other table.
    int Assign(const QNL_distributionTable& other);

    // Shape edits; the trailing dimension is never touched. A new dimension repeats the
    // holders across its states; a removed one keeps the slice of its first state; the cells
    // of an inserted state take clones of holder 0.
    int InsertDimension(int position, int size);
    int RemoveDimension(int dim);
    int InsertState(int dim, int index);
    int RemoveState(int dim, int index);
    // order[i] is the old state that becomes state i.
    int ReorderStates(int dim, const QNL_intArray& order);
    // order[i] is the old dimension that becomes dimension i (the trailing one stays last).
    int ReorderDimensions(const QNL_intArray& order);

private:
    template <typename Edit> int Restructure(Edit edit);
    void ComputeMultipliers();

    std::vector<std::unique_ptr<QNL_evaluationContext>> holders;
    QNL_intArray dimensions;
    QNL_intArray multipliers;
};

// The definition of a node of a hybrid network: a distribution table over its discrete
// parents, which must be DCHILDHPARENT nodes. Continuous parents (DISTRIBUTION, HEQUATION)
// get no dimension; they enter the holders' expressions as variables named by their
// identifiers. Parents of any other type are refused.
class QNL_hybridDefinition : public QNL_nodeDefinition {
public:
    QNL_hybridDefinition(int handle, QNL_network* network);
    QNL_hybridDefinition(const QNL_hybridDefinition& other);
    QNL_hybridDefinition& operator=(const QNL_hybridDefinition&) = delete;
    ~QNL_hybridDefinition() override = default;

    int AddParent(int parent) override;
    int RemoveParent(int parent) override;
    int InsertParentOutcome(int parent, int index) override;
    int RemoveParentOutcome(int parent, int index) override;
    int ReorderParentOutcomes(int parent, const QNL_intArray& order) override;
    int ReorderParents(const QNL_intArray& order) override;
    // After a parent's type changed: a parent of a type a hybrid node can't take loses its
    // arc; one that turned continuous loses its dimension, one that turned DCHILDHPARENT
    // gains one.
    int RemoveInvalidParents() override;
    // The holders' expressions follow a parent's new identifier.
    void ParentIdChanged(int parent, const char* oldId, const char* newId) override;
    int GetSize() const override { return table.GetSize(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    // Adds the dimensions of the node's discrete parents to a table of one default holder;
    // a parent that can't be added is logged as "Parent could not be added".
    int AddParents() override;
    // Everything from a definition of the same kind (either continuous kind for the other);
    // from any other definition only the node.
    int Assign(const QNL_nodeDefinition& other) override;

    const QNL_distributionTable& GetTable() const { return table; }
    // The discrete parents owning the table's dimensions, in dimension order.
    const QNL_intArray& GetDimensionParents() const { return owners; }
    // The holder of one configuration, or null for an index out of range.
    QNL_evaluationContext* GetDistribution(int index) const { return table.GetHolder(index); }
    QNL_evaluationContext* GetDistribution(const int* const* states) const;
    // Replaces the holder of one configuration (taking ownership); -2 for an index out of
    // range or a holder of the wrong kind for this definition (the caller keeps it).
    int SetDistribution(int index, QNL_evaluationContext* holder);

    // Whether the type is one of the three hybrid definition types.
    static bool IsHybridType(int type);

protected:
    // A fresh default holder of this definition's kind.
    virtual QNL_evaluationContext* NewHolder() const = 0;
    virtual bool AcceptsHolder(const QNL_evaluationContext& holder) const = 0;
    // The class's own fields from a source already known to be of the same type.
    virtual void AssignOwn(const QNL_hybridDefinition&) {}
    // The dimension owned by the parent, -1 when none.
    int DimensionOf(int parent) const { return owners.FindPosition(parent); }
    // Tells the network of a change of the kind, after every estimate went stale.
    void Notify(int kind);
    void InvalidateEstimates(int kind);

    QNL_distributionTable table;
    QNL_intArray owners;

private:
    int AddTableParent(int parent);
    int RemoveTableParent(int parent);
};

// A continuous node defined by a distribution (DISTRIBUTION) or a deterministic equation
// (HEQUATION) over its parents, with the range of its value. The bounds are stored as given;
// the algorithms check them before use.
class QNL_continuousDefinition : public QNL_hybridDefinition {
public:
    QNL_continuousDefinition(int handle, QNL_network* network);
    QNL_continuousDefinition(const QNL_continuousDefinition& other);

    double GetLowerBound() const { return lower; }
    double GetUpperBound() const { return upper; }
    // A new bound changes what a sampled update draws, as any change of the definition.
    void SetLowerBound(double value);
    void SetUpperBound(double value);
    // The main expression of the holder of one configuration; -2 for an index out of range
    // or a text that does not parse.
    int SetExpression(int index, const std::string& text, std::string* message = nullptr);

protected:
    QNL_evaluationContext* NewHolder() const override;
    bool AcceptsHolder(const QNL_evaluationContext& holder) const override;
    void AssignOwn(const QNL_hybridDefinition& other) override;

private:
    double lower = 0.0;
    double upper = 1.0;
};

class QNL_distribution : public QNL_continuousDefinition {
public:
    QNL_distribution(int handle, QNL_network* network);
    QNL_distribution(const QNL_distribution& other) : QNL_continuousDefinition(other) {}
    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_DISTRIBUTION; }
    const char* GetTypeName() const override { return "DISTRIBUTION"; }
};

class QNL_hequation : public QNL_continuousDefinition {
public:
    QNL_hequation(int handle, QNL_network* network);
    QNL_hequation(const QNL_hequation& other) : QNL_continuousDefinition(other) {}
    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_HEQUATION; }
    const char* GetTypeName() const override { return "HEQUATION"; }
};

// A discrete node with continuous parents (DCHILDHPARENT). It keeps its own outcomes, and
// each holder keeps one expression per outcome whose values give the outcome probabilities.
// Outcome edits reach every holder and the node's children.
class QNL_dchildHparent : public QNL_hybridDefinition {
public:
    // Outcomes "state0" and "state1".
    QNL_dchildHparent(int handle, QNL_network* network);
    QNL_dchildHparent(const QNL_dchildHparent& other);

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_DCHILDHPARENT; }
    const char* GetTypeName() const override { return "DCHILDHPARENT"; }
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    int AddOutcome(const char* id) override;
    int InsertOutcome(int index, const char* id) override;
    // At least two outcomes stay.
    int RemoveOutcome(int index) override;
    int GetNumberOfOutcomes() const override { return outcomeCount; }
    int RenameOutcome(int index, const char* id) override;
    // -2 when fewer identifiers than outcomes are given.
    int SetOutcomeIds(const QNL_stringArray& ids) override;
    const QNL_idArray* GetOutcomeIds() const override { return &ids; }
    // -19 while the node has children and -2 for a count below 1, both before anything is
    // changed; the holders restart with the new outcomes.
    int SetNumberOfOutcomes(const QNL_stringArray& ids) override;
    int SetNumberOfOutcomes(int count) override;
    int ReorderOutcomes(const QNL_intArray& order) override;

    // The expression of one outcome in the holder of one configuration; -2 for an index out
    // of range, an unknown outcome or a text that does not parse.
    int SetExpression(int index, const std::string& outcomeId, const std::string& text);

protected:
    QNL_evaluationContext* NewHolder() const override;
    bool AcceptsHolder(const QNL_evaluationContext& holder) const override;
    void AssignOwn(const QNL_hybridDefinition& other) override;

private:
    std::vector<std::string> IdList() const;
    int Reshape(QNL_idArray& fresh);
    // Applies an edit to every holder.
    template <typename Edit> void ForEachHolder(Edit edit);

    int outcomeCount = 2;
    QNL_idArray ids;
};
