#include "numerics/gaussian_mixture.h"

#include "numerics/distribution_functions.h"
#include "numerics/random.h"
#include "numerics/truncated_normal.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kTwoPi = 6.2831853076;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

double Uniform() {
    return QNL_randomMixtures().Next();
}

// Whether the density counts a component: any positive width, since a threshold on the
// variance would depend on the unit the values are measured in.
bool Counted(const QNL_gaussianMixture::Component& c) {
    return c.weight > 1e-7 && c.variance > 0.0 && std::isfinite(c.weight) &&
           std::isfinite(c.variance);
}

// A uniform number moved by `shift` off the ends of [0, 1].
double ShiftedUniform(double shift) {
    const double u = Uniform();
    if (u == 0.0) return u + shift;
    if (u == 1.0) return u - shift;
    return u;
}

// Normal, as the density every draw is weighed by.
double StandardDraw() {
    return StandardNormalDraw(QNL_randomMixtures());
}

// The entry at which u falls within the running sum of probabilities, among those of
// probability above `minimum`; else (a sum that rounding left short of u) the last of
// probability at least `minimum`; else the
// entry of largest probability, so that a list without an eligible entry still gives one.
// Entries of a negative, infinite or NaN variance are never taken, nor of variance 0 where
// `positive` asks for a precision. -1 only when no entry is left.
template <typename Probability, typename Variance>
int Select(int n, Probability probability, Variance variance, double u, double minimum,
           bool positive) {
    auto usable = [&](double v) { return (positive ? v > 0.0 : v >= 0.0) && v < kInfinity; };
    double running = 0.0;
    for (int i = 0; i < n; ++i) {
        running += probability(i);
        if (probability(i) > minimum && usable(variance(i)) && u <= running) return i;
    }
    for (int i = n - 1; i >= 0; --i)
        if (probability(i) >= minimum && usable(variance(i))) return i;
    int best = -1;
    for (int i = 0; i < n; ++i)
        if (usable(variance(i)) && (best < 0 || probability(i) > probability(best))) best = i;
    return best;
}

int SelectComponent(const QNL_gaussianMixture& mixture, double u, bool positive) {
    const auto& c = mixture.components;
    return Select(
        static_cast<int>(c.size()), [&](int i) { return c[static_cast<std::size_t>(i)].weight; },
        [&](int i) { return c[static_cast<std::size_t>(i)].variance; }, u, 1e-7, positive);
}

// The weighted mean and variance of samples [begin, end); false when they weigh nothing.
bool BlockMoments(const std::vector<QNL_weightedSample>& samples, std::size_t begin,
                  std::size_t end, double& mean, double& variance) {
    double total = 0.0, sum = 0.0;
    for (std::size_t s = begin; s < end; ++s) {
        total += samples[s].weight;
        sum += samples[s].weight * samples[s].value;
    }
    if (!(total > 0.0)) return false;
    mean = sum / total;
    double squares = 0.0;
    for (std::size_t s = begin; s < end; ++s) {
        const double d = samples[s].value - mean;
        squares += samples[s].weight * d * d;
    }
    variance = squares / total;
    return true;
}

} // namespace

void QNL_gaussianMixture::Assign(const QNL_gaussianMixture& other) {
    tolerance = other.tolerance;
    variancePrior = other.variancePrior;
    components = other.components;
}

double QNL_gaussianMixture::Normal(double x, double mean, double variance) {
    if (!(variance > 0.0)) return 0.0;
    const double d = x - mean;
    return std::exp(-(d * d) / (2.0 * variance)) / std::sqrt(kTwoPi * variance);
}

double QNL_gaussianMixture::Density(double x) const {
    if (count < 1) return 0.0;
    double sum = 0.0;
    for (const Component& c : components)
        if (Counted(c)) sum += c.weight * Normal(x, c.mean, c.variance);
    return sum;
}

double QNL_gaussianMixture::LogLikelihood(const std::vector<QNL_weightedSample>& samples) const {
    double sum = 0.0;
    for (const QNL_weightedSample& s : samples) {
        double p = 0.0;
        for (const Component& c : components)
            if (c.weight > 1e-7) p += c.weight * Normal(s.value, c.mean, c.variance);
        if (p > 0.0 && std::isfinite(p)) sum += s.weight * std::log(p);
    }
    return sum;
}

