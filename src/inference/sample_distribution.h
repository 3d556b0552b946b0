#pragma once

#include "numerics/gaussian_mixture.h"

#include <vector>

// A distribution over one variable of a hybrid network, bound to that variable's current
// state or value: a draw is written straight through the target pointer into the sampling
// node that owns the distribution. Weights and samples are collected unnormalised; the
// normalisation or the mixture fit is deferred until a draw or a density needs it. An
// operation that does not apply to the distribution's kind answers -53 (-53.0 for the
// probability and the density).
class QNL_sampleDistribution {
public:
    static constexpr int FLAG_VOID = 1;
    static constexpr int FLAG_CHANGED = 2;
    static constexpr int FLAG_FIXED = 4;
    static constexpr int FLAG_READY = 8;
    static constexpr int NOT_SUPPORTED = -53;

    QNL_sampleDistribution() = default;
    QNL_sampleDistribution(const QNL_sampleDistribution&) = default;
    QNL_sampleDistribution& operator=(const QNL_sampleDistribution&) = delete;
    virtual ~QNL_sampleDistribution() = default;

    // A new copy, owned by the caller; null for a kind that can't be copied.
    virtual QNL_sampleDistribution* Clone() const { return nullptr; }
    virtual bool IsDiscrete() const = 0;
    virtual int Normalize() { return NOT_SUPPORTED; }
    virtual int SetFixedState(int) { return NOT_SUPPORTED; }
    virtual int SetFixedValue(double) { return NOT_SUPPORTED; }
    virtual int GetTargetState(int&) const { return NOT_SUPPORTED; }
    virtual int GetTargetValue(double&) const { return NOT_SUPPORTED; }
    virtual int SetTargetState(int) { return NOT_SUPPORTED; }
    virtual int SetTargetValue(double) { return NOT_SUPPORTED; }
    virtual int SetMixture(const QNL_gaussianMixture&) { return NOT_SUPPORTED; }
    virtual int SampleState(int&) { return NOT_SUPPORTED; }
    virtual int SampleValue(double&) { return NOT_SUPPORTED; }
    // Draws into the target.
    virtual int Sample() { return NOT_SUPPORTED; }
    virtual int AddWeight(int, double) { return NOT_SUPPORTED; }
    virtual int AddSample(double, double) { return NOT_SUPPORTED; }
    virtual int AddWeightAtTarget(double) { return NOT_SUPPORTED; }
    // The probability or density at the target's current state or value.
    virtual double ValueAtTarget() { return -1.0; }
    virtual double Density(double) { return NOT_SUPPORTED; }
    virtual double Probability(int) { return NOT_SUPPORTED; }
    // Empties the weights or samples; clears the void, changed and ready flags.
    virtual void Reset() {}

    int GetFlags() const { return flags; }
    bool IsVoid() const { return (flags & FLAG_VOID) != 0; }
    bool IsFixed() const { return (flags & FLAG_FIXED) != 0; }
    bool IsReady() const { return (flags & FLAG_READY) != 0; }
    void SetReady(bool ready) { flags = ready ? (flags | FLAG_READY) : (flags & ~FLAG_READY); }

protected:
    int flags = 0;
};

// Probabilities over the outcomes of a discrete variable, drawing into an int state.
class QNL_discreteSampleDistribution : public QNL_sampleDistribution {
public:
    // Void: every probability 1/n and the void flag; otherwise all 0.0.
    QNL_discreteSampleDistribution(int* target, int outcomes, bool isVoid);

    bool IsDiscrete() const override { return true; }
    // Scales the weights to sum 1; all zero becomes uniform.
    int Normalize() override;
    int SetFixedState(int state) override;
    int GetTargetState(int& out) const override;
    int SetTargetState(int state) override;
    int SampleState(int& out) override;
    int Sample() override;
    // A first weight into a void distribution replaces the uniform values by zeros.
    int AddWeight(int state, double weight) override;
    int AddWeightAtTarget(double weight) override;
    double ValueAtTarget() override;
    double Probability(int state) override;
    void Reset() override;

    int GetNumberOfOutcomes() const { return static_cast<int>(probabilities.size()); }
    int GetFixedState() const { return fixedState; }

private:
    int* target;
    std::vector<double> probabilities;
    int fixedState = -1;
};

// Weighted samples of a continuous variable over an interval, summarised by a Gaussian
// mixture refitted lazily and renormalised within the interval, where every draw falls; void
// means uniform over the interval, fixed means one point. The bounds belong to the owner and
// are read through the pointers at every use, so they are checked (finite, lower below upper)
// each time they matter; they stay as they are while the mixture does.
class QNL_intervalSampleDistribution : public QNL_sampleDistribution {
public:
    QNL_intervalSampleDistribution(double* target, const double* lower, const double* upper,
                                   bool isVoid, int components, double tolerance, double scale);
    // Copies everything but the ready flag.
    QNL_intervalSampleDistribution(const QNL_intervalSampleDistribution& other);

    QNL_sampleDistribution* Clone() const override;
    bool IsDiscrete() const override { return false; }
    // Fits the mixture to the samples.
    int Normalize() override;
    int SetFixedValue(double value) override;
    int GetTargetValue(double& out) const override;
    int SetTargetValue(double value) override;
    int SetMixture(const QNL_gaussianMixture& source) override;
    int SampleValue(double& out) override;
    // -2 when a void distribution has unusable bounds.
    int Sample() override;
    int AddSample(double value, double weight) override;
    int AddWeightAtTarget(double weight) override;
    double ValueAtTarget() override;
    double Density(double x) override;
    void Reset() override;

    bool BoundsUsable() const;
    const QNL_gaussianMixture& GetMixture() const { return mixture; }
    const std::vector<QNL_weightedSample>& GetSamples() const { return samples; }

private:
    int Draw(double& out);
    void RefitIfChanged();
    void MeasureWithin();

    double* target;
    const double* lower;
    const double* upper;
    double fixedValue = 0.0;
    std::vector<QNL_weightedSample> samples;
    QNL_gaussianMixture mixture;
    // The mixture's mass within the interval; whether that is all of it; the factor that
    // renormalises the density there to the mixture's whole mass.
    double massWithin = 0.0;
    bool whole = true;
    double scale = 1.0;
};
