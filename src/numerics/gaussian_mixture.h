#pragma once

#include <cstddef>
#include <vector>

// One weighted observation of a continuous quantity: the samples a continuous or equation
// node value keeps and the input a mixture is fitted to.
struct QNL_weightedSample {
    double value = 0.0;
    double weight = 0.0;
};

// A one-dimensional mixture of normal densities summarising the values of a continuous node
// or a message between nodes: fitted by expectation-maximisation to weighted samples,
// evaluated as a density and drawn from, alone or as a product of several mixtures. A plain
// value record: copying copies every field. Every uniform number comes from the mixtures'
// process-wide generator, so tests make draws and fits repeatable by seeding it.
class QNL_gaussianMixture {
public:
    struct Component {
        double weight = 0.0;
        double mean = 0.0;
        double variance = 0.0;
    };

    // Fits stop after this many EM passes whatever the log-likelihood does.
    static constexpr int MAX_ITERATIONS = 5000;

    QNL_gaussianMixture() = default;
    // count components of zeros (none for a count below 1).
    QNL_gaussianMixture(double low, double high, int componentCount, double fitTolerance,
                        double prior)
        : count(componentCount), rangeLow(low), rangeHigh(high), tolerance(fitTolerance),
          variancePrior(prior) {
        if (componentCount > 0) components.resize(static_cast<std::size_t>(componentCount));
    }
    QNL_gaussianMixture(const QNL_gaussianMixture&) = default;
    QNL_gaussianMixture& operator=(const QNL_gaussianMixture&) = default;
    QNL_gaussianMixture(QNL_gaussianMixture&&) noexcept = default;
    QNL_gaussianMixture& operator=(QNL_gaussianMixture&&) noexcept = default;

    // Copies the tolerance, the prior and the components; count and range stay.
    void Assign(const QNL_gaussianMixture& other);

    // The normal density with the library's ten-decimal 2 pi; 0 for a variance that is not
    // positive.
    static double Normal(double x, double mean, double variance);

    // Sum over the components of weight > 1e-7 and a finite variance > 0; 0 when count < 1.
    double Density(double x) const;
    // Sum of sample weight x ln(mixture density); a sample of density 0 adds nothing.
    double LogLikelihood(const std::vector<QNL_weightedSample>& samples) const;
    // Replaces the components by an EM fit of count components. The variance prior counts as
    // that many samples' worth of weight at the samples' own variance, and the tolerance is
    // taken per unit of sample weight, so weights scaled by a constant give the same fit,
    // and values in another unit the same fit in that unit.
    // Returns the number of EM passes made.
    int Fit(const std::vector<QNL_weightedSample>& samples);
    // The total weight of the components Density() counts: what the density integrates to.
    double Mass() const;
    // One value from the density: a component Density() counts, chosen by its weight alone,
    // then a draw from its normal (mean 0 when there are no components).
    double Draw() const;
    // The part of Mass() that [lower, upper] holds: what the density integrates to over it.
    double MassWithin(double lower, double upper) const;
    // One value from the density renormalised within [lower, upper], Density() / mass, where
    // mass is MassWithin(lower, upper), which the caller has at hand: a counted component
    // chosen by its weight times the share of it the interval holds, then drawn within the
    // interval. Where the interval holds every counted component whole (mass is Mass()), the
    // draw is Draw()'s. False, with nothing drawn, where the interval holds none of the density.
    bool DrawWithin(double lower, double upper, double mass, double& out) const;

    // A value from the normalised product of the mixtures, with the importance weight that
    // makes the weighted draws follow that product. method: 1 sequential, 2 component
    // re-selection, 3 independent components; any other method or an empty list draws
    // nothing (weight 0, value 0). A null entry is skipped.
    static double DrawProduct(const std::vector<const QNL_gaussianMixture*>& mixtures, int method,
                              double& weight);

    // Number of components a fit produces.
    int count = 2;
    // Kept and copied for the owners; the mixture's own operations do not read them.
    double rangeLow = 0.0;
    double rangeHigh = 1.0;
    std::vector<Component> components;
    // A fit stops when the log-likelihood changes by no more than this.
    double tolerance = 0.001;
    // The weight, in samples, of the samples' variance in every component's variance.
    double variancePrior = 10.0;
};
