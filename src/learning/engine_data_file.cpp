// The learning engine's data file: a scan of its columns, the preprocess side file that keeps
// what the scan found, and the load of the records into the network's nodes.

#include "learning/engine_data_file.h"

#include "learning/engine_network.h"
#include "model/error_handler.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <unordered_map>

using namespace QNL_learnOption;

namespace {

int LogFailure(const std::string& message) {
    return QNL_errorHandler::Instance().LogError(-1, "learning: " + message);
}

// Every engine node keeps rows over all nodes, so the memory grows with the square of the
// column count.
constexpr std::size_t kMaxColumns = 4096;

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Lines of a text held in memory; "\n", "\r\n" and a bare "\r" end a line.
class LineReader {
public:
    explicit LineReader(const std::string& text)
        : at(text.data()), end(text.data() + text.size()) {}

    bool AtEnd() const { return at == end; }
    char Peek() const { return at == end ? '\0' : *at; }
    int Line() const { return line; }
    bool Next(std::string_view& out) {
        if (at == end) return false;
        const char* start = at;
        while (at != end && *at != '\n' && *at != '\r')
            ++at;
        out = std::string_view(start, static_cast<std::size_t>(at - start));
        if (at != end && *at++ == '\r' && at != end && *at == '\n') ++at;
        ++line;
        return true;
    }
    // The next line holding a value at all, split at the separators.
    bool NextValues(std::vector<std::string_view>& tokens) {
        std::string_view text;
        while (Next(text)) {
            Split(text, tokens);
            if (!tokens.empty()) return true;
        }
        return false;
    }
    static void Split(std::string_view text, std::vector<std::string_view>& tokens) {
        tokens.clear();
        std::size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && IsSeparator(text[i]))
                ++i;
            const std::size_t start = i;
            while (i < text.size() && !IsSeparator(text[i]))
                ++i;
            if (i > start) tokens.push_back(text.substr(start, i - start));
        }
    }

private:
    const char* at;
    const char* end;
    int line = 0;
};

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    text = buffer.str();
    return true;
}

// The type word of a column: 0 discrete, 1 discrete-ordinal, 2 continuous, -1 none.
int TypeOf(std::string_view word) {
    if (word == "continuous") return 2;
    if (word.substr(0, 8) != "discrete") return -1;
    return word.substr(8) == "-ordinal" ? 1 : 0;
}

std::string Shortest(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

QNL_learnDataFile::Column Named(std::string name) {
    QNL_learnDataFile::Column column;
    column.name = std::move(name);
    return column;
}

std::string Quoted(std::string_view token) {
    return "\"" + std::string(token.substr(0, 40)) + (token.size() > 40 ? "...\"" : "\"");
}

} // namespace

// ---- numbers ----