int QNL_gaussianMixture::Fit(const std::vector<QNL_weightedSample>& samples) {
    if (count < 1 || samples.empty()) return 0;
    const std::size_t n = samples.size();
    const std::size_t k = static_cast<std::size_t>(count);
    double totalWeight = 0.0;
    for (const QNL_weightedSample& s : samples)
        totalWeight += s.weight;
    if (!(totalWeight > 0.0) || !std::isfinite(totalWeight)) return 0;
    double overallMean = 0.0, overallVariance = 1.0;
    BlockMoments(samples, 0, n, overallMean, overallVariance);
    // The variance prior acts as variancePrior samples' worth of weight spread as the whole
    // set is: a component's variance is drawn towards the set's variance by its own weight,
    // so that the fit depends neither on the scale of the weights nor on the unit of the
    // values, and a component that explains almost no sample keeps the set's width instead
    // of growing without bound (a prior in the values' own unit made every component at
    // least about prior / n wide, and one of almost no weight as wide as prior / weight).
    const double unit = totalWeight / static_cast<double>(n);
    const double priorWeight = std::isfinite(overallVariance) ? variancePrior * unit : 0.0;
    const double prior = priorWeight * overallVariance;
    const double absoluteTolerance = tolerance * unit;

    // Initial components: random weights, and the moments of consecutive blocks of samples.
    // A block that is empty or weighs nothing (fewer samples than components) takes the
    // moments of the whole set.
    std::vector<Component> start(k);
    double weightSum = 0.0;
    for (Component& c : start) {
        c.weight = ShiftedUniform(0.0001);
        weightSum += c.weight;
    }
    const std::size_t block = n / k;
    for (std::size_t i = 0; i < k; ++i) {
        start[i].weight /= weightSum;
        if (!BlockMoments(samples, i * block, (i + 1) * block, start[i].mean, start[i].variance)) {
            start[i].mean = overallMean;
            start[i].variance = overallVariance;
        }
    }
    components = start;

    // The likelihood of the components keeps each sample's density under each of them: the
    // E step that follows reads them rather than evaluating every normal density twice.
    std::vector<double> densities(n * k, 0.0);
    const auto likelihoodOf = [&]() {
        double sum = 0.0;
        for (std::size_t s = 0; s < n; ++s) {
            double p = 0.0;
            for (std::size_t j = 0; j < k; ++j) {
                const Component& c = components[j];
                if (!(c.weight > 1e-7)) continue;
                densities[s * k + j] = Normal(samples[s].value, c.mean, c.variance);
                p += c.weight * densities[s * k + j];
            }
            if (p > 0.0 && std::isfinite(p)) sum += samples[s].weight * std::log(p);
        }
        return sum;
    };
    double likelihood = likelihoodOf();
    if (std::fabs(likelihood) <= absoluteTolerance) return 0;

    std::vector<double> responsibilities(n * k, 0.0);
    std::vector<double> row(k);
    std::vector<Component> working(k);
    int pass = 0;
    while (pass < MAX_ITERATIONS) {
        ++pass;
        for (std::size_t s = 0; s < n; ++s) {
            double* r = &responsibilities[s * k];
            double t = 0.0;
            for (std::size_t j = 0; j < k; ++j) {
                const Component& c = components[j];
                row[j] = c.weight >= 1e-6 ? c.weight * densities[s * k + j] : r[j];
                t += row[j];
            }
            // A sample no component explains keeps its previous responsibilities.
            if (!(t > 0.0) || !std::isfinite(t)) continue;
            const double scale = 1.0 / t;
            for (std::size_t j = 0; j < k; ++j)
                r[j] = row[j] * scale;
        }
        for (std::size_t j = 0; j < k; ++j) {
            double a = 0.0, sum = 0.0;
            for (std::size_t s = 0; s < n; ++s) {
                const double wr = samples[s].weight * responsibilities[s * k + j];
                a += wr;
                sum += wr * samples[s].value;
            }
            Component& c = working[j];
            if (!(a > 0.0)) {
                c = Component();
                continue;
            }
            c.mean = sum / a;
            double squares = 0.0;
            for (std::size_t s = 0; s < n; ++s) {
                const double d = samples[s].value - c.mean;
                squares += samples[s].weight * responsibilities[s * k + j] * d * d;
            }
            c.variance = (squares + prior) / (a + priorWeight);
            c.weight = a / totalWeight;
        }
        components = working;
        const double next = likelihoodOf();
        const double change = std::fabs(next - likelihood);
        if (change <= absoluteTolerance || change <= 1e-10 * std::fabs(next)) break;
        likelihood = next;
    }
    return pass;
}

