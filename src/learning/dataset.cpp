#include "learning/dataset.h"

#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <algorithm>
#include <cmath>

QNL_missingValueSpec::QNL_missingValueSpec() : floatMissing(std::sqrt(-1.0f)) {}

void QNL_dataset::clear() {
    records = 0;
    columns.clear();
    variables.clear();
    outcomeOfState.clear();
    byId.clear();
    matchedNetwork = nullptr;
    matchedHandles.clear();
}

bool QNL_dataset::addIntVariable(const std::string& id, const std::vector<QNL_datasetCell>* cells,
                                 int missing) {
    return addVariable(id, cells, QNL_IntCell(missing), true);
}

bool QNL_dataset::addFloatVariable(const std::string& id, const std::vector<QNL_datasetCell>* cells,
                                   float missing) {
    return addVariable(id, cells, QNL_FloatCell(missing), false);
}

bool QNL_dataset::addVariable(const std::string& id, const std::vector<QNL_datasetCell>* cells,
                              QNL_datasetCell missing, bool discrete) {
    if (!id.empty() && findVariable(id) >= 0) return false;
    if (cells != nullptr && !variables.empty() &&
        cells->size() != static_cast<std::size_t>(records))
        return false;
    QNL_datasetVariable variable;
    variable.discrete = discrete;
    variable.id = id;
    variable.missing = missing;
    // Records that exist already did not observe the new variable.
    std::vector<QNL_datasetCell> column(Index(records), missing);
    if (cells != nullptr) {
        if (variables.empty()) records = static_cast<int>(cells->size());
        column = *cells;
    }
    columns.push_back(std::move(column));
    variables.push_back(std::move(variable));
    outcomeOfState.emplace_back();
    if (!id.empty()) byId.emplace(id, getNumberOfVariables() - 1);
    return true;
}

bool QNL_dataset::addRecord(const std::vector<QNL_datasetCell>& cells) {
    if (cells.size() != variables.size()) return false;
    for (std::size_t j = 0; j < cells.size(); ++j)
        columns[j].push_back(cells[j]);
    ++records;
    return true;
}

int QNL_dataset::findVariable(const std::string& id) const {
    if (id.empty()) {
        for (std::size_t i = 0; i < variables.size(); ++i)
            if (variables[i].id.empty()) return static_cast<int>(i);
        return -1;
    }
    const auto found = byId.find(id);
    return found == byId.end() ? -1 : found->second;
}

int QNL_dataset::getNodeHandle(int i) const {
    if (i < 0 || i >= getNumberOfVariables()) return -1;
    return variables[Index(i)].nodeHandle;
}

bool QNL_dataset::setNodeHandle(int i, int handle) {
    if (i < 0 || i >= getNumberOfVariables()) return false;
    variables[Index(i)].nodeHandle = handle;
    return true;
}

bool QNL_dataset::setStateNames(int i, const std::vector<std::string>& names) {
    if (i < 0 || i >= getNumberOfVariables()) return false;
    variables[Index(i)].stateNames = names;
    outcomeOfState[Index(i)].clear();
    return true;
}

bool QNL_dataset::getVariable(int i, QNL_datasetVariable& out) const {
    if (i < 0 || i >= getNumberOfVariables()) return false;
    out = variables[Index(i)];
    return true;
}

bool QNL_dataset::isMissing(int variable, int record) const {
    const QNL_datasetVariable& v = variables[Index(variable)];
    const QNL_datasetCell cell = getCell(variable, record);
    if (v.discrete) return cell.i == v.missing.i;
    // A NaN equals no value, so it cannot be an observation whatever the column's missing cell.
    return cell.f == v.missing.f || std::isnan(cell.f);
}

namespace {

// The state index behind each cell value: the inverse of the last match, or the identity
// over the states while the cells hold state indices; -1 for values no state gives.
std::vector<int> StateOfCell(const std::vector<int>& outcomeOfState, std::size_t states) {
    std::vector<int> stateOf;
    if (outcomeOfState.empty()) {
        for (std::size_t s = 0; s < states; ++s)
            stateOf.push_back(static_cast<int>(s));
        return stateOf;
    }
    for (std::size_t s = 0; s < outcomeOfState.size(); ++s) {
        const auto outcome = static_cast<std::size_t>(outcomeOfState[s]);
        if (outcome >= stateOf.size()) stateOf.resize(outcome + 1, -1);
        stateOf[outcome] = static_cast<int>(s);
    }
    return stateOf;
}

} // namespace

