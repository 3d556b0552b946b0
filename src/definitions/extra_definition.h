#pragma once

#include "model/int_array.h"
#include "model/node_info.h"
#include "model/object.h"
#include "model/string_array.h"

#include <memory>
#include <string>
#include <vector>

class QNL_network;
class QNL_nodeDefinition;

// The diagnostic annotations of one node: its diagnosis type, which outcomes are faults, and
// per outcome a description, a label, a fault name, a fix and documentation links, plus the
// question, the default outcome and display flags. Every per-outcome member holds exactly one
// entry per outcome of the node; the definition's outcome propagation keeps them in step.
// Labels are unique across the whole network (outside file reading).
class QNL_extraDefinition : public QNL_object {
public:
    enum DiagnosisType { TARGET = 0, OBSERVATION = 1, AUXILIARY = 2 };
    enum FaultNameFormat {
        FAULT_NAME_USER = 0,
        FAULT_NAME_NODE = 1,
        FAULT_NAME_STATE = 2,
        FAULT_NAME_NODESTATE = 3,
        FAULT_NAME_INHERIT = 4
    };
    static constexpr int DEFAULT_DISPLAY_MODE = 4;

    // Sized to the outcomes of the given definition, or, without one, of the node's
    // definition found through the network.
    QNL_extraDefinition(int handle, QNL_network* network,
                        const QNL_nodeDefinition* definition = nullptr);
    // A full copy; an invalid source gives an empty object without the valid bit. Running out
    // of memory throws std::bad_alloc.
    QNL_extraDefinition(const QNL_extraDefinition& source);
    QNL_extraDefinition& operator=(const QNL_extraDefinition&) = delete;
    ~QNL_extraDefinition() override;

    // Empties every per-outcome member (so they stay in step); the node-wide fields stay.
    int CleanUp(int deep = 1) override;
    // Copies every field; on failure (-567 invalid source, -42) this object is unchanged.
    int Assign(const QNL_extraDefinition& source);

    // The network and node slot this definition belongs to; set when the node moves.
    QNL_network* GetNetwork() const { return network; }
    int GetHandle() const { return handle; }
    void SetNetwork(QNL_network* newNetwork, int newHandle);

    // The number of per-outcome entries.
    int GetNumberOfOutcomes() const;
    // The number of outcomes a definition gives its annotations: none for utility and
    // equation nodes.
    static int OutcomesOf(const QNL_nodeDefinition* definition);

    // 1 for a fault outcome, 0 for another, -2 for an index outside the outcomes.
    int IsFaultOutcome(int index) const;
    int SetFaultOutcome(int index, bool fault);
    // One entry per outcome, non-zero marking a fault; -2 for another count.
    int SetFaultOutcomes(const QNL_intArray& flags);
    const QNL_intArray& GetFaultOutcomes() const;

    // Null for an index outside the outcomes, else the text (empty when never set).
    const char* GetOutcomeDescription(int index) const;
    const char* GetOutcomeFix(int index) const;
    const char* GetFaultName(int index) const;
    // Null stores the empty text; -2 for an index outside the outcomes.
    int SetOutcomeDescription(int index, const char* text);
    int SetOutcomeFix(int index, const char* text);
    int SetFaultName(int index, const char* text);
    const QNL_stringArray& GetOutcomeDescriptions() const;
    const QNL_idArray& GetOutcomeLabels() const;
    const QNL_stringArray& GetFaultNames() const;
    const QNL_stringArray& GetOutcomeFixes() const;
    // The outcome's documents, edited in place; null for an index outside the outcomes.
    QNL_documentation* GetOutcomeDocumentation(int index);
    const QNL_documentation* GetOutcomeDocumentation(int index) const;

    // The outcome marked as the node's default in diagnosis.
    int GetDefaultOutcome() const { return defaultOutcome; }
    // -2 (default unchanged) unless 0 <= index < the number of outcomes.
    int SetDefaultOutcome(int index);

    // While the network reads a file the label is stored unchecked. Otherwise a non-empty
    // label is refused (-2) when another node of the network has it, or when it is not an
    // identifier or another outcome of this node has it. A refusal keeps the old label.
    int SetOutcomeLabel(int index, const char* label);
    // Each label through SetOutcomeLabel; a refused one is replaced by the text followed by
    // the first number (from 1 + all outcomes of the network) that no node uses. -2 when a
    // label was replaced, or (with nothing changed) when there are more labels than outcomes.
    int SetOutcomeLabels(const QNL_stringArray& labels);

    // Ranking, mandatory and default-outcome marks of the diagnosis tools.
    void SetFlags(unsigned char ranked, unsigned char mandatory, unsigned char setAsDefault);
    unsigned char IsRanked() const { return ranked; }
    unsigned char IsMandatory() const { return mandatory; }
    unsigned char IsSetAsDefault() const { return setAsDefault; }

    // Target, observation or auxiliary (0, 1, 2), and the question shown to the user.
    int GetDiagnosisType() const { return diagnosisType; }
    void SetDiagnosisType(int type) { diagnosisType = type; }
    const char* GetQuestion() const { return question.c_str(); }
    // Null clears; -42 when out of memory.
    int SetQuestion(const char* text);
    int GetDisplayMode() const { return displayMode; }
    void SetDisplayMode(int mode) { displayMode = mode; }
    int GetFaultNameFormat() const { return faultNameFormat; }
    // -2 (unchanged) outside FAULT_NAME_USER .. FAULT_NAME_INHERIT.
    int SetFaultNameFormat(int format);

    // Outcome changes of the node; each leaves the object unchanged when it fails.
    int InsertOutcome(int index);
    int RemoveOutcome(int index);
    // New outcome i is old outcome order[i]; -2 unless order is a permutation of the outcomes.
    int ReorderOutcomes(const QNL_intArray& order);
    // Every per-outcome member becomes one empty entry per outcome of the definition (the
    // node's own one when null); a default outcome beyond them falls back to 0.
    int ResizeToOutcomes(const QNL_nodeDefinition* definition = nullptr);

private:
    // The per-outcome texts and flags, replaced as a whole so that an edit which runs out of
    // memory halfway leaves the old ones in place.
    struct Entries {
        QNL_intArray faultFlags;
        QNL_stringArray descriptions;
        QNL_idArray labels{true};
        QNL_stringArray faultNames;
        QNL_stringArray fixes;
    };
    using Documents = std::vector<std::unique_ptr<QNL_documentation>>;

    static int MakeEmptyEntries(int n, std::unique_ptr<Entries>& out, Documents& documentsOut);
    const QNL_nodeDefinition* OwnDefinition() const;
    // True when a node other than this one has the label among its labels.
    bool LabelUsedByOtherNode(const char* label) const;
    // The outcomes of every node of the network (of this node alone without a network).
    long long OutcomesInNetwork() const;
    bool LabelUsedByAnyNode(const std::string& label) const;
    bool InRange(int index) const { return index >= 0 && index < GetNumberOfOutcomes(); }

    QNL_network* network = nullptr;
    int handle = -1;
    std::unique_ptr<Entries> entries;
    Documents documents;
    int defaultOutcome = 0;
    std::string question;
    int diagnosisType = AUXILIARY;
    unsigned char ranked = 0;
    unsigned char mandatory = 0;
    unsigned char setAsDefault = 0;
    int displayMode = DEFAULT_DISPLAY_MODE;
    int faultNameFormat = FAULT_NAME_INHERIT;
};
