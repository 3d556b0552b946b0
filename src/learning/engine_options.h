#pragma once

#include <string>
#include <vector>

// The typed option block of a learning-engine network: bools, ints, doubles and strings, each
// addressed by its index within its type or, through the engine network, by a key. Every key
// names exactly one option of one type.
class QNL_learnOptions {
public:
    enum Type { BOOL, INT, DOUBLE, STRING };

    // The sizes the engine network uses.
    static constexpr int kBools = 8;
    static constexpr int kInts = 13;
    static constexpr int kDoubles = 6;
    static constexpr int kStrings = 5;

    // Blocks of the engine's sizes start at the engine's defaults; other sizes start at
    // false, 0, 0.0 and "".
    QNL_learnOptions(int bools = kBools, int ints = kInts, int doubles = kDoubles,
                     int strings = kStrings);

    // Back to the engine's defaults (for the options the block has room for).
    void SetDefaults();

    // 0, or -2 for an index outside the array of that type.
    int SetBool(int index, bool value);
    int SetInt(int index, int value);
    int SetDouble(int index, double value);
    int SetString(int index, const std::string& text);

    // Unchecked: the index must lie inside the array of that type.
    bool GetBool(int index) const { return bools[static_cast<std::size_t>(index)]; }
    int GetInt(int index) const { return ints[static_cast<std::size_t>(index)]; }
    double GetDouble(int index) const { return doubles[static_cast<std::size_t>(index)]; }
    const std::string& GetString(int index) const {
        return strings[static_cast<std::size_t>(index)];
    }
    int GetNumberOf(Type type) const;

    // The key's index within its type, -1 for a key not in the table (keys are
    // case-sensitive); `type` receives the key's type when given.
    static int IndexOf(const std::string& key, Type* type = nullptr);

private:
    std::vector<bool> bools;
    std::vector<int> ints;
    std::vector<double> doubles;
    std::vector<std::string> strings;
};

// Indices of the options the engine reads.
namespace QNL_learnOption {
enum Bool {
    EM_INITIALIZE_W_PRIOR_NET,
    EM_USE_RANDOM_INIT_PARAMS,
    UPDATE_QNL_EQUIV_SAMPLE_SIZES,
    PREFER_CONT_DATA,
    NODE_NAMES_PRESENT,
    TYPES_SPECIFIED,
    USE_PREPROCESS_FILE,
    DISABLE_PREPROCESS_FILE,
};
enum Int {
    INCOMPLETE_DATA_METHOD,
    EM_MAX_ITERATIONS,
    RESTARTS_NUM_OR_TIME,
    NUM_RESTARTS,
    BESTF_GOBACK_NUM,
    CRITERION,
    PARAM_PRIORS_METHOD,
    MAX_NUM_DISC_STATES,
    DISCRETE_METHOD,
    NUM_DISC_LEVELS,
    PC_MAX_ADJACENCY_SIZE,
    DISC_INDEPENDENCE_TEST,
    // No key: parent configurations seen in fewer records are estimated from the prior alone.
    MIN_RECORDS_PER_CONFIGURATION,
};
enum Double {
    PC_MAX_TIME,
    EM_CONV_FACTOR,
    PC_SIG_LEVEL,
    TOTAL_SEARCH_TIME,
    EQUIV_SAMPLE_SIZE,
    MIN_GREEDY_DELTA,
};
enum String {
    MISSING_SIGN_IN_FILE,
    DATA_FILENAME,
    PREPROCESS_SUFFIX,
    PREPROCESS_FILENAME,
    COMMENT_CHARACTER,
};
} // namespace QNL_learnOption