bool QNL_learnDataFile::ParseNumber(const char* begin, const char* end, double& value) {
    const char* p = begin;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* mantissa = p;
    int digits = 0;
    bool point = false;
    for (; p != end; ++p) {
        if (*p >= '0' && *p <= '9')
            ++digits;
        else if (*p == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0) return false;
    const char* exponent = p;
    if (p != end) {
        if (*p != 'e' && *p != 'E' && *p != 'd' && *p != 'D') return false;
        ++p;
        if (p != end && (*p == '+' || *p == '-')) ++p;
        const char* start = p;
        while (p != end && *p >= '0' && *p <= '9')
            ++p;
        if (p == start || p != end) return false;
    }
    // from_chars takes neither a leading '+' nor the Fortran exponent letters.
    char buffer[128];
    const std::size_t length = static_cast<std::size_t>(end - mantissa);
    if (length + 1 >= sizeof buffer) return false;
    std::size_t at = 0;
    if (*begin == '-') buffer[at++] = '-';
    std::memcpy(buffer + at, mantissa, length);
    if (exponent != end) buffer[at + static_cast<std::size_t>(exponent - mantissa)] = 'e';
    double parsed = 0.0;
    const auto result = std::from_chars(buffer, buffer + at + length, parsed);
    if (result.ec != std::errc() || result.ptr != buffer + at + length) return false;
    value = parsed;
    return true;
}

// ---- construction ----

QNL_learnDataFile::QNL_learnDataFile(QNL_learnNetwork& owner) : QNL_learnDataSource(owner) {
    const QNL_learnOptions& options = owner.GetOptions();
    missingSign = options.GetString(MISSING_SIGN_IN_FILE);
    commentCharacter = options.GetString(COMMENT_CHARACTER);
    namesPresent = options.GetBool(NODE_NAMES_PRESENT);
    typesSpecified = options.GetBool(TYPES_SPECIFIED);
    usePreprocessFile = options.GetBool(USE_PREPROCESS_FILE);
    disablePreprocessFile = options.GetBool(DISABLE_PREPROCESS_FILE);
    maxDiscreteStates = options.GetInt(MAX_NUM_DISC_STATES);
    if (usePreprocessFile) {
        preprocessFileName = options.GetString(PREPROCESS_FILENAME);
        // The side file is a cache: one that cannot be read leaves the data file to be
        // scanned as if there were none.
        if (ReadPreprocessFile(preprocessFileName) == 0) return;
        if (owner.GetLogFlag())
            owner.Log() << "Cannot use the preprocess file " << preprocessFileName << ".\n";
        columns.clear();
        namesPresent = options.GetBool(NODE_NAMES_PRESENT);
        typesSpecified = options.GetBool(TYPES_SPECIFIED);
    }
    dataFileName = options.GetString(DATA_FILENAME);
    preprocessFileName = dataFileName + "." + options.GetString(PREPROCESS_SUFFIX);
    owner.SetStringOption("PREPROCESS_FILENAME", preprocessFileName);
}

// ---- reading ----

int QNL_learnDataFile::Read(int flag) {
    if (!(loaded && (flag & 1))) {
        if (const int code = Load()) return code;
        loaded = true;
    }
    if (const int code = HandToNodes()) return code;
    network->SetStringOption("DATA_FILENAME", dataFileName);
    return 0;
}

int QNL_learnDataFile::Load() {
    if (commentCharacter.empty()) return LogFailure("the comment character is empty");
    std::string text;
    if (!ReadWholeFile(dataFileName, text))
        return LogFailure("the data file " + dataFileName + " cannot be opened");
    if (fromPreprocessFile) {
        // A data file written after its side file may hold anything the side file does not
        // describe (other states, another type), even when its values fit.
        std::error_code dataError;
        std::error_code sideError;
        const auto dataTime = std::filesystem::last_write_time(dataFileName, dataError);
        const auto sideTime = std::filesystem::last_write_time(preprocessFileName, sideError);
        std::string problem = "the data file is newer";
        if (!dataError && !sideError && dataTime <= sideTime && LoadRecords(text, problem) == 0)
            return 0;
        // A data file changed since its side file was written is scanned afresh.
        if (network->GetLogFlag())
            network->Log() << "The preprocess file " << preprocessFileName
                           << " does not match its data file: " << problem << ".\n";
        fromPreprocessFile = false;
        columns.clear();
        namesPresent = network->GetOptions().GetBool(NODE_NAMES_PRESENT);
        typesSpecified = network->GetOptions().GetBool(TYPES_SPECIFIED);
    }
    if (const int code = Scan(text)) return code;
    if (!disablePreprocessFile) {
        // Writing the side file only saves a later scan; the read goes on without it.
        const bool written = SideFileCanCarry() && WritePreprocessFile(preprocessFileName) == 0;
        if (!written && network->GetLogFlag())
            network->Log() << "The preprocess file " << preprocessFileName << " was not written.\n";
    }
    std::string problem;
    return LoadRecords(text, problem) == 0 ? 0 : LogFailure(problem);
}

int QNL_learnDataFile::Scan(const std::string& text) {
    LineReader reader(text);
    comments.clear();
    std::string_view line;
    while (!reader.AtEnd() && reader.Peek() == commentCharacter[0] && reader.Next(line))
        comments.append(line).append("\n");
    std::vector<std::string_view> tokens;
    columns.clear();
    if (namesPresent) {
        if (!reader.NextValues(tokens))
            return LogFailure("the data file " + dataFileName + " has no line of column names");
        for (const std::string_view name : tokens)
            columns.push_back(Named(std::string(name)));
    }
    std::vector<int> types;
    if (typesSpecified) {
        if (!reader.NextValues(tokens))
            return LogFailure("the data file " + dataFileName + " has no line of column types");
        for (const std::string_view word : tokens) {
            types.push_back(TypeOf(word));
            if (types.back() < 0)
                return LogFailure("line " + std::to_string(reader.Line()) + " of " + dataFileName +
                                  ": " + Quoted(word) + " is not a column type");
        }
        if (columns.empty())
            for (std::size_t i = 0; i < types.size(); ++i)
                columns.push_back(Named("Column_" + std::to_string(i)));
        if (types.size() != columns.size())
            return LogFailure("line " + std::to_string(reader.Line()) + " of " + dataFileName +
                              " has " + std::to_string(types.size()) + " types for " +
                              std::to_string(columns.size()) + " columns");
    }
    // Per column: the states seen (dropped once a numeric column has too many to be
    // discrete), whether every value is a number, and the range of the numbers.
    struct Seen {
        std::unordered_map<std::string_view, int> index;
        bool numeric = true;
        bool collecting = true;
        bool any = false;
    };
    std::vector<Seen> seen;
    records = 0;
    while (reader.NextValues(tokens)) {
        if (columns.empty())
            for (std::size_t i = 0; i < tokens.size(); ++i)
                columns.push_back(Named("Column_" + std::to_string(i)));
        if (seen.empty()) {
            if (columns.size() > kMaxColumns)
                return LogFailure("the data file " + dataFileName + " has " +
                                  std::to_string(columns.size()) + " columns, more than the " +
                                  std::to_string(kMaxColumns) + " the engine takes");
            seen.resize(columns.size());
            for (std::size_t c = 0; c < columns.size(); ++c) {
                columns[c].discrete = types.empty() || types[c] != 2;
                columns[c].ordered = !types.empty() && types[c] != 0;
                seen[c].collecting = columns[c].discrete;
            }
        }
        if (tokens.size() != columns.size())
            return LogFailure("line " + std::to_string(reader.Line()) + " of " + dataFileName +
                              " has " + std::to_string(tokens.size()) + " values for " +
                              std::to_string(columns.size()) + " columns");
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::string_view token = tokens[c];
            Column& column = columns[c];
            Seen& s = seen[c];
            if (token == missingSign) {
                column.missing = true;
                continue;
            }
            double value = 0.0;
            const bool number = ParseNumber(token.data(), token.data() + token.size(), value);
            if (number && (!s.any || value < column.low)) column.low = value;
            if (number && (!s.any || value > column.high)) column.high = value;
            s.any = s.any || number;
            if (!number && s.numeric) {
                s.numeric = false;
                if (!types.empty() && types[c] == 2)
                    return LogFailure("line " + std::to_string(reader.Line()) + " of " +
                                      dataFileName + ": " + Quoted(token) +
                                      " in the continuous column " + column.name +
                                      " is not a number");
            }
            if (!s.collecting) continue;
            if (s.index.emplace(token, static_cast<int>(s.index.size())).second) {
                column.states.emplace_back(token);
                // Without declared types, a numeric column with many values is continuous.
                if (types.empty() && s.numeric &&
                    static_cast<int>(column.states.size()) > maxDiscreteStates) {
                    s.collecting = false;
                    s.index.clear();
                    column.states.clear();
                }
            }
        }
        ++records;
    }
    if (columns.empty())
        return LogFailure("the data file " + dataFileName + " has neither names nor records");

    if (columns.size() > kMaxColumns)
        return LogFailure("the data file " + dataFileName + " has more than " +
                          std::to_string(kMaxColumns) + " columns");
    seen.resize(columns.size());
    bool recollect = false;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        Column& column = columns[c];
        if (!seen[c].any) column.low = column.high = 0.0;
        if (types.empty() && !seen[c].collecting) {
            column.discrete = !seen[c].numeric;
            column.ordered = seen[c].numeric;
            recollect = recollect || column.discrete;
        }
    }
    if (!recollect) return 0;
    // A column that held many numbers and then a label is discrete after all: its states
    // are collected in a second pass.
    LineReader again(text);
    while (!again.AtEnd() && again.Peek() == commentCharacter[0] && again.Next(line)) {
    }
    if (namesPresent) again.NextValues(tokens);
    std::vector<std::unordered_map<std::string_view, int>> index(columns.size());
    while (again.NextValues(tokens))
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (seen[c].collecting || !columns[c].discrete || tokens[c] == missingSign) continue;
            if (index[c].emplace(tokens[c], static_cast<int>(index[c].size())).second)
                columns[c].states.emplace_back(tokens[c]);
        }
    return 0;
}

