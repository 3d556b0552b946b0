#include "numerics/gaussian_mixture.h"
#include "numerics/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <random>
#include <vector>

namespace {

using Component = QNL_gaussianMixture::Component;

QNL_gaussianMixture Mixture(const std::vector<Component>& components) {
    QNL_gaussianMixture m;
    m.count = static_cast<int>(components.size());
    m.components = components;
    return m;
}

std::vector<QNL_weightedSample> NormalSamples(std::mt19937& rng, double mean, double sd, int n,
                                              double weight = 1.0) {
    std::normal_distribution<double> normal(mean, sd);
    std::vector<QNL_weightedSample> out;
    for (int i = 0; i < n; ++i)
        out.push_back({normal(rng), weight});
    return out;
}

std::vector<Component> ByMean(std::vector<Component> components) {
    std::sort(components.begin(), components.end(),
              [](const Component& a, const Component& b) { return a.mean < b.mean; });
    return components;
}

TEST(GaussianMixture, DensityAndLikelihoodReadOnlyComponentsThatCount) {
    const QNL_gaussianMixture one = Mixture({{1.0, 0.0, 1.0}});
    // 2 pi enters with ten decimals, so the value differs from 1/sqrt(2 pi) near 1e-13.
    EXPECT_DOUBLE_EQ(one.Density(0.0), 0.39894228038808593);

    const QNL_gaussianMixture tiny = Mixture({{1.0, 0.0, 1.0}, {1e-8, 0.5, 0.01}});
    const std::vector<QNL_weightedSample> samples = {{0.5, 1.0}, {-1.0, 2.0}};
    EXPECT_EQ(tiny.Density(0.5), one.Density(0.5));
    EXPECT_EQ(tiny.LogLikelihood(samples), one.LogLikelihood(samples));
    EXPECT_NEAR(one.LogLikelihood(samples),
                std::log(one.Density(0.5)) + 2.0 * std::log(one.Density(-1.0)), 1e-12);

    QNL_gaussianMixture none = one;
    none.count = 0;
    EXPECT_EQ(none.Density(0.0), 0.0);
    // A count above the components held reads only those that exist.
    QNL_gaussianMixture shorter = one;
    shorter.count = 5;
    EXPECT_EQ(shorter.Density(0.0), one.Density(0.0));
    // A degenerate component neither divides by zero nor turns the likelihood into NaN.
    const QNL_gaussianMixture flat = Mixture({{0.5, 0.0, 0.0}, {0.5, 0.0, 1.0}});
    EXPECT_TRUE(std::isfinite(flat.LogLikelihood(samples)));
}

// Every component the density counts is drawn by its weight alone, however wide, so the
// draws have the moments of the density, in any unit; a component of too little weight or of
// no width is never drawn, unless nothing else is left: a point mass then gives its mean.
TEST(GaussianMixture, DrawsFollowTheDensityWhateverTheVariance) {
    QNL_randomMixtures().Seed(7);
    const std::vector<std::vector<Component>> cases = {
        {{0.5, -500.0, 200.0}, {0.5, 100.0, 100.0}},
        {{0.3, -500.0, 500.0}, {0.7, 500.0, 400.0}},
        {{1.0, 3.0, 1.0}},
        {{0.6, 0.0, 144.0}, {0.4, 30.0, 1e4}},
        {{1e-8, 1e6, 1.0}, {0.5, 1.0, 1e-8}, {0.25, 2.0, 4.0}},
        // The first case in a unit 10^5 times larger: narrow components count all the same.
        {{0.5, -5e-3, 2e-8}, {0.5, 1e-3, 1e-8}},
    };
    const int n = 20000;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const QNL_gaussianMixture m = Mixture(cases[k]);
        double mass = 0.0, first = 0.0, second = 0.0;
        for (const Component& c : cases[k]) {
            if (c.weight <= 1e-7 || !(c.variance > 0.0)) continue;
            mass += c.weight;
            first += c.weight * c.mean;
            second += c.weight * (c.variance + c.mean * c.mean);
        }
        EXPECT_DOUBLE_EQ(m.Mass(), mass) << k;
        const double mean = first / mass, variance = second / mass - mean * mean;
        double sum = 0.0, squares = 0.0;
        for (int i = 0; i < n; ++i) {
            const double x = m.Draw();
            sum += x;
            squares += x * x;
        }
        const double drawnMean = sum / n;
        EXPECT_NEAR(drawnMean, mean, 5.0 * std::sqrt(variance / n)) << k;
        EXPECT_NEAR(squares / n - drawnMean * drawnMean, variance, 0.1 * variance) << k;
    }
    const QNL_gaussianMixture point = Mixture({{1.0, 2.5, 0.0}});
    EXPECT_EQ(point.Mass(), 0.0);
    EXPECT_EQ(point.Draw(), 2.5);
    EXPECT_EQ(QNL_gaussianMixture().Draw(), 0.0);
}

