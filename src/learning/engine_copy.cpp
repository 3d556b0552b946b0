// The engine network's traffic with the rest of the library: the import of a data set, the
// handle map to a library network, the copy of structure and parameters into it, priors read
// from a prior network, and parameter learning with its progress steps.

#include "definitions/cpt.h"
#include "definitions/node_value.h"
#include "learning/dataset.h"
#include "learning/engine_network.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_info.h"
#include "model/string_array.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <new>

using namespace QNL_learnOption;

namespace {

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

// The identifier a node named `name` gets in a library network (before uniqueness).
std::string NodeIdFor(const std::string& name) {
    std::string id = name;
    if (!IsValidId(id.c_str()) && SanitizeId(id) != 0) id.clear();
    return id;
}

// How learned networks named the outcome of a state that does not start with a letter before
// they repaired names as the file readers do ("State__5" for "<5"); prior networks saved then
// still map.
std::string FormerOutcomeId(const std::string& state) {
    std::string id = "State_" + state;
    SanitizeId(id);
    return id;
}

// State names for the sorted distinct values of an unnamed column.
std::vector<std::string> DecimalNames(const std::vector<int>& values) {
    std::vector<std::string> names;
    for (const int v : values)
        names.push_back(std::to_string(v));
    return names;
}

} // namespace

// ---- handle map ----

void QNL_learnHandleMap::Set(QNL_network* target, std::vector<int> nodeHandles,
                             std::vector<std::vector<int>> outcomeOfState) {
    network = target;
    handles = std::move(nodeHandles);
    outcomes = std::move(outcomeOfState);
    outcomes.resize(handles.size());
}

int QNL_learnHandleMap::Build(const QNL_learnNetwork& engine, QNL_network& target) {
    std::vector<int> found;
    std::vector<std::vector<int>> states;
    for (int i = 0; i < engine.GetNumberOfNodes(); ++i) {
        const QNL_learnNode& node = *engine.GetNode(i);
        int handle = target.FindNode(node.GetName().c_str());
        if (handle < 0) handle = target.FindNode(NodeIdFor(node.GetName()).c_str());
        for (int h = target.GetFirstNode(); handle < 0 && h >= 0; h = target.GetNextNode(h)) {
            const char* name = target.GetNode(h)->GetInfo()->header.GetName();
            if (name != nullptr && node.GetName() == name) handle = h;
        }
        found.push_back(handle);
        states.emplace_back();
        const QNL_nodeDefinition* definition =
            handle >= 0 ? target.GetNode(handle)->GetDefinition() : nullptr;
        const QNL_idArray* ids = definition != nullptr ? definition->GetOutcomeIds() : nullptr;
        for (const std::string& state : node.GetStates()) {
            int at = ids != nullptr ? quarn::detail::FindOutcomeOfState(*ids, state) : -1;
            if (at < 0 && ids != nullptr) at = ids->FindPosition(FormerOutcomeId(state).c_str());
            states.back().push_back(at);
        }
    }
    Set(&target, std::move(found), std::move(states));
    return 0;
}

int QNL_learnHandleMap::GetHandle(int node) const {
    if (node < 0 || static_cast<std::size_t>(node) >= handles.size()) return -1;
    return handles[static_cast<std::size_t>(node)];
}

int QNL_learnHandleMap::GetOutcome(int node, int state) const {
    if (GetHandle(node) < 0) return -1;
    const std::vector<int>& list = outcomes[static_cast<std::size_t>(node)];
    if (state < 0 || static_cast<std::size_t>(state) >= list.size()) return -1;
    return list[static_cast<std::size_t>(state)];
}

int QNL_learnHandleMap::GetNode(int handle) const {
    if (handle < 0) return -1;
    const auto at = std::find(handles.begin(), handles.end(), handle);
    return at == handles.end() ? -1 : static_cast<int>(at - handles.begin());
}

// ---- import ----