int QNL_learnDataFile::LoadRecords(const std::string& text, std::string& problem) {
    const auto LogFailure = [&problem](const std::string& message) {
        problem = message;
        return -1;
    };
    LineReader reader(text);
    std::string_view line;
    while (!reader.AtEnd() && reader.Peek() == commentCharacter[0] && reader.Next(line)) {
    }
    std::vector<std::string_view> tokens;
    if (namesPresent) {
        if (!reader.NextValues(tokens) || tokens.size() != columns.size())
            return LogFailure("the names of " + dataFileName + " do not match its columns");
        for (std::size_t c = 0; c < columns.size(); ++c)
            if (tokens[c] != columns[c].name)
                return LogFailure("column " + std::to_string(c) + " of " + dataFileName +
                                  " is named " + Quoted(tokens[c]) + ", not " + columns[c].name);
    }
    if (typesSpecified && !reader.NextValues(tokens))
        return LogFailure("the data file " + dataFileName + " has no line of column types");
    const std::size_t n = columns.size();
    std::vector<std::unordered_map<std::string_view, int>> stateOf(n);
    for (std::size_t c = 0; c < n; ++c)
        for (std::size_t s = 0; s < columns[c].states.size(); ++s)
            stateOf[c].emplace(columns[c].states[s], static_cast<int>(s));
    std::vector<std::vector<int>> discrete(n);
    std::vector<std::vector<double>> continuous(n);
    int count = 0;
    while (reader.NextValues(tokens)) {
        if (tokens.size() != n)
            return LogFailure("line " + std::to_string(reader.Line()) + " of " + dataFileName +
                              " has " + std::to_string(tokens.size()) + " values for " +
                              std::to_string(n) + " columns");
        for (std::size_t c = 0; c < n; ++c) {
            const std::string_view token = tokens[c];
            const bool missing = token == missingSign;
            if (columns[c].discrete) {
                int state = QNL_learnNetwork::MISSING;
                if (!missing) {
                    const auto at = stateOf[c].find(token);
                    if (at == stateOf[c].end())
                        return LogFailure("line " + std::to_string(reader.Line()) + " of " +
                                          dataFileName + ": " + Quoted(token) +
                                          " is no state of column " + columns[c].name);
                    state = at->second;
                }
                discrete[c].push_back(state);
                continue;
            }
            double value = QNL_learnNetwork::MISSING_CONTINUOUS;
            if (!missing && !ParseNumber(token.data(), token.data() + token.size(), value))
                return LogFailure("line " + std::to_string(reader.Line()) + " of " + dataFileName +
                                  ": " + Quoted(token) + " in the continuous column " +
                                  columns[c].name + " is not a number");
            continuous[c].push_back(value);
        }
        ++count;
    }
    if (fromPreprocessFile && count != records)
        return LogFailure("the data file " + dataFileName + " has " + std::to_string(count) +
                          " records, its preprocess file " + std::to_string(records));
    records = count;
    discreteData.assign(n, {});
    continuousData.assign(n, {});
    for (std::size_t c = 0; c < n; ++c) {
        if (columns[c].discrete)
            discreteData[c] = QNL_dataColumn<int>(std::move(discrete[c]));
        else
            continuousData[c] = QNL_dataColumn<double>(std::move(continuous[c]));
    }
    return 0;
}

