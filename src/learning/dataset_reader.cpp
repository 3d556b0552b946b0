// The delimited text reader of the data set: a header of column names, then one record per
// line. Columns start as integer columns and turn into float or named columns as their fields
// demand.

#include "learning/dataset.h"

#include "model/error_handler.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>

namespace {

// Lines of a file whatever their ends (LF, CRLF or a bare CR), read through one buffer.
class LineReader {
public:
    explicit LineReader(std::FILE* file) : file(file) {}

    // False at the end of the file with nothing read.
    bool Next(std::string& line) {
        line.clear();
        bool any = false;
        for (;;) {
            if (at == end && !Fill()) return any;
            any = true;
            const char c = buffer[at++];
            if (c == '\n') return true;
            if (c == '\r') {
                if (at < end || Fill()) {
                    if (buffer[at] == '\n') ++at;
                }
                return true;
            }
            line.push_back(c);
        }
    }

private:
    bool Fill() {
        at = 0;
        end = std::fread(buffer, 1, sizeof buffer, file);
        return end > 0;
    }

    std::FILE* file;
    char buffer[1 << 16];
    std::size_t at = 0;
    std::size_t end = 0;
};

// Splits at every separator; the fields point into the line.
void Split(const std::string& line, char separator, std::vector<std::string_view>& fields) {
    fields.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t found = line.find(separator, start);
        if (found == std::string::npos) {
            fields.emplace_back(line.data() + start, line.size() - start);
            return;
        }
        fields.emplace_back(line.data() + start, found - start);
        start = found + 1;
    }
}

std::string_view SkipLeadingSpaces(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    return text.substr(i);
}

// The field as a number when all of it is one (trailing blanks allowed), independent of the
// process locale.
bool ParseNumber(std::string_view text, double& value) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(text.data(), last, value);
    return result.ec == std::errc() && result.ptr == last;
}

// The kind of each column while the file is read, beside the cells in the data set.
struct ColumnState {
    std::unique_ptr<std::unordered_map<std::string, int>> states;
    std::vector<std::string> names;

    std::string key;

    int StateOf(std::string_view text) {
        key.assign(text.data(), text.size());
        const auto found = states->find(key);
        if (found != states->end()) return found->second;
        const int index = static_cast<int>(names.size());
        states->emplace(key, index);
        names.push_back(key);
        return index;
    }
};

std::string CellText(QNL_datasetCell cell, bool discrete) {
    char text[64];
    if (discrete)
        std::snprintf(text, sizeof text, "%d", cell.i);
    else
        std::snprintf(text, sizeof text, "%.16g", static_cast<double>(cell.f));
    return text;
}

} // namespace

bool QNL_dataset::readFile(const std::string& fileName, const QNL_missingValueSpec* spec,
                           std::string* error) {
    std::string message;
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    bool ok = false;
    if (file == nullptr) {
        message = "Can't open data file: " + fileName;
    } else {
        clear();
        const QNL_missingValueSpec defaults;
        try {
            ok = ReadFileInto(file, spec != nullptr ? *spec : defaults, message);
        } catch (const std::bad_alloc&) {
            message = "Out of memory while reading data file: " + fileName;
        }
        std::fclose(file);
    }
    if (ok) return true;
    if (error != nullptr)
        *error = message;
    else
        QNL_errorHandler::Instance().LogError(-100, message);
    return false;
}