bool QNL_learnNetwork::ImportDataset(const QNL_dataset& data) {
    // An infinity is neither an observation to learn from nor a missing value; it is refused
    // before the network changes.
    for (int v = 0; v < data.getNumberOfVariables(); ++v) {
        if (data.isDiscrete(v)) continue;
        for (int r = 0; r < data.getNumberOfRecords(); ++r) {
            const float x = data.getCell(v, r).f;
            if (std::isinf(x) && !data.isMissing(v, r)) {
                LogFailure(-1, "variable " + data.getVariableId(v) + " holds " +
                                   (x > 0 ? "inf" : "-inf") + " in record " + std::to_string(r) +
                                   ", which is no value to learn from");
                return false;
            }
        }
    }
    Reset();
    try {
        // A record with every cell missing says nothing about any variable, yet alone it would
        // make the data incomplete and send the search through expected counts; it is dropped.
        std::vector<int> kept;
        for (int r = 0; r < data.getNumberOfRecords(); ++r)
            for (int v = 0; v < data.getNumberOfVariables(); ++v)
                if (!data.isMissing(v, r)) {
                    kept.push_back(r);
                    break;
                }
        const int records = static_cast<int>(kept.size());
        for (int v = 0; v < data.getNumberOfVariables(); ++v) {
            const int index = CreateNode(data.getVariableId(v));
            if (index < 0) {
                Reset();
                return false;
            }
            QNL_learnNode& node = *nodes[static_cast<std::size_t>(index)];
            if (!data.isDiscrete(v)) {
                std::vector<double> column(static_cast<std::size_t>(records));
                for (int r = 0; r < records; ++r) {
                    const int record = kept[static_cast<std::size_t>(r)];
                    const bool missing = data.isMissing(v, record);
                    dataIncomplete = dataIncomplete || missing;
                    column[static_cast<std::size_t>(r)] =
                        missing ? MISSING_CONTINUOUS : data.getCell(v, record).f;
                }
                node.SetContinuousData(QNL_dataColumn<double>(std::move(column)));
                continuousData = true;
                continue;
            }
            // A named column keeps all its names, in order, and its cells are their indices;
            // an unnamed one numbers the values that occur, in ascending order.
            std::vector<std::string> states = data.getStateNames(v);
            std::vector<int> values;
            const QNL_datasetCell* cells = data.getColumn(v);
            const int missingCell = data.getMissingValue(v).i;
            // After a match the cells of a named column hold outcome indices of the matched
            // node, which need not follow the order of the names.
            std::vector<int> stateOfCell;
            const std::vector<int>& outcomeOfState = data.getOutcomeOfState(v);
            for (std::size_t s = 0; s < outcomeOfState.size(); ++s) {
                const auto outcome = static_cast<std::size_t>(outcomeOfState[s]);
                if (outcome >= stateOfCell.size()) stateOfCell.resize(outcome + 1, -1);
                stateOfCell[outcome] = static_cast<int>(s);
            }
            if (states.empty()) {
                for (int r : kept)
                    if (cells[r].i != missingCell) values.push_back(cells[r].i);
                std::sort(values.begin(), values.end());
                values.erase(std::unique(values.begin(), values.end()), values.end());
                states = DecimalNames(values);
            }
            std::vector<int> column(static_cast<std::size_t>(records));
            for (int r = 0; r < records; ++r) {
                const int record = kept[static_cast<std::size_t>(r)];
                int cell = cells[record].i;
                if (!stateOfCell.empty() && cell != missingCell)
                    cell = cell >= 0 && cell < static_cast<int>(stateOfCell.size())
                               ? stateOfCell[static_cast<std::size_t>(cell)]
                               : -1;
                int state = MISSING;
                if (cell != missingCell) {
                    if (values.empty()) {
                        if (cell < 0 || cell >= static_cast<int>(states.size())) {
                            LogFailure(-1, "variable " + data.getVariableId(v) + " holds " +
                                               std::to_string(cell) + " in record " +
                                               std::to_string(record) +
                                               ", which names none of its states");
                            Reset();
                            return false;
                        }
                        state = cell;
                    } else {
                        state = static_cast<int>(
                            std::lower_bound(values.begin(), values.end(), cell) - values.begin());
                    }
                }
                dataIncomplete = dataIncomplete || state == MISSING;
                column[static_cast<std::size_t>(r)] = state;
            }
            // Every node has two states at least.
            while (states.size() < 2)
                states.push_back(states.empty() || states.back() != "_unobserved"
                                     ? "_unobserved"
                                     : "_unobserved_" + std::to_string(states.size()));
            node.SetDiscreteData(std::move(states), QNL_dataColumn<int>(std::move(column)));
        }
    } catch (const std::bad_alloc&) {
        LogFailure(-42, "the data set does not fit in memory");
        Reset();
        return false;
    }
    RebuildPriorMap();
    return true;
}

// ---- copies into and out of library networks ----