int QNL_learnDataFile::HandToNodes() {
    QNL_learnNetwork& net = *network;
    net.RemoveAllNodes();
    net.trainingMask.clear();
    net.testingMask.clear();
    net.dataIncomplete = false;
    net.continuousData = false;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const Column& column = columns[c];
        const int index = net.CreateNode(column.name);
        if (index < 0) {
            net.RemoveAllNodes();
            return LogFailure("node " + column.name + " cannot be made");
        }
        QNL_learnNode& node = *net.GetNode(index);
        net.dataIncomplete = net.dataIncomplete || column.missing;
        if (!column.discrete) {
            node.SetContinuousData(continuousData[c]);
            net.continuousData = true;
            continue;
        }
        // Every node has two states at least.
        std::vector<std::string> states = column.states;
        while (states.size() < 2)
            states.push_back(states.empty() || states.back() != "_unobserved"
                                 ? "_unobserved"
                                 : "_unobserved_" + std::to_string(states.size()));
        node.SetDiscreteData(std::move(states), discreteData[c]);
    }
    net.RebuildPriorMap();
    return 0;
}

// ---- the preprocess file ----

bool QNL_learnDataFile::SideFileCanCarry() const {
    // Names are read back as words and the comment text up to the file name's tag.
    const auto word = [](const std::string& text) {
        if (text.empty()) return false;
        for (const char c : text)
            if (IsBlank(c)) return false;
        return true;
    };
    if (!word(dataFileName) || comments.find("<filename>") != std::string::npos) return false;
    for (const Column& column : columns) {
        if (!word(column.name)) return false;
        for (const std::string& state : column.states)
            if (!word(state)) return false;
    }
    return true;
}