// Within an interval the mixture is its density renormalised there: the interval's mass
// against quadrature of the density, and draws inside it with the mean and the share below
// the middle that quadrature gives, whether the interval cuts one component or both, keeps
// a far tail of one, or holds them whole (then the draws are Draw()'s, value for value).
TEST(GaussianMixture, DrawsWithinAnIntervalFollowTheDensityRenormalisedThere) {
    struct Cut {
        std::vector<Component> components;
        double lower, upper;
    };
    const Cut cases[] = {
        {{{0.4, 0.0, 1.0}, {0.6, 3.0, 0.25}}, 0.5, 10.0},
        {{{0.4, 0.0, 1.0}, {0.6, 3.0, 0.25}}, -0.5, 0.5},
        {{{0.5, -2.0, 0.04}, {0.5, 2.0, 4.0}}, -1.0, 8.0},
        {{{0.9, 0.0, 1.0}, {0.1, 20.0, 1.0}}, 6.0, 7.0},
        {{{1e-8, 5.0, 1.0}, {1.0, 0.0, 1.0}}, 3.0, 8.0},
    };
    const int n = 20000;
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Cut& c = cases[k];
        const QNL_gaussianMixture m = Mixture(c.components);
        const int steps = 100000;
        const double h = (c.upper - c.lower) / steps, middle = 0.5 * (c.lower + c.upper);
        long double mass = 0.0L, first = 0.0L, second = 0.0L, below = 0.0L;
        for (int i = 0; i <= steps; ++i) {
            const double x = c.lower + i * h;
            const long double w =
                (i == 0 || i == steps ? 1 : (i % 2 == 1 ? 4 : 2)) * h / 3.0L * m.Density(x);
            mass += w;
            first += w * x;
            second += w * x * x;
            if (x <= middle) below += w;
        }
        EXPECT_NEAR(m.MassWithin(c.lower, c.upper), static_cast<double>(mass),
                    1e-9 * static_cast<double>(mass))
            << k;
        const double mean = static_cast<double>(first / mass);
        const double sd = std::sqrt(static_cast<double>(second / mass) - mean * mean);
        const double share = static_cast<double>(below / mass);
        QNL_randomMixtures().Seed(11);
        double sum = 0.0, under = 0.0;
        for (int i = 0; i < n; ++i) {
            double x = NAN;
            ASSERT_TRUE(m.DrawWithin(c.lower, c.upper, m.MassWithin(c.lower, c.upper), x)) << k;
            ASSERT_TRUE(x >= c.lower && x <= c.upper) << k << ": " << x;
            sum += x;
            if (x <= middle) under += 1.0;
        }
        EXPECT_NEAR(sum / n, mean, 5.0 * sd / std::sqrt(n)) << k;
        EXPECT_NEAR(under / n, share, 5.0 * std::sqrt(share * (1.0 - share) / n) + 1e-12) << k;
    }
    const QNL_gaussianMixture whole = Mixture({{0.3, -1.0, 1.0}, {0.7, 2.0, 0.5}});
    EXPECT_EQ(whole.MassWithin(-100.0, 100.0), whole.Mass());
    for (int i = 0; i < 100; ++i) {
        QNL_randomMixtures().Seed(100 + i);
        const double plain = whole.Draw();
        QNL_randomMixtures().Seed(100 + i);
        double x = NAN;
        ASSERT_TRUE(whole.DrawWithin(-100.0, 100.0, whole.Mass(), x));
        EXPECT_EQ(x, plain);
    }
    double x = 0.0;
    const QNL_gaussianMixture point = Mixture({{1.0, 2.5, 0.0}});
    EXPECT_FALSE(point.DrawWithin(0.0, 5.0, point.MassWithin(0.0, 5.0), x));
    EXPECT_EQ(Mixture({{1.0, 0.0, 1.0}}).MassWithin(3.0, 3.0), 0.0);
}