int QNL_learnNetwork::CopyToNetwork(QNL_network& target) {
    target.DeleteAllNodes();
    std::vector<int> handles;
    std::vector<std::vector<int>> outcomes(nodes.size());
    for (const auto& node : nodes) {
        const std::string id = NodeIdFor(node->name);
        int handle = id.empty() ? -1 : target.AddNode(QNL_TYPE_CPT, id.c_str());
        if (handle < 0) {
            std::string generated;
            target.GenerateNodeId(generated);
            handle = target.AddNode(QNL_TYPE_CPT, generated.c_str());
        }
        if (handle < 0)
            return LogFailure(-1, "node " + node->name + " cannot be added to the network");
        target.GetNode(handle)->GetInfo()->header.SetName(node->name.c_str());
        handles.push_back(handle);
    }
    // Outcomes of every node before any arc, so no table is made twice.
    for (int i = -1; NextNode(i) == 0;) {
        const QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
        QNL_nodeDefinition* definition = target.GetNode(handles[i])->GetDefinition();
        if (definition == nullptr || definition->GetType() != QNL_TYPE_CPT) return -1;
        if (const int code = SetOutcomesOf(i, *definition)) return code;
        for (int s = 0; s < node.GetNumberOfStates(); ++s)
            outcomes[static_cast<std::size_t>(i)].push_back(s);
    }
    for (int i = -1; NextNode(i) == 0;)
        for (const int p : nodes[static_cast<std::size_t>(i)]->parents)
            if (const int code = target.AddArc(handles[p], handles[i]))
                // Arcs drawn by hand may close a cycle, which the target refuses silently.
                return LogFailure(code, "the arc " + nodes[static_cast<std::size_t>(p)]->name +
                                            " -> " + nodes[static_cast<std::size_t>(i)]->name +
                                            " cannot be added to the network");
    copyMap.Set(&target, std::move(handles), std::move(outcomes));
    return CopyParameters(copyMap, 1);
}

int QNL_learnNetwork::SetOutcomesOf(int i, QNL_nodeDefinition& definition) const {
    const QNL_learnNode& node = *nodes[static_cast<std::size_t>(i)];
    QNL_stringArray texts;
    if (node.states.empty()) {
        texts.Add("Continuous0");
        texts.Add("Continuous1");
    }
    for (const std::string& state : node.states)
        if (texts.Add(state.c_str()) != 0) return -42;
    // Made identifiers as the file readers make them of state names, so a model read from a
    // file and one learned from its records name their outcomes alike.
    QNL_idArray ids(false);
    int code = ids.QNL_stringArray::Assign(texts);
    if (code == 0) code = ids.MakeAllIdsValid();
    if (code == 0) code = definition.SetNumberOfOutcomes(ids);
    if (code != -19) return code;
    // A node with children keeps its table's shape through single outcomes at the end.
    for (int count = definition.GetNumberOfOutcomes(); code == 0 || code == -19;) {
        if (count < ids.GetCount())
            code = definition.AddOutcome(("Interval_" + std::to_string(count)).c_str());
        else if (count > ids.GetCount())
            code = definition.RemoveOutcome(count - 1);
        else
            return definition.SetOutcomeIds(ids);
        if (code == 0) count = definition.GetNumberOfOutcomes();
    }
    return code;
}

int QNL_learnNetwork::CopyParameters(const QNL_learnHandleMap& map, int flag) {
    if (map.GetNetwork() == nullptr) return -1;
    for (int i = -1; NextNode(i) == 0;) {
        if (map.GetHandle(i) < 0) continue;
        if (const int code = nodes[static_cast<std::size_t>(i)]->CopyParametersTo(map, flag))
            return code;
    }
    return 0;
}

int QNL_learnNetwork::CopyStructureFrom(const QNL_learnNetwork& source) {
    if (source.GetNumberOfNodes() != GetNumberOfNodes()) return -1;
    for (int i = 0; i < GetNumberOfNodes(); ++i)
        for (const int p : source.nodes[static_cast<std::size_t>(i)]->parents)
            if (AddArc(p, i) != 1) return -1;
    return 0;
}