int QNL_learnDataFile::WritePreprocessFile(const std::string& path) const {
    std::ostringstream out;
    const std::string dashes = "//" + std::string(64, '-') + "\n";
    out << "<comments>\n      " << comments << "\n";
    out << "<filename>        " << dataFileName << "\n";
    out << "<num_records>     " << records << "\n";
    out << "<num_variables>   " << columns.size() << "\n";
    out << "<header_present>  " << (namesPresent ? "yes" : "no") << "\n";
    out << "<types_specified> " << (typesSpecified ? "yes" : "no");
    out << "\n\n" << dashes << "//Detailed column information\n" << dashes << "\n\n";
    out << "<column-info>\n\n";
    for (const Column& column : columns) {
        out << "<var_name>                   " << column.name << "\n";
        out << "<missing-data>               " << (column.missing ? "yes" : "no") << "\n";
        if (column.discrete) {
            out << "<type>                       discrete-"
                << (column.ordered ? "ordinal\n" : "categorical\n");
            out << "<num_states>                 " << column.states.size() << "\n";
            out << "<state-names>                ";
            for (const std::string& state : column.states)
                out << state << ' ';
            out << "\n\n";
        } else {
            out << "<type>                       continuous\n";
            out << "<range>                      " << Shortest(column.low) << ' '
                << Shortest(column.high) << "\n\n";
        }
    }
    // Written beside the target and renamed over it, so a failed write leaves no half file.
    const std::string text = out.str();
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return -1;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return -1;
    }
    return 0;
}

namespace {

// Words of a preprocess file, and its tags: "<name>" with the brackets dropped.
class WordReader {
public:
    explicit WordReader(const std::string& text) : text(text) {}
    bool Word(std::string& out) {
        while (at < text.size() && IsBlank(text[at]))
            ++at;
        const std::size_t start = at;
        while (at < text.size() && !IsBlank(text[at]))
            ++at;
        out.assign(text, start, at - start);
        return at > start;
    }
    // The banner lines between tags ("//" to the line's end) are passed over.
    bool Tag(std::string& out) {
        if (!Word(out)) return false;
        while (out.compare(0, 2, "//") == 0) {
            while (at < text.size() && text[at] != '\n' && text[at] != '\r')
                ++at;
            if (!Word(out)) return false;
        }
        if (!out.empty() && out.front() == '<') out.erase(0, 1);
        if (!out.empty() && out.back() == '>')
            out.pop_back();
        else if (at < text.size() && text[at] == '>')
            ++at;
        return true;
    }
    bool Count(long long limit, long long& out) {
        std::string word;
        if (!Word(word)) return false;
        const auto result = std::from_chars(word.data(), word.data() + word.size(), out);
        return result.ec == std::errc() && result.ptr == word.data() + word.size() && out >= 0 &&
               out <= limit;
    }
    bool SkipTo(const std::string& marker) {
        const std::size_t found = text.find(marker, at);
        if (found == std::string::npos) return false;
        at = found;
        return true;
    }

private:
    const std::string& text;
    std::size_t at = 0;
};

} // namespace

