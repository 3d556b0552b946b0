#include "learning/em.h"

#include "definitions/node_value.h"
#include "definitions/noisy_max.h"
#include "inference/family_marginals.h"
#include "inference/relevance.h"
#include "learning/dataset.h"
#include "learning/noisy_max_decomposition.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

namespace quarn::detail {

void ParseNoLearn(const char* value, bool& all, std::vector<int>& columns) {
    all = false;
    columns.clear();
    if (value == nullptr) return;
    if (std::strcmp(value, "ALL") == 0) {
        all = true;
        return;
    }
    const std::size_t length = std::min<std::size_t>(std::strlen(value), 1024);
    long long number = -1;
    for (std::size_t i = 0; i <= length; ++i) {
        const char c = i < length ? value[i] : ' ';
        if (c >= '0' && c <= '9') {
            number = (number < 0 ? 0 : number) * 10 + (c - '0');
            if (number > 0x7FFFFFFF) number = 0x7FFFFFFF;
            continue;
        }
        if (number >= 0) columns.push_back(static_cast<int>(number));
        number = -1;
    }
}

} // namespace quarn::detail

namespace {

using namespace quarn::detail;

const char* PropertyOf(const QNL_node* node, const char* name) {
    const QNL_userProperties& properties = node->GetInfo()->properties;
    const int index = properties.FindProperty(name);
    return index >= 0 ? properties.GetValue(index) : nullptr;
}

int Fail(const char* message) {
    return QNL_errorHandler::Instance().LogError(-1, message);
}

// One table that the run learns: the node's probability table with the frozen columns, the
// table at the start of the run and the expected counts of the current pass.
struct LearnedTable {
    int handle = -1;
    int outcomes = 0;
    std::vector<int> parents;
    // Step in the table of each parent's outcome, in parent order; the node's own step is 1.
    std::vector<int> steps;
    QNL_Dmatrix* table = nullptr;
    std::vector<double> start;
    std::vector<double> counts;
    bool frozenAll = false;
    std::vector<char> frozen;
    bool updated = false;
};

// The network's settings that a run changes, put back on every exit.
class SavedNetworkState {
public:
    explicit SavedNetworkState(QNL_network& network)
        : network(network), caseUpdates(network.CaseUpdatesEnabled()),
          maskBit(network.GetNotificationMask() & 1) {
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            if (network.IsTarget(h)) targets.push_back(h);
            if (IsDecision(h)) {
                const QNL_intArray& parents = network.GetParents(h);
                decisionParents.emplace_back(
                    h, std::vector<int>(parents.Items(), parents.Items() + parents.GetCount()));
            }
        }
        network.SetNotificationMask(network.GetNotificationMask() & ~1);
        network.ClearAllEvidence();
        network.ClearAllTargets();
        network.EnableCaseUpdates(false);
    }
    SavedNetworkState(const SavedNetworkState&) = delete;
    SavedNetworkState& operator=(const SavedNetworkState&) = delete;
    ~SavedNetworkState() {
        // Inference over a network with decisions draws an arc between two decisions it
        // takes to be in temporal order; the run keeps the structure it was given.
        for (const auto& [h, parents] : decisionParents) {
            const QNL_intArray& current = network.GetParents(h);
            const std::vector<int> now(current.Items(), current.Items() + current.GetCount());
            for (const int p : now)
                if (std::find(parents.begin(), parents.end(), p) == parents.end())
                    network.RemoveArc(p, h);
        }
        network.EnableCaseUpdates(caseUpdates);
        network.ClearAllEvidence();
        network.ClearAllTargets();
        network.TablesEdited();
        network.InvalidateValues();
        for (int h : targets)
            network.SetTarget(h);
        network.SetNotificationMask((network.GetNotificationMask() & ~1) | maskBit);
    }

private:
    bool IsDecision(int h) const {
        const QNL_nodeDefinition* definition = network.GetNode(h)->GetDefinition();
        return definition != nullptr && (definition->GetType() & QNL_TYPE_BIT_DECISION) != 0;
    }

