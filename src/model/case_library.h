#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QNL_network;
class QNL_intArray;
class QNL_caseLibrary;

// One stored observation of a node: plain evidence (outcome >= 0), value evidence
// (outcome -1, value set) or temporal evidence (outcome -1, one (slice, outcome) pair per
// observed slice).
struct QNL_caseEvidence {
    int node = -1;
    int outcome = -1;
    double value = 0.0;
    std::vector<std::pair<int, int>> slices;
};

// A named scenario of a network: evidence entries (at most one per node, in insertion
// order), target nodes (no duplicates) and descriptive text. Nodes are referred to by
// handle and outcomes by index, which is why the owning library follows structural changes.
class QNL_case {
public:
    using SlicePairs = std::vector<std::pair<int, int>>;

    // A case of the network kept in the library given; the library (may be null) is the
    // one whose other cases a name must differ from.
    QNL_case(QNL_network* network, QNL_caseLibrary* library);
    // A full copy of source for the network and library given.
    QNL_case(QNL_network* network, QNL_caseLibrary* library, const QNL_case& source);
    QNL_case(const QNL_case&) = delete;
    QNL_case& operator=(const QNL_case&) = delete;

    // The network whose nodes the case names.
    QNL_network* GetNetwork() const { return network; }

    // Name, description and category of the case: 0, or a negative code when refused.
    int SetName(const char* text);
    int SetDescription(const char* text);
    int SetCategory(const char* text);
    const char* GetName() const { return name.c_str(); }
    const char* GetDescription() const { return description.c_str(); }
    const char* GetCategory() const { return category.c_str(); }
    int GetCreated() const { return created; }
    int GetModified() const { return modified; }
    void SetCreated(int time) { created = time; }
    void SetModified(int time) { modified = time; }

    // The nodes whose values the case asks for.
    int AddTarget(int node);
    int GetTarget(int index) const;
    bool IsTarget(int node) const;
    int GetNumberOfTargets() const { return static_cast<int>(targets.size()); }

    // Evidence the case stores: an outcome, a continuous value or an outcome in a time slice.
    int AddEntry(int node);
    int AddEvidence(int node, int outcome);
    int AddEvidenceValue(int node, double value);
    int AddTemporalEvidence(int node, int outcome, int slice);
    int FindEvidence(int node) const;
    int GetNumberOfEvidence() const { return static_cast<int>(evidence.size()); }
    int GetEvidenceNode(int index) const;
    int GetEvidence(int index, int& node, int& outcome) const;
    int GetEvidenceValue(int index, int& node, double& value) const;
    int GetTemporalEvidence(int index, int& node, SlicePairs& pairs) const;

    // Hooks applied by the library; each leaves entries of other nodes alone.
    void NodeTypeChanged(int node, int oldType);
    void TemporalTypeChanged(int node, int oldTemporalType);
    void NodeDeleted(int node);
    void OutcomeInserted(int node, int index);
    void OutcomeRemoved(int node, int index);
    void OutcomesReordered(int node, const QNL_intArray& order);

private:
    bool IsValidNode(int node) const;
    bool IsValidOutcome(int node, int outcome) const;
    int NumberOfOutcomes(int node) const;
    void RemoveEntry(int index) { evidence.erase(evidence.begin() + index); }

    QNL_network* network = nullptr;
    QNL_caseLibrary* library = nullptr;
    std::string name;
    std::string description;
    std::string category;
    int created = 0;
    int modified = 0;
    std::vector<int> targets;
    std::vector<QNL_caseEvidence> evidence;
};

// The cases stored with a network, in insertion order. The network forwards its structural
// changes here so stored handles and outcome indices stay meaningful; learning switches
// this off while it rebuilds networks. Each library owns its cases: copies are deep.
class QNL_caseLibrary {
public:
    explicit QNL_caseLibrary(QNL_network* network);
    // Every case of source copied for the new network; the update switch is copied too.
    QNL_caseLibrary(QNL_network* network, const QNL_caseLibrary& source);
    QNL_caseLibrary(const QNL_caseLibrary&) = delete;
    QNL_caseLibrary& operator=(const QNL_caseLibrary&) = delete;

    // The network the cases belong to.
    QNL_network* GetNetwork() const { return network; }

    // The new case, or null when the name is refused (the case is then discarded).
    QNL_case* AddCase(const char* name);
    QNL_case* GetCase(int index) const;
    int GetNumberOfCases() const { return static_cast<int>(cases.size()); }
    void Clear() { cases.clear(); }
    // Whether a case other than except bears exactly this name.
    bool IsNameUsed(const std::string& name, const QNL_case* except) const;

    // Whether the stored cases follow edits of the network.
    void EnableCaseUpdates(bool enable) { updates = enable ? 1 : 0; }
    bool CaseUpdatesEnabled() const { return updates != 0; }

    // Edits of the network that the stored cases follow.
    void NodeTypeChanged(int node, int oldType);
    void TemporalTypeChanged(int node, int oldTemporalType);
    void NodeDeleted(int node);
    void OutcomeInserted(int node, int index);
    void OutcomeRemoved(int node, int index);
    void OutcomesReordered(int node, const QNL_intArray& order);

private:
    QNL_network* network = nullptr;
    std::vector<std::unique_ptr<QNL_case>> cases;
    int updates = 1;
};
