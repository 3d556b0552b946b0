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
    const std::uint32_t low = random.NextBits();
    return static_cast<double>((high << 15 | low) + 1u) / 1073741824.0;
}

double OpenDraw(QNL_random& random) {
    const std::uint32_t high = random.NextBits();
    const std::uint32_t cell = high << 15 | random.NextBits();
    if (cell == 0) return (random.NextBits() + 0.5) * 0x1p-45;
    if (cell == 0x3FFFFFFFu) return 1.0 - (random.NextBits() + 0.5) * 0x1p-45;
    return (cell + 0.5) * 0x1p-30;
}

// Box and Muller's transform: a 30-bit radius and a 15-bit angle, which leave nothing beyond
// about 6.45 sd. A centred sum of twelve uniforms, as these draws once were, has lighter tails
// than the normal density the samplers weigh every draw by, and that mismatch biased
// posteriors by an amount no number of samples took away.
double StandardNormalDraw(QNL_random& random) {
    const double u1 = PositiveDraw(random);
    const double u2 = random.Next();
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

// The threshold's place within U's cell, in units of the next, finer cell: scaling by 2^15 is
// exact, and so is taking a cell's index off a place that lies within that cell (the two are
// within a factor of two), so no rounding ever moves a threshold across a cell boundary.
bool FineUniform::BelowWithinCell(double threshold) {
    double place = threshold * 0x1p15 - digits[0];
    for (int d = 1; d < DIGITS; ++d) {
        if (d == read) digits[read++] = random->NextBits();
        place *= 0x1p15;
        const double cell = digits[d];
        if (place <= cell) return false;
        if (place >= cell + 1.0) return true;
        place -= cell;
    }
    // Inside the last part, 2^-60 wide: U is taken at its lower end.
    return true;
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