bool QNL_dataset::ReadFileInto(std::FILE* file, const QNL_missingValueSpec& spec,
                               std::string& error) {
    LineReader reader(file);
    std::string line;
    if (!reader.Next(line)) {
        error = "Can't read first line of file";
        return false;
    }
    char separator = 0;
    for (char candidate : {'\t', ',', ';', ' '})
        if (line.find(candidate) != std::string::npos) {
            separator = candidate;
            break;
        }
    std::vector<std::string_view> fields;
    if (separator == 0) {
        if (line.size() > 128) {
            error = "First line has more than 128 characters and no separators were found";
            return false;
        }
        fields.emplace_back(line);
    } else {
        Split(line, separator, fields);
    }
    if (line.empty() || fields.back().empty()) {
        error = "Trailing separator found in header line";
        return false;
    }
    for (std::size_t j = 0; j < fields.size(); ++j) {
        const std::string name(SkipLeadingSpaces(fields[j]));
        if (name.empty()) {
            error = "Column name " + std::to_string(j + 1) + " is empty";
            return false;
        }
        if (!addIntVariable(name, nullptr, spec.intMissing)) {
            error = "Duplicated column name: " + name;
            return false;
        }
    }
    const std::size_t width = variables.size();
    std::vector<ColumnState> kinds(width);
    const QNL_datasetCell intMissing = QNL_IntCell(spec.intMissing);
    const QNL_datasetCell floatMissing = QNL_FloatCell(spec.floatMissing);
    const bool nanMissing = std::isnan(spec.floatMissing);

    for (int lineNumber = 2; reader.Next(line); ++lineNumber) {
        Split(line, separator == 0 ? '\n' : separator, fields);
        std::size_t count = fields.size();
        if (separator == ' ' && fields.back().empty()) --count;
        if (count != width) {
            error = "Line " + std::to_string(lineNumber) + ": expected " + std::to_string(width) +
                    " columns of data but found " + std::to_string(count);
            return false;
        }
        for (std::size_t j = 0; j < width; ++j) {
            QNL_datasetVariable& variable = variables[j];
            std::vector<QNL_datasetCell>& column = columns[j];
            ColumnState& kind = kinds[j];
            std::string_view text = SkipLeadingSpaces(fields[j]);
            if (text == spec.token) text = std::string_view();
            if (text.empty()) {
                // A named column's missing cell is -1 whatever the file's integer marker.
                column.push_back(variable.missing);
                continue;
            }
            if (kind.states) {
                column.push_back(QNL_IntCell(kind.StateOf(text)));
                continue;
            }
            double number = 0.0;
            if (ParseNumber(text, number)) {
                const bool integral = number == std::floor(number) && number >= -2147483648.0 &&
                                      number <= 2147483647.0;
                if (variable.discrete && integral) {
                    column.push_back(QNL_IntCell(static_cast<std::int32_t>(number)));
                    continue;
                }
                if (variable.discrete) {
                    variable.discrete = false;
                    variable.missing = floatMissing;
                    for (QNL_datasetCell& cell : column)
                        cell = cell.i == intMissing.i ? floatMissing
                                                      : QNL_FloatCell(static_cast<float>(cell.i));
                }
                column.push_back(QNL_FloatCell(static_cast<float>(number)));
                continue;
            }
            // Text: the column becomes a named one, earlier numbers turning into names.
            kind.states = std::make_unique<std::unordered_map<std::string, int>>();
            const bool wasDiscrete = variable.discrete;
            for (QNL_datasetCell& cell : column) {
                const bool missing =
                    wasDiscrete ? cell.i == intMissing.i
                                : cell.f == floatMissing.f || (nanMissing && std::isnan(cell.f));
                cell = missing ? QNL_IntCell(-1)
                               : QNL_IntCell(kind.StateOf(CellText(cell, wasDiscrete)));
            }
            variable.discrete = true;
            variable.missing = QNL_IntCell(-1);
            column.push_back(QNL_IntCell(kind.StateOf(text)));
        }
        ++records;
    }

    // Names in byte order; the cells follow their names.
    for (std::size_t j = 0; j < width; ++j) {
        ColumnState& kind = kinds[j];
        if (!kind.states) continue;
        std::map<std::string, int> sorted;
        for (std::size_t s = 0; s < kind.names.size(); ++s)
            sorted.emplace(std::move(kind.names[s]), static_cast<int>(s));
        std::vector<int> position(sorted.size());
        std::vector<std::string>& names = variables[j].stateNames;
        names.clear();
        for (auto& [name, first] : sorted) {
            position[static_cast<std::size_t>(first)] = static_cast<int>(names.size());
            names.push_back(name);
        }
        for (QNL_datasetCell& cell : columns[j])
            if (cell.i >= 0) cell.i = position[static_cast<std::size_t>(cell.i)];
    }
    return true;
}
