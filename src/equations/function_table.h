#pragma once

#include <string_view>

// The evaluated arguments of one call of a built-in function: each value already carries the
// sign of its argument node; count says how many of the slots are in use.
struct QNL_argumentBlock {
    static constexpr int MAX_ARGUMENTS = 30;
    double values[MAX_ARGUMENTS] = {};
    int count = 0;
};

// One built-in function of the equation language. A function with a density is a probability
// distribution: its evaluate entry draws a random number from the generator behind
// UniformDraw, so tests make draws repeatable by seeding QNL_randomUniform().
struct QNL_functionRecord {
    const char* name;
    // n >= 0: exactly n arguments; -m: at least m and at most MAX_ARGUMENTS.
    int parameterCount;
    double (*evaluate)(const QNL_argumentBlock& args);
    // Scaled to 1 at the mode for most distributions: a relative weight, comparable only
    // between points of one set of arguments.
    double (*density)(double x, const QNL_argumentBlock& args);
    void (*moments)(double& mean, double& variance, const QNL_argumentBlock& args);
    // The density proper (probability mass for Bernoulli and Binomial). Likelihood weights
    // whose arguments change from sample to sample must use this one, since the scale of the
    // relative density changes with them.
    double (*normalisedDensity)(double x, const QNL_argumentBlock& args);
    // The density proper divided by the probability the distribution gives [lower, upper],
    // for an x inside it: the density of a draw renormalised within a node's range. Exactly
    // the density proper where the range holds the whole distribution to double precision.
    double (*densityWithin)(double x, double lower, double upper, const QNL_argumentBlock& args);
    // A draw of that renormalised density into out: 0 when drawn, by inverting the distribution
    // function on one uniform number however little of the distribution the range keeps, or
    // plainly where no plain draw can leave the range; 1 for arguments the plain draw alone
    // answers (the caller draws again until a value falls inside); -2 for a range that holds
    // none of the distribution's mass.
    int (*drawWithin)(double lower, double upper, const QNL_argumentBlock& args, double& out);

    // A distribution has a density; plain functions only evaluate.
    bool IsDistribution() const { return density != nullptr; }
};

constexpr int QNL_FUNCTION_COUNT = 26;

// Sorted by name without regard to letter case, so lookups can bisect.
extern const QNL_functionRecord QNL_functionTable[QNL_FUNCTION_COUNT];

// Evaluate entries in pairs: entry i and entry i ^ 1 are inverse to each other.
extern double (*const QNL_inverseFunctionPairs[12])(const QNL_argumentBlock&);

// The record whose name matches without regard to case, or null.
const QNL_functionRecord* FindFunction(std::string_view name);

// The one-argument function that undoes f (Sin for Asin, Sqrt for Sqr, ...), or null.
const QNL_functionRecord* FindInverseFunction(const QNL_functionRecord& f);