    QNL_network& network;
    bool caseUpdates;
    int maskBit;
    std::vector<int> targets;
    std::vector<std::pair<int, std::vector<int>>> decisionParents;
};

// The tables and noisy-MAX parameters of every node as they were before the run, for a run
// that fails or is cancelled before its first pass completes.
class SavedTables {
public:
    explicit SavedTables(QNL_network& network) : network(network) {
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            const QNL_Dmatrix* matrix = Learnable(h);
            if (matrix == nullptr) continue;
            const double* items = matrix->GetItems().Items();
            saved.push_back({h, std::vector<double>(items, items + matrix->GetSize())});
        }
    }
    void Restore() {
        for (const auto& [h, items] : saved) {
            QNL_Dmatrix* matrix = Learnable(h);
            if (matrix == nullptr || matrix->GetSize() != static_cast<int>(items.size())) continue;
            std::copy(items.begin(), items.end(), matrix->GetItems().Items());
            if (network.GetNode(h)->GetType() == QNL_TYPE_NOISY_MAX)
                static_cast<QNL_noisyMAX*>(network.GetNode(h)->GetDefinition())->MarkStale();
        }
        network.TablesEdited();
    }

private:
    QNL_Dmatrix* Learnable(int h) {
        QNL_node* node = network.GetNode(h);
        if (node == nullptr) return nullptr;
        if (node->GetType() == QNL_TYPE_NOISY_MAX)
            return static_cast<QNL_noisyMAX*>(node->GetDefinition())->GetParameters();
        return node->GetType() == QNL_TYPE_CPT ? node->GetDefinition()->GetMatrix() : nullptr;
    }

    QNL_network& network;
    std::vector<std::pair<int, std::vector<double>>> saved;
};

// The working state of one run over the (decomposed) network.
class Run {
public:
    Run(const QNL_dataset& data, QNL_network& network, const QNL_emParams& params)
        : data(data), network(network), params(params) {}

    int Prepare();
    // One pass: expectation over every record, then maximisation unless cancelled.
    int Pass(QNL_emProgress* progress, bool& cancelled, bool& converged);

private:
    int SetRecordEvidence(int record);
    int Offset(const LearnedTable& t, int ownOutcome) const;
    int Expect(int record, double weight);
    int ExpectComponent(QNL_relevanceComponent* component, double weight,
                        quarn::detail::ScaledValue& part);
    void GroupRecords();
    bool UnheldEntries(quarn::detail::ScaledValue& p);
    void Maximise(bool converged);

    const QNL_dataset& data;
    QNL_network& network;
    const QNL_emParams& params;
    std::vector<LearnedTable> tables;
    // Evidence outcome of every node handle in the current record, -1 when unobserved.
    std::vector<int> observed;
    // Per node handle: whether a component of the record's reduction holds the node, and the
    // learned table of the node.
    std::vector<char> held;
    std::vector<LearnedTable*> heldTable;
    bool allTables = true;
    bool firstPass = true;
    double previous = 0.0;
    double current = 0.0;
    // The unobserved family members of a table in a component: (record, step in the table).
    std::vector<std::pair<int, int>> members;
    // Records with equal cells have equal expectations: each distinct record (its first
    // occurrence) with the number of records like it.
    std::vector<std::pair<int, int>> groups;
};

void Run::GroupRecords() {
    std::map<std::vector<int>, std::size_t> seen;
    std::vector<int> cells(static_cast<std::size_t>(data.getNumberOfVariables()));
    for (int r = 0; r < data.getNumberOfRecords(); ++r) {
        for (int v = 0; v < data.getNumberOfVariables(); ++v)
            cells[static_cast<std::size_t>(v)] = data.getCell(v, r).i;
        const auto [at, added] = seen.emplace(cells, groups.size());
        if (added)
            groups.emplace_back(r, 1);
        else
            ++groups[at->second].second;
    }
}

