#include "numerics/random.h"

#include <cmath>
#include <ctime>

void QNL_random::Seed(unsigned seed) {
    if (seed == 0) {
        const auto millis = static_cast<std::uint32_t>(
            static_cast<unsigned long long>(std::clock()) * 1000ull / CLOCKS_PER_SEC);
        state = static_cast<std::uint32_t>(std::time(nullptr)) ^ millis;
    } else {
        state = seed;
    }
    // A bijection of the seed, so that different seeds start the second stream apart.
    fine = Mix(state ^ 0xD1B54A32D192ED03ull);
}

namespace {
struct ProcessGenerators {
    QNL_random unused;
    QNL_random mixtures;
    QNL_random samplingNodes;
    QNL_random samplingDistributions;
};

ProcessGenerators& Generators() {
    static ProcessGenerators generators;
    return generators;
}

// Seeds the process-wide generators while the library loads, in their documented order.
ProcessGenerators& loadTimeGenerators = Generators();
} // namespace

QNL_random& QNL_randomUnused() {
    return Generators().unused;
}
QNL_random& QNL_randomMixtures() {
    return Generators().mixtures;
}
QNL_random& QNL_randomSamplingNodes() {
    return Generators().samplingNodes;
}
QNL_random& QNL_randomSamplingDistributions() {
    return Generators().samplingDistributions;
}

QNL_random& QNL_randomUniform() {
    static QNL_random generator(0);
    return generator;
}

double UniformDraw() {
    return QNL_randomUniform().Next();
}

double PositiveDraw(QNL_random& random) {
    const std::uint32_t high = random.NextBits();
    const auto low = static_cast<std::uint32_t>(random.NextFineBits() >> 49);
    return static_cast<double>((high << 15 | low) + 1u) / 1073741824.0;
}

double OpenDraw(QNL_random& random) {
    const std::uint32_t high = random.NextBits();
    const std::uint64_t fine = random.NextFineBits();
    const std::uint32_t cell = high << 15 | static_cast<std::uint32_t>(fine >> 49);
    const double third = static_cast<double>(fine >> 34 & 0x7FFFu);
    if (cell == 0) return (third + 0.5) * 0x1p-45;
    if (cell == 0x3FFFFFFFu) return 1.0 - (third + 0.5) * 0x1p-45;
    return (cell + 0.5) * 0x1p-30;
}

// Box and Muller's transform: a 30-bit radius and a 15-bit angle, which leave nothing beyond
// about 6.45 sd. A centred sum of twelve uniforms, as these draws once were, has lighter tails
// than the normal density the samplers weigh every draw by, and that mismatch biased
// posteriors by an amount no number of samples took away. Only the radius's first 15 bits
// come from the recurrence: its next numbers follow from that one and 16 more bits of state,
// which drew the tails beyond 4.56 sd, where the first number is 0, at the wrong frequencies.
double StandardNormalDraw(QNL_random& random) {
    const std::uint32_t high = random.NextBits();
    const std::uint64_t fine = random.NextFineBits();
    const double u1 =
        static_cast<double>((high << 15 | static_cast<std::uint32_t>(fine >> 49)) + 1u) * 0x1p-30;
    const double u2 = static_cast<double>(fine >> 34 & 0x7FFFu) / 32767.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * Pi() * u2);
}

double NormalDraw(double mean, double sd) {
    return mean + sd * StandardNormalDraw(QNL_randomUniform());
}

double LogGamma(double x) {
    static const double coefficients[6] = {76.18009172947146,    -86.50532032941678,
                                           24.01409824083091,    -1.231739572450155,
                                           0.001208650973866179, -5.395239384953e-06};
    double tmp = x + 5.5;
    tmp -= (x + 0.5) * std::log(tmp);
    double series = 1.000000000190015;
    for (int j = 0; j < 6; ++j)
        series += coefficients[j] / (x + j + 1);
    return std::log(2.5066282746310007 * series / x) - tmp;
}

double Beta(double a, double b) {
    return std::exp(LogGamma(a) + LogGamma(b) - LogGamma(a + b));
}

double BetaDensity(double x, double a, double b) {
    return std::pow(1.0 - x, b - 1.0) * std::pow(x, a - 1.0) / Beta(a, b);
}

double Pi() {
    return 3.141592653589793;
}

double Exp(double argument) {
    return std::exp(argument);
}

namespace quarn::detail {

// The threshold's place within U's cell, in units of 2^-64 of the cell: scaling by powers of
// two is exact, and so is taking the cell's index off a place that lies within that cell (the
// two are within a factor of two), so no rounding moves a threshold across U.
bool FineUniform::BelowWithinCell(double threshold) {
    if (!refined) {
        fine = random->NextFineBits();
        refined = true;
    }
    const double place = std::ldexp(threshold * 0x1p15 - first, 64);
    const auto whole = static_cast<std::uint64_t>(place);
    return fine < whole || (fine == whole && place > static_cast<double>(whole));
}

int FirstAboveWithinCell(const double* probabilities, int n, int i, double running,
                         std::uint32_t first, QNL_random& random) {
    FineUniform u(random, first);
    for (;;) {
        if (u.Below(running)) return i;
        if (++i == n) return -1;
        running += probabilities[i];
    }
}

} // namespace quarn::detail
