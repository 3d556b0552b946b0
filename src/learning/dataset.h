#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

class QNL_network;
class QNL_idArray;

namespace quarn::detail {
// The outcome a state name of data stands for: the identifier equal to it, else the one equal
// to its repair by the identifier rule, which is how a file reader or a learner made an
// identifier of that text; -1 when neither is there.
int FindOutcomeOfState(const QNL_idArray& ids, const std::string& state);
} // namespace quarn::detail

// One cell of a data set: four bytes read as an int in a discrete column (an outcome index or
// a raw integer) and as a float in a continuous one.
union QNL_datasetCell {
    std::int32_t i;
    float f;
};

inline QNL_datasetCell QNL_IntCell(std::int32_t value) {
    QNL_datasetCell cell;
    cell.i = value;
    return cell;
}

inline QNL_datasetCell QNL_FloatCell(float value) {
    QNL_datasetCell cell;
    cell.f = value;
    return cell;
}

// The description of one column.
struct QNL_datasetVariable {
    bool discrete = true;
    std::string id;
    int nodeHandle = -1;
    QNL_datasetCell missing = QNL_IntCell(-1);
    std::vector<std::string> stateNames;
};

// How a data file marks a missing observation.
struct QNL_missingValueSpec {
    std::string token = "*";
    int intMissing = -1;
    float floatMissing = 0.0f;
    QNL_missingValueSpec();
};

// The table of observations the learning algorithms read: named columns of equal length, each
// discrete (int cells) or continuous (float cells). It owns its columns. Cells of a named
// column hold state indices until the data set is matched to a network and outcome indices of
// the matched nodes afterwards; the mapping between the two is kept, so matching again (to
// the same or another network) starts from the state indices.
class QNL_dataset {
public:
    QNL_dataset() = default;

    void clear();
    // A variable with no cells given gets the missing cell in every existing record.
    bool addIntVariable(const std::string& id, const std::vector<QNL_datasetCell>* cells,
                        int missing);
    bool addFloatVariable(const std::string& id, const std::vector<QNL_datasetCell>* cells,
                          float missing);
    bool addVariable(const std::string& id, const std::vector<QNL_datasetCell>* cells,
                     QNL_datasetCell missing, bool discrete);
    bool addRecord(const std::vector<QNL_datasetCell>& cells);

    int findVariable(const std::string& id) const;
    int getNumberOfVariables() const { return static_cast<int>(variables.size()); }
    int getNumberOfRecords() const { return records; }
    const std::string& getVariableId(int i) const { return variables[Index(i)].id; }
    bool isDiscrete(int i) const { return variables[Index(i)].discrete; }
    int getNodeHandle(int i) const;
    bool setNodeHandle(int i, int handle);
    const std::vector<std::string>& getStateNames(int i) const {
        return variables[Index(i)].stateNames;
    }
    // Cells of the column are taken as indices into the new names from now on.
    bool setStateNames(int i, const std::vector<std::string>& names);
    // The outcome index the last match gave each state of a named column; empty while its
    // cells hold state indices.
    const std::vector<int>& getOutcomeOfState(int i) const { return outcomeOfState[Index(i)]; }
    QNL_datasetCell getMissingValue(int i) const { return variables[Index(i)].missing; }
    bool getVariable(int i, QNL_datasetVariable& out) const;
    // Whether the cell is the column's missing cell, or a NaN in a float column.
    bool isMissing(int variable, int record) const;

    // Cells, column by column; no checks (callers validate indices).
    const QNL_datasetCell* getColumn(int i) const { return columns[Index(i)].data(); }
    QNL_datasetCell getCell(int variable, int record) const {
        return columns[Index(variable)][Index(record)];
    }
    void setCell(int variable, int record, QNL_datasetCell cell) {
        columns[Index(variable)][Index(record)] = cell;
    }

    // Ties every variable to the node of the same identifier and maps the cells of named
    // columns to outcome indices, a state name to the outcome FindOutcomeOfState gives. All or
    // nothing: on false the data set is as it was and `error` says why.
    bool matchNetwork(const QNL_network& network, std::string& error);
    // Whether the columns tied by the last match still name their nodes in `network`: the
    // same network, a node of the column's identifier behind each handle and, in named
    // columns, the matched outcomes in place. Handles changed by hand since are taken as
    // given. On false `error` says what to do.
    bool checkMatch(const QNL_network& network, std::string& error) const;
    // Replaces the content with a delimited text file. On failure the message goes into
    // `error` when given, otherwise into the error log under -100.
    bool readFile(const std::string& fileName, const QNL_missingValueSpec* spec = nullptr,
                  std::string* error = nullptr);

private:
    static std::size_t Index(int i) { return static_cast<std::size_t>(i); }
    bool ReadFileInto(std::FILE* file, const QNL_missingValueSpec& spec, std::string& error);

    int records = 0;
    std::vector<std::vector<QNL_datasetCell>> columns;
    std::vector<QNL_datasetVariable> variables;
    // Per variable: the outcome index each state index was mapped to by the last match;
    // empty while the cells hold state indices.
    std::vector<std::vector<int>> outcomeOfState;
    std::unordered_map<std::string, int> byId;
    // The network of the last match (only compared, never followed) and the handle it gave
    // each variable.
    const QNL_network* matchedNetwork = nullptr;
    std::vector<int> matchedHandles;
};