double QNL_gaussianMixture::Mass() const {
    if (count < 1) return 0.0;
    double mass = 0.0;
    for (const Component& c : components)
        if (Counted(c)) mass += c.weight;
    return mass;
}

// Every component the density counts is drawn by its weight alone, whatever its variance:
// the draws then follow Density() / Mass(), which is what an importance weight divides by.
double QNL_gaussianMixture::Draw() const {
    double v = Uniform();
    if (v < 1e-7) v = 1e-7;
    if (v > 0.9999999) v = 0.9999999;
    const double mass = Mass();
    int chosen = -1;
    if (mass > 0.0 && std::isfinite(mass)) {
        const double target = v * mass;
        double running = 0.0;
        for (std::size_t i = 0; i < components.size(); ++i) {
            if (!Counted(components[i])) continue;
            chosen = static_cast<int>(i);
            running += components[i].weight;
            if (target <= running) break;
        }
    } else {
        // Nothing the density counts: a point mass or a negligible component still gives
        // a value rather than none.
        chosen = SelectComponent(*this, v, false);
    }
    const double z = StandardDraw();
    if (chosen < 0) return 0.0;
    const Component& c = components[static_cast<std::size_t>(chosen)];
    return c.mean + std::sqrt(c.variance) * z;
}

namespace {

// The share of a component within [lower, upper]: exactly 1 where both ends lie 9 sd or more
// away, as the interval's mass is, found there without a square root or a division.
inline double ComponentWithin(const QNL_gaussianMixture::Component& c, double lower,
                              double upper) {
    const double below = c.mean - lower, above = upper - c.mean, reach = 81.0 * c.variance;
    if (below >= 0.0 && above >= 0.0 && below * below >= reach && above * above >= reach)
        return 1.0;
    const double sd = std::sqrt(c.variance);
    return quarn::detail::NormalIntervalMass((lower - c.mean) / sd, (upper - c.mean) / sd);
}

} // namespace

double QNL_gaussianMixture::MassWithin(double lower, double upper) const {
    if (count < 1) return 0.0;
    double mass = 0.0;
    for (const Component& c : components)
        if (Counted(c)) mass += c.weight * ComponentWithin(c, lower, upper);
    return mass;
}

bool QNL_gaussianMixture::DrawWithin(double lower, double upper, double mass, double& out) const {
    if (count < 1 || !(mass > 0.0) || !std::isfinite(mass)) return false;
    // Shares of 1 leave the sum as Mass() has it. A draw of the whole that falls inside is
    // one of the renormalised density; one outside (of a component cut by less than the
    // sum's rounding) is drawn again within the interval, which keeps it exact.
    if (mass == Mass()) {
        out = Draw();
        if (out >= lower && out <= upper) return true;
    }
    const double target = ShiftedUniform(1e-7) * mass;
    double running = 0.0;
    const Component* chosen = nullptr;
    for (const Component& c : components) {
        if (!Counted(c)) continue;
        const double share = c.weight * ComponentWithin(c, lower, upper);
        if (!(share > 0.0)) continue;
        chosen = &c;
        running += share;
        if (target <= running) break;
    }
    return chosen != nullptr && TruncatedNormalDraw(QNL_randomMixtures(), chosen->mean,
                                                    std::sqrt(chosen->variance), lower, upper,
                                                    out);
}

