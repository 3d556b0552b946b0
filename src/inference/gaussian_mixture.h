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
// or a message between nodes. A plain value record: copying copies every field, so the
// component list and the count always travel together.
class QNL_gaussianMixture {
public:
    struct Component {
        double weight = 0.0;
        double mean = 0.0;
        double variance = 0.0;
    };

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

    // Number of components a fit produces.
    int count = 2;
    // Kept and copied for the owners; the mixture's own operations do not read them.
    double rangeLow = 0.0;
    double rangeHigh = 1.0;
    std::vector<Component> components;
    // A fit stops when the log-likelihood changes by no more than this.
    double tolerance = 0.001;
    // Added to every component's weighted sum of squared deviations in a fit.
    double variancePrior = 10.0;
};