int Run::Prepare() {
    observed.assign(static_cast<std::size_t>(network.GetTableSize()), -1);
    held.assign(observed.size(), 0);
    heldTable.assign(observed.size(), nullptr);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_node* node = network.GetNode(h);
        if (node->GetType() != QNL_TYPE_CPT) {
            allTables = false;
            continue;
        }
        LearnedTable t;
        t.handle = h;
        t.table = node->GetDefinition()->GetMatrix();
        if (t.table == nullptr) continue;
        const QNL_intArray& parents = network.GetParents(h);
        const int dims = t.table->GetNumberOfDimensions();
        if (dims != parents.GetCount() + 1)
            return Fail("em: a probability table does not fit "
                        "its node's parents");
        t.outcomes = t.table->GetSizeOfDimension(dims - 1);
        for (int i = 0; i < parents.GetCount(); ++i) {
            t.parents.push_back(parents[i]);
            t.steps.push_back(t.table->GetMultiplier(i));
        }
        const double* items = t.table->GetItems().Items();
        t.start.assign(items, items + t.table->GetSize());
        t.counts.assign(t.start.size(), 0.0);
        std::vector<int> columns;
        ParseNoLearn(PropertyOf(node, "QNL_NOLEARN"), t.frozenAll, columns);
        t.frozen.assign(t.start.size() / static_cast<std::size_t>(std::max(t.outcomes, 1)), 0);
        for (int c : columns)
            if (c >= 0 && static_cast<std::size_t>(c) < t.frozen.size())
                t.frozen[static_cast<std::size_t>(c)] = 1;
        tables.push_back(std::move(t));
    }
    for (LearnedTable& t : tables)
        heldTable[static_cast<std::size_t>(t.handle)] = &t;
    GroupRecords();
    return 0;
}

// Sets the record's cells as evidence; a cell that contradicts evidence the network implies
// makes the record impossible.
int Run::SetRecordEvidence(int record) {
    network.ClearAllEvidence();
    for (int v = 0; v < data.getNumberOfVariables(); ++v) {
        const int cell = data.getCell(v, record).i;
        if (cell < 0) continue;
        QNL_nodeValue* value = network.GetNode(data.getNodeHandle(v))->GetValue();
        if (value->HasPropagatedEvidence()) {
            if (value->GetEvidence() != cell) return -1;
            continue;
        }
        if (value->SetEvidence(cell) != 0) return -1;
    }
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        const QNL_nodeValue* value = network.GetNode(h)->GetValue();
        observed[static_cast<std::size_t>(h)] =
            value != nullptr && value->IsObserved() ? value->GetEvidence() : -1;
    }
    return 0;
}

// Position in the table of the cell at the parents' evidence and the node's own outcome (the
// node's observed outcome when `ownOutcome` is -1); unobserved parents count as outcome 0.
int Run::Offset(const LearnedTable& t, int ownOutcome) const {
    int offset = ownOutcome >= 0 ? ownOutcome : observed[static_cast<std::size_t>(t.handle)];
    for (std::size_t i = 0; i < t.parents.size(); ++i)
        offset += std::max(observed[static_cast<std::size_t>(t.parents[i])], 0) * t.steps[i];
    return offset;
}

