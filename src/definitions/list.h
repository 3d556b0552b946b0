#pragma once

#include "model/double_array.h"
#include "model/int_array.h"
#include "model/node_definition.h"
#include "model/string_array.h"

// The definition of a decision node: the choices open to the decision maker, with one number
// kept beside each choice. Its parents are informational arcs and leave it unchanged, so it
// keeps no table. Valid while the choice identifiers are valid; the choice values are either
// empty or hold exactly one number per choice, and then follow the choices through every
// insertion, removal and reordering.
class QNL_list : public QNL_nodeDefinition {
public:
    QNL_list(int handle, QNL_network* network);
    // A full copy bound to the same node.
    QNL_list(const QNL_list& other);
    QNL_list& operator=(const QNL_list&) = delete;
    ~QNL_list() override = default;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_LIST; }
    const char* GetTypeName() const override { return "LIST"; }

    // Parents of the types that index tables (decision, probability, truth-table, noisy-MAX,
    // noisy-adder) are taken and stored nowhere; every other type is refused with -2.
    int AddParent(int parent) override;
    int RemoveParent(int) override { return 0; }
    int InsertParentOutcome(int, int) override { return 0; }
    int RemoveParentOutcome(int, int) override { return 0; }
    int ReorderParentOutcomes(int, const QNL_intArray&) override { return 0; }
    int GetSize() const override { return choices.GetCount(); }
    int Clone(const QNL_nodeDefinition& other) override { return Assign(other); }
    int AddParents() override;
    int Assign(const QNL_nodeDefinition& source) override;
    // Removes the arcs from parents that AddParent would refuse.
    int RemoveInvalidParents() override;

    int AddOutcome(const char* id) override;
    int InsertOutcome(int index, const char* id) override;
    int RemoveOutcome(int index) override;
    int GetNumberOfOutcomes() const override { return choices.GetCount(); }
    int RenameOutcome(int index, const char* id) override;
    int SetOutcomeIds(const QNL_stringArray& ids) override;
    const QNL_idArray* GetOutcomeIds() const override { return &choices; }
    int SetNumberOfOutcomes(const QNL_stringArray& ids) override;
    // A count below 2 gives two choices.
    int SetNumberOfOutcomes(int count) override;
    int ReorderOutcomes(const QNL_intArray& order) override;
    int ChangeOutcomes(const QNL_stringArray& ids, const QNL_intArray& map) override;

    using QNL_nodeDefinition::GetDefinition;
    using QNL_nodeDefinition::SetDefinition;
    // A copy of the choice identifiers.
    int GetDefinition(QNL_stringArray& out) const override;
    // A copy of the choice values.
    int GetDefinition(QNL_doubleArray& out) const override;
    // Replaces the choices: renamed in place when the count is the same, else as
    // SetNumberOfOutcomes with the identifiers.
    int SetResultingStates(const QNL_stringArray& ids) override;
    // The values must be empty or hold exactly one number per choice (as count or size).
    int SetDefinition(const QNL_doubleArray& values) override;

    // The numbers of the choices, in choice order.
    const QNL_doubleArray& GetChoiceValues() const { return choiceValues; }

private:
    int Notify(int kind);
    // Installs new choices (and clears the values), takes the node's parents again and tells
    // the network that the outcomes changed shape.
    int CommitChoices(QNL_idArray& fresh);
    bool ValuesFollowChoices() const {
        return choiceValues.GetSize() > 0 && choiceValues.GetSize() == choices.GetCount();
    }

    QNL_idArray choices{false};
    QNL_doubleArray choiceValues;
};