int quarn::detail::FindOutcomeOfState(const QNL_idArray& ids, const std::string& state) {
    const int exact = ids.FindPosition(state.c_str());
    if (exact >= 0) return exact;
    std::string repaired = state;
    RepairId(repaired);
    return repaired == state ? -1 : ids.FindPosition(repaired.c_str());
}

bool QNL_dataset::matchNetwork(const QNL_network& network, std::string& error) {
    const int n = getNumberOfVariables();
    std::vector<int> handles(Index(n));
    std::vector<std::vector<int>> maps(Index(n));
    // Everything is checked before anything changes.
    for (int i = 0; i < n; ++i) {
        const QNL_datasetVariable& v = variables[Index(i)];
        const int handle = network.FindNode(v.id.c_str());
        if (handle < 0) {
            error = "Dataset column '" + v.id + "' doesn't match the network";
            return false;
        }
        handles[Index(i)] = handle;
        if (v.stateNames.empty()) continue;
        const QNL_node* node = network.GetNode(handle);
        const QNL_idArray* outcomes = node != nullptr && node->GetDefinition() != nullptr
                                          ? node->GetDefinition()->GetOutcomeIds()
                                          : nullptr;
        std::vector<int>& map = maps[Index(i)];
        for (const std::string& name : v.stateNames) {
            const int at =
                outcomes != nullptr ? quarn::detail::FindOutcomeOfState(*outcomes, name) : -1;
            if (at < 0) {
                error = "Dataset column '" + v.id + "' contains value '" + name +
                        "' which doesn't map to any node outcome";
                return false;
            }
            // Two texts may repair alike ("a/b", "a_b"); their records must not be merged.
            const auto twin = std::find(map.begin(), map.end(), at);
            if (twin != map.end()) {
                error = "Dataset column '" + v.id + "' contains values '" +
                        v.stateNames[static_cast<std::size_t>(twin - map.begin())] + "' and '" +
                        name + "' which map to the same node outcome";
                return false;
            }
            map.push_back(at);
        }
        // The inverse of the last match turns the cells back into state indices.
        const std::vector<int> stateOf = StateOfCell(outcomeOfState[Index(i)], map.size());
        const std::vector<QNL_datasetCell>& column = columns[Index(i)];
        for (int r = 0; r < records; ++r) {
            const int cell = column[Index(r)].i;
            if (cell == v.missing.i) continue;
            if (cell < 0 || cell >= static_cast<int>(stateOf.size()) || stateOf[Index(cell)] < 0) {
                error = "Dataset column '" + v.id + "' holds " + std::to_string(cell) +
                        " in record " + std::to_string(r) + ", which is not one of its states";
                return false;
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        variables[Index(i)].nodeHandle = handles[Index(i)];
        const std::vector<int>& map = maps[Index(i)];
        if (map.empty()) continue;
        const std::vector<int> stateOf = StateOfCell(outcomeOfState[Index(i)], map.size());
        const int missing = variables[Index(i)].missing.i;
        for (QNL_datasetCell& cell : columns[Index(i)])
            if (cell.i != missing) cell.i = map[Index(stateOf[Index(cell.i)])];
        outcomeOfState[Index(i)] = map;
    }
    matchedNetwork = &network;
    matchedHandles = handles;
    return true;
}

bool QNL_dataset::checkMatch(const QNL_network& network, std::string& error) const {
    const std::string again = "; match the data set to this network again";
    for (std::size_t i = 0; i < matchedHandles.size() && i < variables.size(); ++i) {
        const QNL_datasetVariable& v = variables[i];
        if (v.nodeHandle != matchedHandles[i]) continue;
        if (matchedNetwork != &network) {
            error = "Dataset was matched to another network" + again;
            return false;
        }
        const QNL_node* node = network.GetNode(v.nodeHandle);
        const char* id = node != nullptr ? node->GetId() : nullptr;
        if (id == nullptr || v.id != id) {
            error = "Dataset column '" + v.id + "' was matched to a node that is gone" + again;
            return false;
        }
        const QNL_idArray* outcomes =
            node->GetDefinition() != nullptr ? node->GetDefinition()->GetOutcomeIds() : nullptr;
        const std::vector<int>& map = outcomeOfState[i];
        for (std::size_t s = 0; s < map.size(); ++s)
            if (outcomes == nullptr ||
                quarn::detail::FindOutcomeOfState(*outcomes, v.stateNames[s]) != map[s]) {
                error = "Dataset column '" + v.id + "' was matched to outcomes of node '" + v.id +
                        "' that have changed" + again;
                return false;
            }
    }
    return true;
}