// The samplers weigh every normal draw by the normal density, so the draws must have the
// normal's shape, not only its mean and variance: its fourth moment 3 and its tails.
TEST(GaussianMixture, NormalDrawsHaveTheShapeOfTheNormalDensity) {
    QNL_randomUniform().Seed(11);
    QNL_randomMixtures().Seed(11);
    const QNL_gaussianMixture unit = Mixture({{1.0, 0.0, 1.0}});
    const struct {
        const char* name;
        std::function<double()> draw;
    } sources[] = {
        {"NormalDraw", [] { return NormalDraw(0.0, 1.0); }},
        {"mixture", [&] { return unit.Draw(); }},
    };
    const int n = 1000000;
    // 0.0027: the normal's mass beyond 3 standard deviations.
    const double tail = std::erfc(3.0 / std::sqrt(2.0));
    for (const auto& source : sources) {
        double first = 0.0, second = 0.0, fourth = 0.0, beyond = 0.0;
        for (int i = 0; i < n; ++i) {
            const double z = source.draw();
            first += z;
            second += z * z;
            fourth += z * z * z * z;
            beyond += std::fabs(z) > 3.0 ? 1.0 : 0.0;
        }
        // Standard errors: 1, sqrt(2), sqrt(96) and sqrt(p (1 - p)) over sqrt(n).
        const double root = std::sqrt(static_cast<double>(n));
        EXPECT_NEAR(first / n, 0.0, 5.0 / root) << source.name;
        EXPECT_NEAR(second / n, 1.0, 5.0 * std::sqrt(2.0) / root) << source.name;
        EXPECT_NEAR(fourth / n, 3.0, 5.0 * std::sqrt(96.0) / root) << source.name;
        EXPECT_NEAR(beyond / n, tail, 5.0 * std::sqrt(tail * (1.0 - tail)) / root) << source.name;
    }
}

// Samples without weight leave the components; fewer samples than components leave blocks
// empty, and nothing may come out as NaN.
TEST(GaussianMixture, DegenerateFitsLeaveFiniteComponents) {
    QNL_gaussianMixture m = Mixture({{0.4, 1.0, 2.0}, {0.6, 5.0, 1.0}});
    const std::vector<Component> before = m.components;
    EXPECT_EQ(m.Fit({{1.0, 0.0}, {2.0, 0.0}, {3.0, 0.0}}), 0);
    EXPECT_EQ(m.Fit({}), 0);
    ASSERT_EQ(m.components.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(m.components[i].mean, before[i].mean);

    QNL_randomMixtures().Seed(3);
    QNL_gaussianMixture few(0.0, 1.0, 3, 0.001, 10.0);
    few.Fit({{1.0, 1.0}, {2.0, 1.0}});
    ASSERT_EQ(few.components.size(), 3u);
    for (const Component& c : few.components)
        EXPECT_TRUE(std::isfinite(c.weight) && std::isfinite(c.mean) && std::isfinite(c.variance));
    EXPECT_TRUE(std::isfinite(few.Density(1.5)));
}

TEST(GaussianMixture, FitRecoversRandomMixturesWhateverTheWeightScale) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 6; ++trial) {
        const int k = 1 + trial % 3;
        std::vector<Component> truth;
        double weightSum = 0.0;
        for (int j = 0; j < k; ++j) {
            const double sd = 0.5 + 1.5 * unit(rng);
            truth.push_back({0.3 + unit(rng), j * 14.0 + 4.0 * unit(rng), sd * sd});
            weightSum += truth.back().weight;
        }
        std::vector<QNL_weightedSample> samples;
        for (const Component& c : truth) {
            const int n = static_cast<int>(10000 * c.weight / weightSum);
            const auto part = NormalSamples(rng, c.mean, std::sqrt(c.variance), n);
            samples.insert(samples.end(), part.begin(), part.end());
        }
        QNL_gaussianMixture fit(-100.0, 100.0, k, 0.001, 10.0);
        QNL_randomMixtures().Seed(100 + trial);
        const int passes = fit.Fit(samples);
        EXPECT_GT(passes, 0);
        EXPECT_LT(passes, QNL_gaussianMixture::MAX_ITERATIONS);
        const auto fitted = ByMean(fit.components);
        for (int j = 0; j < k; ++j) {
            EXPECT_NEAR(fitted[j].mean, truth[j].mean, 0.1 * std::sqrt(truth[j].variance))
                << "trial " << trial << " component " << j;
            EXPECT_NEAR(fitted[j].weight, truth[j].weight / weightSum, 0.05) << trial;
        }

        std::vector<QNL_weightedSample> scaled = samples;
        for (auto& s : scaled)
            s.weight *= 250.0;
        QNL_gaussianMixture same(-100.0, 100.0, k, 0.001, 10.0);
        QNL_randomMixtures().Seed(100 + trial);
        same.Fit(scaled);
        for (int j = 0; j < k; ++j) {
            EXPECT_NEAR(same.components[j].mean, fit.components[j].mean, 1e-9);
            EXPECT_NEAR(same.components[j].variance, fit.components[j].variance, 1e-9);
            EXPECT_NEAR(same.components[j].weight, fit.components[j].weight, 1e-12);
        }

        // The same values in a unit a thousand times smaller, shifted: the same fit in it.
        std::vector<QNL_weightedSample> moved = samples;
        for (auto& s : moved)
            s.value = 1000.0 * s.value + 7.0;
        QNL_gaussianMixture other(-1e5, 1e5, k, 0.001, 10.0);
        QNL_randomMixtures().Seed(100 + trial);
        other.Fit(moved);
        for (int j = 0; j < k; ++j) {
            const Component& c = fit.components[j];
            EXPECT_NEAR(other.components[j].mean, 1000.0 * c.mean + 7.0,
                        1e-6 * (1.0 + 1000.0 * std::fabs(c.mean)));
            EXPECT_NEAR(other.components[j].variance, 1e6 * c.variance, 1e-6 * 1e6 * c.variance);
            EXPECT_NEAR(other.components[j].weight, c.weight, 1e-9);
        }
    }
}