int QNL_learnNode::CounterpartCells(const QNL_learnHandleMap& map,
                                    std::vector<std::int64_t>& offsets,
                                    QNL_nodeDefinition*& definition) const {
    const int handle = map.GetHandle(index);
    if (handle < 0) return -1;
    definition = map.GetNetwork()->GetNode(handle)->GetDefinition();
    const int type = definition != nullptr ? definition->GetType() : 0;
    if (type != QNL_TYPE_CPT && type != QNL_TYPE_TRUTHTABLE) return -2;
    const auto* cpt = static_cast<const QNL_cpt*>(definition);
    const QNL_Dmatrix& table = cpt->GetTable();
    const QNL_intArray& owners = cpt->GetDimensionParents();
    const int dims = table.GetNumberOfDimensions();
    if (dims != static_cast<int>(parents.size()) + 1 || owners.GetCount() != dims - 1) return -2;
    // The engine parent behind each dimension of the counterpart's table.
    std::vector<std::size_t> member;
    for (int d = 0; d < dims - 1; ++d) {
        const auto at = std::find(parents.begin(), parents.end(), map.GetNode(owners[d]));
        if (at == parents.end()) return -1;
        member.push_back(static_cast<std::size_t>(at - parents.begin()));
    }
    const int r = GetNumberOfStates();
    std::vector<int> own;
    for (int k = 0; k < r; ++k) {
        own.push_back(map.GetOutcome(index, k));
        if (own.back() < 0) return -1;
    }
    std::vector<int> state(parents.size(), 0);
    offsets.clear();
    for (int j = 0; j < probabilities.Rows(); ++j) {
        // Row j's parent states, the first parent slowest.
        for (int rest = j, m = static_cast<int>(parents.size()) - 1; m >= 0; --m) {
            const int size =
                network->nodes[static_cast<std::size_t>(parents[m])]->GetNumberOfStates();
            state[m] = rest % size;
            rest /= size;
        }
        std::int64_t base = 0;
        for (int d = 0; d < dims - 1; ++d) {
            const int outcome = map.GetOutcome(parents[member[d]], state[member[d]]);
            if (outcome < 0) return -1;
            base += std::int64_t{outcome} * table.GetMultiplier(d);
        }
        for (int k = 0; k < r; ++k)
            offsets.push_back(base + own[k] * table.GetMultiplier(dims - 1));
    }
    return 0;
}

int QNL_learnNode::CopyParametersTo(const QNL_learnHandleMap& map, int direction) {
    // A continuous node has no table; a table never estimated has nothing to give.
    if (states.empty() || !IsScoredAsDiscrete()) return 0;
    if (direction == 1 && !probabilitiesValid) return 0;
    if (const int code = ShapeTables()) return code;
    std::vector<std::int64_t> offsets;
    QNL_nodeDefinition* definition = nullptr;
    if (const int code = CounterpartCells(map, offsets, definition)) return code;
    QNL_doubleArray values;
    if (const int code = definition->GetDefinition(values)) return code;
    const int r = GetNumberOfStates();
    if (direction == 0) {
        double* cells = probabilities.Cells();
        for (std::size_t c = 0; c < offsets.size(); ++c)
            cells[c] = values[static_cast<int>(offsets[c])];
        probabilities.RecomputeRowSums();
        probabilitiesValid = true;
        return 0;
    }
    // Outcomes without a state of their own get nothing of their column.
    const int outcomes = definition->GetNumberOfOutcomes();
    const double* cells = probabilities.Cells();
    for (int j = 0; j < probabilities.Rows(); ++j) {
        const std::int64_t start =
            offsets[static_cast<std::size_t>(j) * r] - map.GetOutcome(index, 0);
        for (int o = 0; o < outcomes; ++o)
            values[static_cast<int>(start + o)] = 0.0;
    }
    for (std::size_t c = 0; c < offsets.size(); ++c)
        values[static_cast<int>(offsets[c])] = cells[c];
    return definition->SetDefinition(values);
}

// ---- priors from a prior network ----

void QNL_learnNetwork::SetPriorNetwork(QNL_network* network) {
    priorNetwork = network;
    RebuildPriorMap();
    InvalidateAllScores();
}

void QNL_learnNetwork::RebuildPriorMap() {
    priorMap = QNL_learnHandleMap();
    if (priorNetwork != nullptr) priorMap.Build(*this, *priorNetwork);
}