double QNL_gaussianMixture::DrawProduct(const std::vector<const QNL_gaussianMixture*>& mixtures,
                                        int method, double& weight) {
    weight = 0.0;
    // Scratch kept between calls: a message rebuilt from 250 product draws allocates nothing
    // per draw.
    static thread_local std::vector<const QNL_gaussianMixture*> list;
    static thread_local std::vector<int> chosen;
    static thread_local std::vector<double> scores, means, variances;
    list.clear();
    for (const QNL_gaussianMixture* m : mixtures)
        if (m != nullptr) list.push_back(m);
    if (list.empty() || method < 1 || method > 3) return 0.0;
    const std::size_t n = list.size();

    // Components chosen independently, each mixture by its own weights.
    chosen.assign(n, -1);
    for (std::size_t i = 0; i < n; ++i) {
        // By weight alone, as Draw() chooses: a cap on the variance would leave the wide
        // components out of the draws while the weights still count them.
        chosen[i] = SelectComponent(*list[i], ShiftedUniform(1e-6), true);
        if (chosen[i] < 0) return 0.0;
        if (method == 1) break;
    }
    auto component = [&](std::size_t i, int c) -> const Component& {
        return list[i]->components[static_cast<std::size_t>(c)];
    };

    if (method == 3) {
        double precision = 0.0, scaled = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const Component& c = component(i, chosen[i]);
            precision += 1.0 / c.variance;
            scaled += c.mean / c.variance;
        }
        const double variance = 1.0 / precision;
        const double mean = variance * scaled;
        // The product of the chosen normals is a constant times N(mean, variance); that
        // constant is the importance weight (the choice itself already followed the weights).
        double product = 1.0;
        for (std::size_t i = 0; i < n; ++i) {
            const Component& c = component(i, chosen[i]);
            product *= Normal(mean, c.mean, c.variance);
        }
        weight = n == 1 ? 1.0 : product / Normal(mean, mean, variance);
        return mean + std::sqrt(variance) * StandardDraw();
    }

    if (method == 1) {
        const Component& first = component(0, chosen[0]);
        double mean = first.mean, variance = first.variance, total = 1.0;
        for (std::size_t i = 1; i < n; ++i) {
            const auto& cs = list[i]->components;
            scores.assign(cs.size(), 0.0);
            means.assign(cs.size(), 0.0);
            variances.assign(cs.size(), 0.0);
            double sum = 0.0;
            for (std::size_t c = 0; c < cs.size(); ++c) {
                if (!(cs[c].weight >= 1e-7) || !(cs[c].variance > 0.0)) continue;
                variances[c] = 1.0 / (1.0 / cs[c].variance + 1.0 / variance);
                means[c] = (mean / variance + cs[c].mean / cs[c].variance) * variances[c];
                // The weight times the integral of the component against the running product.
                scores[c] = cs[c].weight * Normal(cs[c].mean, mean, variance + cs[c].variance);
                sum += scores[c];
            }
            if (!(sum > 0.0)) return mean + std::sqrt(variance) * StandardDraw();
            const int pick = Select(
                static_cast<int>(cs.size()),
                [&](int c) { return scores[static_cast<std::size_t>(c)] / sum; },
                [&](int c) { return variances[static_cast<std::size_t>(c)]; }, ShiftedUniform(1e-7),
                0.0001, true);
            if (pick < 0) return 0.0;
            total *= sum;
            mean = means[static_cast<std::size_t>(pick)];
            variance = variances[static_cast<std::size_t>(pick)];
        }
        weight = total;
        return mean + std::sqrt(variance) * StandardDraw();
    }

    // Method 2: five Gibbs sweeps over the component choices, each choice redrawn given the
    // others; the chosen product is then drawn with weight 1.
    for (int sweep = 0; sweep < 5; ++sweep) {
        for (std::size_t j = 0; j < n; ++j) {
            double precision = 0.0, scaled = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                if (i == j) continue;
                const Component& c = component(i, chosen[i]);
                precision += 1.0 / c.variance;
                scaled += c.mean / c.variance;
            }
            const auto& cs = list[j]->components;
            scores.assign(cs.size(), 0.0);
            double sum = 0.0;
            for (std::size_t c = 0; c < cs.size(); ++c) {
                if (!(cs[c].weight >= 1e-7) || !(cs[c].variance > 0.0)) continue;
                scores[c] = n == 1 ? cs[c].weight
                                   : cs[c].weight * Normal(cs[c].mean, scaled / precision,
                                                           1.0 / precision + cs[c].variance);
                sum += scores[c];
            }
            if (!(sum > 0.0)) continue;
            const int pick = Select(
                static_cast<int>(cs.size()),
                [&](int c) { return scores[static_cast<std::size_t>(c)] / sum; },
                [&](int c) {
                    const double v = cs[static_cast<std::size_t>(c)].variance;
                    return 1.0 / (precision + 1.0 / v);
                },
                ShiftedUniform(1e-7), 0.0001, true);
            if (pick >= 0) chosen[j] = pick;
        }
    }
    double precision = 0.0, scaled = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Component& c = component(i, chosen[i]);
        precision += 1.0 / c.variance;
        scaled += c.mean / c.variance;
    }
    weight = 1.0;
    const double variance = 1.0 / precision;
    return variance * scaled + std::sqrt(variance) * StandardDraw();
}
