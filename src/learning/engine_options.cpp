#include "learning/engine_options.h"

#include <unordered_map>
#include <utility>

namespace {

struct KeyEntry {
    QNL_learnOptions::Type type;
    int index;
};

const std::unordered_map<std::string, KeyEntry>& KeyTable() {
    using T = QNL_learnOptions;
    static const std::unordered_map<std::string, KeyEntry> table = {
        {"EM_INITIALIZE_W_PRIOR_NET", {T::BOOL, 0}},
        {"EM_USE_RANDOM_INIT_PARAMS", {T::BOOL, 1}},
        {"UPDATE_QNL_EQUIV_SAMPLE_SIZES", {T::BOOL, 2}},
        {"PREFER_CONT_DATA", {T::BOOL, 3}},
        {"NODE_NAMES_PRESENT", {T::BOOL, 4}},
        {"TYPES_SPECIFIED", {T::BOOL, 5}},
        {"USE_PREPROCESS_FILE", {T::BOOL, 6}},
        {"DISABLE_PREPROCESS_FILE", {T::BOOL, 7}},
        {"INCOMPLETE_DATA_METHOD", {T::INT, 0}},
        {"EM_MAX_ITERATIONS", {T::INT, 1}},
        {"RESTARTS_NUM_OR_TIME", {T::INT, 2}},
        {"NUM_RESTARTS", {T::INT, 3}},
        {"BESTF_GOBACK_NUM", {T::INT, 4}},
        {"CRITERION", {T::INT, 5}},
        {"PARAM_PRIORS_METHOD", {T::INT, 6}},
        {"MAX_NUM_DISC_STATES", {T::INT, 7}},
        {"DISCRETE_METHOD", {T::INT, 8}},
        {"NUM_DISC_LEVELS", {T::INT, 9}},
        {"PC_MAX_ADJACENCY_SIZE", {T::INT, 10}},
        {"DISC_INDEPENDENCE_TEST", {T::INT, 11}},
        {"PC_MAX_TIME", {T::DOUBLE, 0}},
        {"EM_CONV_FACTOR", {T::DOUBLE, 1}},
        {"PC_SIG_LEVEL", {T::DOUBLE, 2}},
        {"TOTAL_SEARCH_TIME", {T::DOUBLE, 3}},
        {"EQUIV_SAMPLE_SIZE", {T::DOUBLE, 4}},
        {"MIN_GREEDY_DELTA", {T::DOUBLE, 5}},
        {"MISSING_SIGN_IN_FILE", {T::STRING, 0}},
        {"DATA_FILENAME", {T::STRING, 1}},
        {"PREPROCESS_SUFFIX", {T::STRING, 2}},
        {"PREPROCESS_FILENAME", {T::STRING, 3}},
        {"COMMENT_CHARACTER", {T::STRING, 4}},
    };
    return table;
}

template <typename T> void FillDefaults(std::vector<T>& values, std::initializer_list<T> defaults) {
    std::size_t i = 0;
    for (const T& value : defaults) {
        if (i == values.size()) return;
        values[i++] = value;
    }
}

template <typename V, typename T> int SetAt(V& values, int index, T&& value) {
    if (index < 0 || static_cast<std::size_t>(index) >= values.size()) return -2;
    values[static_cast<std::size_t>(index)] = std::forward<T>(value);
    return 0;
}

std::size_t Count(int n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

} // namespace

QNL_learnOptions::QNL_learnOptions(int nBools, int nInts, int nDoubles, int nStrings)
    : bools(Count(nBools)), ints(Count(nInts)), doubles(Count(nDoubles)), strings(Count(nStrings)) {
    if (nBools == kBools && nInts == kInts && nDoubles == kDoubles && nStrings == kStrings)
        SetDefaults();
}

void QNL_learnOptions::SetDefaults() {
    FillDefaults(bools, {false, true, false, true, true, false, false, false});
    FillDefaults(ints, {1, 20, 0, 5, 10, 0, 2, 8, 0, 3, 8, 0, 0});
    FillDefaults(doubles, {1e6, 0.1, 0.05, 60000.0, 10.0, 0.0});
    FillDefaults(strings, {std::string("*"), std::string("-"), std::string("vmq"), std::string("-"),
                           std::string("*")});
}

int QNL_learnOptions::SetBool(int index, bool value) {
    return SetAt(bools, index, value);
}

int QNL_learnOptions::SetInt(int index, int value) {
    return SetAt(ints, index, value);
}

int QNL_learnOptions::SetDouble(int index, double value) {
    return SetAt(doubles, index, value);
}

int QNL_learnOptions::SetString(int index, const std::string& text) {
    return SetAt(strings, index, text);
}

int QNL_learnOptions::GetNumberOf(Type type) const {
    switch (type) {
    case BOOL:
        return static_cast<int>(bools.size());
    case INT:
        return static_cast<int>(ints.size());
    case DOUBLE:
        return static_cast<int>(doubles.size());
    default:
        return static_cast<int>(strings.size());
    }
}

int QNL_learnOptions::IndexOf(const std::string& key, Type* type) {
    const auto& table = KeyTable();
    const auto found = table.find(key);
    if (found == table.end()) return -1;
    if (type != nullptr) *type = found->second.type;
    return found->second.index;
}