int QNL_learnNode::PriorCountsFromNetwork(bool joint, double ess) {
    QNL_network* prior = network->priorNetwork;
    if (prior == nullptr)
        return LogFailure(-567, "node " + name + ": the priors need a prior network");
    const QNL_learnHandleMap& map = network->priorMap;
    if (!joint) {
        std::vector<std::int64_t> offsets;
        QNL_nodeDefinition* definition = nullptr;
        int code = CounterpartCells(map, offsets, definition);
        QNL_doubleArray values;
        if (code == 0) code = definition->GetDefinition(values);
        if (code != 0)
            return LogFailure(code, "node " + name + " has no matching table in the prior network");
        double* cells = priors.Cells();
        for (std::size_t c = 0; c < offsets.size(); ++c)
            cells[c] = ess * values[static_cast<int>(offsets[c])];
        return 0;
    }
    // P(parents = j, node = k) = P(parents = j) P(node = k | parents = j), by inference with
    // the parents observed; the prior network's evidence on them is cleared afterwards.
    const int handle = map.GetHandle(index);
    std::vector<QNL_nodeValue*> parentValues;
    for (const int p : parents) {
        const int h = map.GetHandle(p);
        parentValues.push_back(h >= 0 ? prior->GetNode(h)->GetValue() : nullptr);
    }
    for (QNL_nodeValue* value : parentValues)
        if (value == nullptr || handle < 0)
            return LogFailure(-1, "node " + name + " or a parent has no node in the prior network");
    const int r = GetNumberOfStates();
    std::vector<int> state(parents.size(), 0);
    int code = 0;
    for (int j = 0; j < priors.Rows() && code == 0; ++j) {
        for (int rest = j, m = static_cast<int>(parents.size()) - 1; m >= 0; --m) {
            const int size =
                network->nodes[static_cast<std::size_t>(parents[m])]->GetNumberOfStates();
            state[static_cast<std::size_t>(m)] = rest % size;
            rest /= size;
        }
        for (std::size_t m = 0; m < parents.size() && code == 0; ++m) {
            const int outcome = map.GetOutcome(parents[m], state[m]);
            code = outcome < 0 ? -1 : parentValues[m]->SetEvidence(outcome);
        }
        double evidence = 0.0;
        if (code == 0 && !prior->CalcPropEvidence(evidence)) code = -1;
        if (code == 0 && evidence > 0.0) code = prior->UpdateBeliefs();
        double* row = priors.Row(j);
        const QNL_Dmatrix* posterior = prior->GetNode(handle)->GetValue()->GetMatrix();
        for (int k = 0; k < r && code == 0; ++k) {
            const int outcome = map.GetOutcome(index, k);
            if (outcome < 0 || posterior == nullptr)
                code = -1;
            else
                row[k] = evidence > 0.0 ? ess * evidence * posterior->Subscript(outcome) : 0.0;
        }
        for (QNL_nodeValue* value : parentValues)
            value->ClearEvidence();
    }
    if (code != 0)
        return LogFailure(code, "node " + name + ": inference in the prior network failed");
    return 0;
}

// ---- parameter learning ----

int QNL_learnNetwork::BeginStep(double weight, const std::string& message, int& level) {
    level = -1;
    if (progress == nullptr) return 0;
    const int outer = progress->GetLevel();
    const int code = progress->BeginStep(outer, weight, message);
    level = outer + 1;
    return code;
}

int QNL_learnNetwork::EndStep(int level) {
    return progress == nullptr ? 0 : progress->EndStep(level);
}

int QNL_learnNetwork::EstimateParameters() {
    const int n = activeCount;
    int done = 0;
    for (int i = -1; NextNode(i) == 0;) {
        int level;
        int code =
            BeginStep(1.0 / n, "Node: " + std::to_string(++done) + "/" + std::to_string(n), level);
        if (code == 0) code = nodes[static_cast<std::size_t>(i)]->EstimateParameters();
        if (code == 0) code = EndStep(level);
        if (code != 0) return code;
    }
    return 0;
}

int QNL_learnNetwork::LearnParameters(const QNL_learnHandleMap* target) {
    if (target != nullptr && target->GetNetwork() != nullptr) {
        const bool saved = options.GetBool(PREFER_CONT_DATA);
        options.SetBool(PREFER_CONT_DATA, false);
        InvalidateAllScores();
        int level;
        QNL_learnHandleMap rebuilt;
        const QNL_learnHandleMap* map = target;
        int code = BeginStep(0.05, "Discretizing", level);
        if (code == 0) code = DiscretizeForTarget(*target, rebuilt, map);
        if (code == 0) code = EndStep(level);
        if (code == 0) code = BeginStep(0.8, "Calculating MAP Parameters", level);
        if (code == 0) code = LearnParameters(nullptr);
        if (code == 0) code = EndStep(level);
        if (code == 0) code = BeginStep(0.15, "Copying Parameters to QNL network", level);
        if (code == 0) code = CopyParameters(*map, 1);
        if (code == 0) code = EndStep(level);
        options.SetBool(PREFER_CONT_DATA, saved);
        InvalidateAllScores();
        return code;
    }
    if (nodes.empty()) return LogFailure(-567, "there are no nodes to learn");
    if (dataIncomplete) {
        const int method = options.GetInt(INCOMPLETE_DATA_METHOD);
        if (method == 1) {
            double score = 0.0;
            return RunEM(score);
        }
        if (method != 2)
            return LogFailure(-1, "unknown INCOMPLETE_DATA_METHOD " + std::to_string(method));
    }
    return EstimateParameters();
}