int Run::Expect(int record, double weight) {
    if (SetRecordEvidence(record) != 0)
        return Fail("em: not all nodes are updated (deterministic relationships?)");
    bool allObserved = allTables;
    for (int h = network.GetFirstNode(); h >= 0 && allObserved; h = network.GetNextNode(h))
        allObserved = observed[static_cast<std::size_t>(h)] >= 0;
    for (LearnedTable& t : tables) {
        t.updated = observed[static_cast<std::size_t>(t.handle)] >= 0;
        for (std::size_t i = 0; i < t.parents.size() && t.updated; ++i)
            t.updated = observed[static_cast<std::size_t>(t.parents[i])] >= 0;
        if (t.updated) t.counts[static_cast<std::size_t>(Offset(t, -1))] += weight;
    }
    // A record that observes every node has the product of its table cells as probability.
    // A record of thousands of findings has a probability below the smallest double: its
    // power of two is kept apart, for the logarithm.
    quarn::detail::ScaledValue p;
    if (allObserved) {
        for (const LearnedTable& t : tables)
            p.Multiply(t.table->Subscript(Offset(t, -1)));
    } else {
        // The components of the reduction give the probability of their evidence; observed
        // nodes that none holds give their table entry.
        QNL_componentList components;
        if (QNL_relevance::Reduce(network, true, false, components) != 0)
            return Fail("em: rnet should not be null");
        std::fill(held.begin(), held.end(), 0);
        for (int c = 0; c < components.GetCount(); ++c) {
            QNL_relevanceComponent* component = components[c];
            if (component == nullptr) continue;
            for (int r = 0; r < component->GetNumberOfRecords(); ++r) {
                const int h = component->GetRecord(r)->GetNodeHandle();
                if (h >= 0) held[static_cast<std::size_t>(h)] = 1;
            }
            quarn::detail::ScaledValue part;
            if (int r = ExpectComponent(component, weight, part)) return r;
            p.Multiply(part);
            components.Destroy(c);
        }
        if (!UnheldEntries(p)) {
            double whole = 0.0;
            if (!network.CalcPropEvidence(whole)) return -1;
            p = quarn::detail::ScaledValue(whole, 0);
        }
        for (const LearnedTable& t : tables)
            if (!t.updated)
                return Fail("em: not all nodes are updated (deterministic relationships?)");
    }
    if (!(p.GetMantissa() > 0.0))
        return Fail("em: not all nodes are updated (deterministic relationships?)");
    current += weight * p.Log();
    return 0;
}

// Multiplies in the table entry of every observed node that no component holds; false when an
// entry is not at hand (a node that is not a learned table, an implied observation, or a
// parent without evidence), and the probability must be computed afresh.
bool Run::UnheldEntries(quarn::detail::ScaledValue& p) {
    bool ok = true;
    for (int h = network.GetFirstNode(); h >= 0 && ok; h = network.GetNextNode(h)) {
        if (held[static_cast<std::size_t>(h)] || observed[static_cast<std::size_t>(h)] < 0)
            continue;
        const LearnedTable* t = heldTable[static_cast<std::size_t>(h)];
        ok = t != nullptr && network.GetNode(h)->GetValue()->HasEvidence();
        for (std::size_t i = 0; ok && i < t->parents.size(); ++i)
            ok = network.GetNode(t->parents[i])->GetValue()->HasEvidence();
        if (ok) p.Multiply(t->table->Subscript(Offset(*t, -1)));
    }
    return ok;
}

