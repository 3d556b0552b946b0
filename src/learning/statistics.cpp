#include "learning/statistics.h"

#include "numerics/random.h"

#include <cmath>

namespace QNL_statistics {

namespace {

constexpr int kMaxIterations = 100;
constexpr float kEpsilon = 3e-7f;
constexpr float kTiny = 1e-30f;

// The prefactor x^a e^-x / Gamma(a) shared by both forms.
float GammaPrefactor(float a, float x) {
    return std::exp(-x + a * std::log(x) - static_cast<float>(LogGamma(a)));
}

// The generator: multiplier 16807 modulo 2^31 - 1 stepped by Schrage's method, so no
// intermediate leaves 32 bits, and a Bays-Durham shuffle of 32 entries.
constexpr int kMultiplier = 16807;
constexpr int kModulus = 2147483647;
constexpr int kQuotient = 127773; // kModulus / kMultiplier
constexpr int kRemainder = 2836;  // kModulus % kMultiplier
constexpr int kTableSize = 32;
constexpr int kDivisor = 1 + (kModulus - 1) / kTableSize;
constexpr double kScale = 1.0 / kModulus;
constexpr double kLargest = 0.99999988;

struct GeneratorState {
    int table[kTableSize] = {};
    int last = 0; // 0 until the table is loaded
    bool hasSecondNormal = false;
    float secondNormal = 0.0f;
};

GeneratorState& State() {
    static GeneratorState state;
    return state;
}

void Step(int& seed) {
    const int k = seed / kQuotient;
    seed = kMultiplier * (seed - k * kQuotient) - kRemainder * k;
    if (seed < 0) seed += kModulus;
}

} // namespace

double LogGamma(double x) {
    return ::LogGamma(x);
}

float IncompleteGammaSeries(float a, float x) {
    if (x <= 0.0f) return 0.0f;
    float ap = a;
    float del = 1.0f / a;
    float sum = del;
    for (int n = 1; n <= kMaxIterations; ++n) {
        ap += 1.0f;
        del *= x / ap;
        sum += del;
        if (std::fabs(del) < std::fabs(sum) * kEpsilon) break;
    }
    return sum * GammaPrefactor(a, x);
}

float IncompleteGammaFraction(float a, float x) {
    // Lentz's method on the continued fraction of Q.
    float b = x + 1.0f - a;
    float c = 1.0f / kTiny;
    float d = 1.0f / b;
    float h = d;
    for (int i = 1; i <= kMaxIterations; ++i) {
        const float an = -i * (i - a);
        b += 2.0f;
        d = an * d + b;
        if (std::fabs(d) < kTiny) d = kTiny;
        c = b + an / c;
        if (std::fabs(c) < kTiny) c = kTiny;
        d = 1.0f / d;
        const float delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0f) < kEpsilon) break;
    }
    return GammaPrefactor(a, x) * h;
}

double UpperIncompleteGamma(float a, float x) {
    if (!(x >= 0.0f) || !(a > 0.0f)) return -1.0;
    if (x < a + 1.0f) return 1.0 - IncompleteGammaSeries(a, x);
    return IncompleteGammaFraction(a, x);
}

double NormalCdf(double x) {
    if (x > 6.0) return 1.0;
    if (x < -6.0) return 0.0;
    const double t = 1.0 / (1.0 + 0.2316419 * std::fabs(x));
    const double q = 0.3989423 * std::exp(-x * x / 2.0) * t *
                     (0.31938153 + t * (-0.356563782 +
                                        t * (1.781477937 + t * (-1.821255978 + t * 1.330274429))));
    return x >= 0.0 ? 1.0 - q : q;
}

double UniformRandom(int& seed) {
    GeneratorState& s = State();
    if (seed <= 0 || s.last == 0) {
        // max(1, -seed), kept inside 1 .. 2^31 - 2: a multiple of the modulus would stay 0.
        const long long start = seed < -1 ? -static_cast<long long>(seed) % kModulus : 1;
        seed = start == 0 ? 1 : static_cast<int>(start);
        // The first 8 steps warm the generator up; the next 32 fill the table from its end.
        for (int j = kTableSize + 7; j >= 0; --j) {
            Step(seed);
            if (j < kTableSize) s.table[j] = seed;
        }
        s.last = s.table[0];
    }
    Step(seed);
    const int j = s.last / kDivisor;
    s.last = s.table[j];
    s.table[j] = seed;
    const double value = kScale * s.last;
    return value > kLargest ? kLargest : value;
}

double NormalRandom(int& seed) {
    GeneratorState& s = State();
    if (seed <= 0) s.hasSecondNormal = false;
    if (s.hasSecondNormal) {
        s.hasSecondNormal = false;
        return s.secondNormal;
    }
    double p, q, r;
    do {
        p = 2.0 * UniformRandom(seed) - 1.0;
        q = 2.0 * UniformRandom(seed) - 1.0;
        r = p * p + q * q;
    } while (r >= 1.0 || r == 0.0);
    const double f = std::sqrt(-2.0 * std::log(r) / r);
    s.secondNormal = static_cast<float>(p * f);
    s.hasSecondNormal = true;
    return q * f;
}

double NormalRandomScaled(double mean, double deviation, int& seed) {
    return mean + deviation * NormalRandom(seed);
}

int RandomInt(int low, int high, int& seed) {
    return low + static_cast<int>(UniformRandom(seed) * (static_cast<double>(high) - low));
}

} // namespace QNL_statistics