// Mean and variance of the normalised product of the mixtures, in closed form: every pair
// of components multiplies into a scaled normal.
void ProductMoments(const std::vector<QNL_gaussianMixture>& mixtures, double& mean,
                    double& variance) {
    struct Term {
        double weight, mean, variance;
    };
    std::vector<Term> terms = {{1.0, 0.0, 0.0}};
    bool first = true;
    for (const auto& m : mixtures) {
        std::vector<Term> next;
        for (const Term& t : terms)
            for (const Component& c : m.components) {
                if (first) {
                    next.push_back({c.weight, c.mean, c.variance});
                    continue;
                }
                const double v = 1.0 / (1.0 / t.variance + 1.0 / c.variance);
                const double scale =
                    QNL_gaussianMixture::Normal(c.mean, t.mean, t.variance + c.variance);
                next.push_back({t.weight * c.weight * scale,
                                v * (t.mean / t.variance + c.mean / c.variance), v});
            }
        terms = next;
        first = false;
    }
    double total = 0.0, sum = 0.0, squares = 0.0;
    for (const Term& t : terms) {
        total += t.weight;
        sum += t.weight * t.mean;
        squares += t.weight * (t.variance + t.mean * t.mean);
    }
    mean = sum / total;
    variance = squares / total - mean * mean;
}

TEST(GaussianMixture, ProductDrawsFollowTheNormalisedProduct) {
    const std::vector<QNL_gaussianMixture> mixtures = {
        Mixture({{0.6, -1.0, 1.0}, {0.4, 2.0, 0.5}}),
        Mixture({{0.5, 0.0, 2.0}, {0.5, 1.5, 1.0}}),
        Mixture({{0.3, 0.5, 3.0}, {0.7, -0.5, 4.0}}),
    };
    for (std::size_t used = 1; used <= mixtures.size(); ++used) {
        const std::vector<QNL_gaussianMixture> some(mixtures.begin(), mixtures.begin() + used);
        std::vector<const QNL_gaussianMixture*> list;
        for (const auto& m : some)
            list.push_back(&m);
        double mean = 0.0, variance = 0.0;
        ProductMoments(some, mean, variance);
        for (int method = 1; method <= 3; ++method) {
            QNL_randomMixtures().Seed(17);
            double total = 0.0, sum = 0.0, squares = 0.0;
            for (int i = 0; i < 100000; ++i) {
                double w = 0.0;
                const double x = QNL_gaussianMixture::DrawProduct(list, method, w);
                total += w;
                sum += w * x;
                squares += w * x * x;
            }
            const double m = sum / total;
            // Tolerances cover the sampling error of 10^5 weighted draws.
            EXPECT_NEAR(m, mean, 0.02) << "method " << method << " mixtures " << used;
            EXPECT_NEAR(squares / total - m * m, variance, 0.03)
                << "method " << method << " mixtures " << used;
        }
    }
    double w = 5.0;
    EXPECT_EQ(QNL_gaussianMixture::DrawProduct({}, 1, w), 0.0);
    EXPECT_EQ(w, 0.0);
    const std::vector<const QNL_gaussianMixture*> one = {&mixtures[0]};
    QNL_gaussianMixture::DrawProduct(one, 4, w);
    EXPECT_EQ(w, 0.0);
}

} // namespace