int QNL_learnDataFile::ReadPreprocessFile(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text))
        return LogFailure("the preprocess file " + path + " cannot be opened");
    // A file that fails leaves the object as it was.
    const std::string savedName = dataFileName;
    const bool savedNames = namesPresent;
    const bool savedTypes = typesSpecified;
    const int savedRecords = records;
    const auto fail = [&](const std::string& what) {
        dataFileName = savedName;
        namesPresent = savedNames;
        typesSpecified = savedTypes;
        records = savedRecords;
        return LogFailure("the preprocess file " + path + " " + what);
    };
    static const char* const kTags[] = {"num_records",    "num_variables",   "filename",
                                        "header_present", "types_specified", "column-info",
                                        "comments"};
    WordReader reader(text);
    std::string tag;
    std::string word;
    long long number = 0;
    long long variables = -1;
    bool named = false;
    records = 0;
    for (;;) {
        if (!reader.Tag(tag)) return fail("ends before its column information");
        int code = -1;
        for (int t = 0; t < 7; ++t)
            if (tag == kTags[t]) code = t;
        if (code == 5) break;
        switch (code) {
        case 0:
            if (!reader.Count(2147483647, number)) return fail("has a bad record count");
            records = static_cast<int>(number);
            break;
        case 1:
            if (!reader.Count(kMaxColumns, variables) || variables < 1)
                return fail("has a bad number of variables");
            break;
        case 2:
            if (!reader.Word(dataFileName)) return fail("has no data file name");
            named = true;
            break;
        case 3:
        case 4:
            if (!reader.Word(word) || (word != "yes" && word != "no"))
                return fail("has a switch that is neither yes nor no");
            (code == 3 ? namesPresent : typesSpecified) = word == "yes";
            break;
        case 6:
            if (!reader.SkipTo("<filename>")) return fail("has no data file name");
            break;
        default:
            return fail("holds the unknown tag " + Quoted(tag));
        }
    }
    if (!named || variables < 0) return fail("names no data file or no number of variables");
    std::vector<Column> read;
    for (long long c = 0; c < variables; ++c) {
        Column column;
        const auto expect = [&](const char* name) { return reader.Tag(tag) && tag == name; };
        if (!expect("var_name") || !reader.Word(column.name) || !expect("missing-data") ||
            !reader.Word(word))
            return fail("has a broken block for column " + std::to_string(c));
        column.missing = word == "yes";
        if (!expect("type") || !reader.Word(word) || TypeOf(word) < 0)
            return fail("has no type for column " + column.name);
        column.discrete = TypeOf(word) != 2;
        column.ordered = TypeOf(word) != 0;
        if (!reader.Tag(tag)) return fail("ends inside the block of column " + column.name);
        if (tag == "num_states" && column.discrete) {
            if (!reader.Count(2147483647, number) || !reader.Tag(tag))
                return fail("has a bad state count for column " + column.name);
            for (long long s = 0; s < number; ++s) {
                if (!reader.Word(word)) return fail("ends inside the states of " + column.name);
                column.states.push_back(word);
            }
        } else if (tag == "range" && !column.discrete) {
            std::string low;
            std::string high;
            if (!reader.Word(low) || !reader.Word(high) ||
                !ParseNumber(low.data(), low.data() + low.size(), column.low) ||
                !ParseNumber(high.data(), high.data() + high.size(), column.high))
                return fail("has a bad range for column " + column.name);
        } else {
            return fail("holds " + Quoted(tag) + " where column " + column.name +
                        " needs its states or range");
        }
        read.push_back(std::move(column));
    }
    columns = std::move(read);
    fromPreprocessFile = true;
    loaded = false;
    return 0;
}

// ---- the network's entry ----

int QNL_learnNetwork::ReadDataFile(QNL_learnDataSource* source) {
    if (source != nullptr) return source->Read(0);
    QNL_learnDataFile file(*this);
    return file.Read(0);
}

int QNL_learnNetwork::ReadData(const std::string& fileName) {
    options.SetString(DATA_FILENAME, fileName);
    return ReadDataFile(nullptr);
}