// Expected counts of the tables in one component: a lone record reads its own table, the
// others the clique of a join tree that holds their unobserved family.
int Run::ExpectComponent(QNL_relevanceComponent* component, double weight,
                         quarn::detail::ScaledValue& part) {
    if (component->GetNumberOfRecords() == 1) {
        const QNL_relevanceNode* record = component->GetRecord(0);
        const QNL_Dmatrix* beliefs = record->GetTable();
        LearnedTable* found = record->GetNodeHandle() >= 0
                                  ? heldTable[static_cast<std::size_t>(record->GetNodeHandle())]
                                  : nullptr;
        // Anything but the node's column at its parents' evidence goes to the join tree.
        if (found == nullptr || found->updated) return 0;
        if (beliefs != nullptr && beliefs->GetNumberOfDimensions() == 1 &&
            beliefs->GetSize() == found->outcomes) {
            LearnedTable& t = *found;
            const double* cells = beliefs->GetItems().Items();
            double sum = 0.0;
            for (int k = 0; k < t.outcomes; ++k)
                sum += cells[k];
            if (!(sum > 0.0)) return 0;
            const int offset = Offset(t, 0);
            for (int k = 0; k < t.outcomes; ++k)
                t.counts[static_cast<std::size_t>(offset + k)] += weight * (cells[k] / sum);
            t.updated = true;
            return 0;
        }
    }
    FamilyMarginals tree(component);
    if (!tree.Propagate()) return Fail("em: inference cannot be performed");
    part = tree.EvidenceProbability();
    // The component's records in its order, which is the tables' (node handle) order.
    for (int self = 0; self < component->GetNumberOfRecords(); ++self) {
        const int handle = component->GetRecord(self)->GetNodeHandle();
        LearnedTable* learned = handle >= 0 ? heldTable[static_cast<std::size_t>(handle)] : nullptr;
        if (learned == nullptr || learned->updated) continue;
        LearnedTable& t = *learned;
        // The family's unobserved members in the component, with their steps in the table.
        members.clear();
        bool complete = true;
        for (std::size_t i = 0; i <= t.parents.size(); ++i) {
            const int h = i < t.parents.size() ? t.parents[i] : t.handle;
            const int step = i < t.parents.size() ? t.steps[i] : 1;
            if (observed[static_cast<std::size_t>(h)] >= 0) continue;
            const int record = h == t.handle ? self : component->FindNode(h);
            if (record < 0) {
                complete = false;
                break;
            }
            const int seen = tree.GetObservedOutcome(record);
            if (seen >= 0) {
                // Observed by the reduction's own propagation.
                observed[static_cast<std::size_t>(h)] = seen;
                continue;
            }
            members.emplace_back(record, step);
        }
        if (!complete) continue;
        std::sort(members.begin(), members.end());
        const int offset = Offset(t, observed[static_cast<std::size_t>(t.handle)] >= 0 ? -1 : 0);
        if (tree.AddJoint(members, weight, t.counts.data() + offset)) t.updated = true;
        // Implied observations hold for this record only.
        for (std::size_t i = 0; i <= t.parents.size(); ++i) {
            const int h = i < t.parents.size() ? t.parents[i] : t.handle;
            const QNL_nodeValue* value = network.GetNode(h)->GetValue();
            if (!value->IsObserved()) observed[static_cast<std::size_t>(h)] = -1;
        }
    }
    return 0;
}

void Run::Maximise(bool converged) {
    const bool prior = converged && params.EqSampleSize > 0;
    for (LearnedTable& t : tables) {
        if (t.frozenAll) continue;
        double* cells = t.table->GetItems().Items();
        const std::size_t n = t.start.size();
        for (std::size_t i = 0; i < n; ++i)
            cells[i] = prior ? params.EqSampleSize * t.start[i] + t.counts[i] : t.counts[i];
        const auto outcomes = static_cast<std::size_t>(t.outcomes);
        for (std::size_t column = 0; column * outcomes < n; ++column) {
            double* first = cells + column * outcomes;
            double sum = 0.0;
            for (std::size_t k = 0; k < outcomes; ++k)
                sum += first[k];
            if (sum != 0.0 && !t.frozen[column]) {
                const double scale = 1.0 / sum;
                for (std::size_t k = 0; k < outcomes; ++k) {
                    const double v = first[k] * scale;
                    first[k] =
                        std::fabs(v) < DBL_MIN || std::fabs(v) > DBL_MAX || std::isnan(v) ? 0.0 : v;
                }
            } else {
                std::copy_n(t.start.data() + column * outcomes, outcomes, first);
            }
        }
    }
    network.TablesEdited();
}

int Run::Pass(QNL_emProgress* progress, bool& cancelled, bool& converged) {
    for (LearnedTable& t : tables)
        std::fill(t.counts.begin(), t.counts.end(), 0.0);
    previous = current;
    current = 0.0;
    for (const auto& [record, count] : groups) {
        // The caller still sees one step per record.
        for (int i = 0; i < count; ++i)
            if (progress != nullptr && !progress->Continue()) {
                cancelled = true;
                return 0;
            }
        if (int status = Expect(record, count)) return status;
    }
    converged = !firstPass && (current <= previous || previous / current < 1.0001);
    firstPass = false;
    Maximise(converged);
    return 0;
}

} // namespace

int QNL_em::RandomizeParameters(int node, QNL_network& network) {
    QNL_node* n = network.GetNode(node);
    if (n == nullptr) return -2;
    bool all = false;
    std::vector<int> columns;
    ParseNoLearn(PropertyOf(n, "QNL_NOLEARN"), all, columns);
    if (all) return 0;
    const int type = n->GetType();
    if (type != QNL_TYPE_CPT && type != QNL_TYPE_NOISY_MAX) return 0;
    QNL_Dmatrix* matrix = type == QNL_TYPE_CPT
                              ? n->GetDefinition()->GetMatrix()
                              : static_cast<QNL_noisyMAX*>(n->GetDefinition())->GetParameters();
    if (matrix == nullptr || matrix->GetNumberOfDimensions() == 0) return 0;
    const int outcomes = matrix->GetSizeOfDimension(matrix->GetNumberOfDimensions() - 1);
    double* cells = matrix->GetItems().Items();
    auto draw = [&] {
        double x = random.Next();
        while (!(x > 0.0 && x < 1.0))
            x = random.Next();
        return x;
    };
    if (type == QNL_TYPE_CPT) {
        for (int i = 0; i < matrix->GetSize(); ++i)
            if (std::find(columns.begin(), columns.end(), i / outcomes) == columns.end())
                cells[i] = draw();
        network.TablesEdited();
        return matrix->Normalize();
    }
    // Noisy-MAX parameters: the certain entries (0 and 1, the distinguished columns among them)
    // stay, and each column is normalised again.
    for (int i = 0; i < matrix->GetSize(); ++i)
        if (cells[i] > 0.0 && cells[i] < 1.0) cells[i] = draw();
    const int r = matrix->Normalize();
    static_cast<QNL_noisyMAX*>(n->GetDefinition())->MarkStale();
    network.TablesEdited();
    return r;
}

int QNL_em::Learn(const QNL_dataset& data, QNL_network& network, const QNL_emParams& params,
                  QNL_emProgress* progress) {
    if (std::string mismatch; !data.checkMatch(network, mismatch))
        return QNL_errorHandler::Instance().LogError(-1, mismatch);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (network.GetTemporalType(h) != 0) return -1;
    for (int v = 0; v < data.getNumberOfVariables(); ++v) {
        if (data.getNodeHandle(v) < 0) return -30;
        if (!data.isDiscrete(v)) return -4;
    }
    // Every cell is checked before anything changes.
    for (int v = 0; v < data.getNumberOfVariables(); ++v) {
        const QNL_node* node = network.GetNode(data.getNodeHandle(v));
        const int outcomes = node != nullptr ? node->GetDefinition()->GetNumberOfOutcomes() : -1;
        if (outcomes <= 0)
            return QNL_errorHandler::Instance().LogError(
                -1, "em: column '" + data.getVariableId(v) + "' has no discrete node");
        for (int r = 0; r < data.getNumberOfRecords(); ++r) {
            const int cell = data.getCell(v, r).i;
            if (cell >= outcomes)
                return QNL_errorHandler::Instance().LogError(
                    -1, "em: column '" + data.getVariableId(v) + "' holds " + std::to_string(cell) +
                            " in record " + std::to_string(r) +
                            ", which is not an outcome of its node");
        }
    }

    SavedTables original(network);
    if (params.EqSampleSize == 0 && params.RandomizeParameters)
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            RandomizeParameters(h, network);

    int status = 0;
    bool completed = false;
    {
        SavedNetworkState state(network);
        quarn::detail::NoisyMaxDecomposition decomposition(network);
        status = decomposition.DecomposeAll();
        if (status == 0) {
            Run run(data, network, params);
            status = run.Prepare();
            bool cancelled = false;
            bool converged = false;
            for (int pass = 0; status == 0 && !cancelled && !converged; ++pass) {
                if (pass == maxPasses) {
                    status = Fail("em: no convergence within the pass limit");
                    break;
                }
                status = run.Pass(progress, cancelled, converged);
                completed = completed || (status == 0 && !cancelled);
            }
        }
        if (decomposition.RecomposeAll() != 0 && status == 0) status = -1;
    }
    // A failed run, or one cancelled before its first pass, leaves the tables as they were.
    if (status != 0 || !completed) original.Restore();
    network.InvalidateValues();
    return status;
}
