#pragma once

#include "definitions/evaluation_context.h"
#include "numerics/gaussian_mixture.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

class QNL_hybridDefinition;
class QNL_node;

// One node of a hybrid network while hybrid inference samples it: its current state or
// value, its evidence, its links, and its running statistics. It draws from private copies
// of its definition's holders, found through the parent-state array and bound to the
// parents' current values through numbered slots, so a draw needs neither an allocation nor
// a lookup by name. Operations that do not apply to the node's kind answer -54.
class QNL_samplingNode {
public:
    static constexpr int NOT_SUPPORTED = -54;
    // Flags.
    static constexpr int FIXED = 1;
    static constexpr int ANCESTOR_OF_EVIDENCE = 2;
    static constexpr int SET_THROUGH_CHILD = 4;
    static constexpr int ALL_CHILDREN_FIXED = 8;
    static constexpr int ALL_PARENTS_FIXED = 16;
    static constexpr int ENFORCED_THROUGH_PARENT = 32;
    // Fixed at a value an equation of one of its configurations gives its fixed parents: the
    // evidence has a probability there, against a density in every other configuration, so
    // only such configurations weigh anything.
    static constexpr int AT_AN_EQUATIONS_VALUE = 64;

    QNL_samplingNode(int handle, std::string id) : handle(handle), id(std::move(id)) {}
    QNL_samplingNode(const QNL_samplingNode&) = delete;
    QNL_samplingNode& operator=(const QNL_samplingNode&) = delete;
    virtual ~QNL_samplingNode() = default;

    virtual bool IsContinuous() const = 0;
    virtual int GetState(int&) const { return NOT_SUPPORTED; }
    virtual int GetValue(double&) const { return NOT_SUPPORTED; }
    // The address of the current state (discrete) or value (continuous), read by children.
    virtual const int* StatePointer() const { return nullptr; }
    virtual const double* ValuePointer() const { return nullptr; }
    // The same, for the messages that draw straight into the node.
    virtual int* StateTarget() { return nullptr; }
    virtual double* ValueTarget() { return nullptr; }
    virtual void SetState(int) {}
    virtual void SetValue(double) {}
    virtual int GetEvidenceState(int&) const { return NOT_SUPPORTED; }
    virtual int GetFixedValue(double&) const { return NOT_SUPPORTED; }
    // Makes the node fixed at its current state or value.
    virtual void Fix() = 0;
    // The weight of the current state or value given the parents' current ones.
    virtual double FixedWeight() = 0;
    virtual void ResetStatistics() {}
    virtual void AddSample(double) {}
    virtual void FinishStatistics() {}
    // Draws the current state or value from the definition; 1.0, or 0 for a continuous node
    // that found no value inside its bounds.
    virtual double DrawFromDefinition() = 0;
    // Draws (or weighs a fixed node) and returns the weight factor, 0 for a useless draw.
    virtual double DrawWeighted() = 0;
    // The statistics (or the fixed value) into the node's value; a node without any weight
    // writes nothing and leaves its value not valid.
    virtual void WriteResult(QNL_node&) {}

    // Takes clones of the definition's holders and binds their variables to the continuous
    // parents (in parent order) and to the node's own identifier. -42 when memory runs out.
    int TakeHolders(const QNL_hybridDefinition& definition);
    // The holder of the parents' current states with their current values bound.
    QNL_evaluationContext* Holder();
    // The holder of a configuration with the continuous parents' current values bound, when
    // each discrete parent of the list that is not -1 takes its state there; null otherwise.
    QNL_evaluationContext* HolderAllowedBy(std::size_t index, const std::vector<int>& states);
    std::size_t NumberOfHolders() const { return holders.size(); }
    // Sets the node's own identifier in a holder (the expressions solved for a parent).
    void SetOwnVariable(QNL_evaluationContext* holder, double value) {
        holder->SetSlotValue(static_cast<int>(continuousParentIds.size()), value);
    }
    // Every holder, for the preparation of the algorithm (solving for parents).
    std::vector<std::unique_ptr<QNL_evaluationContext>>& Holders() { return holders; }
    // Binds the slots again after the holders' expressions changed.
    void Rebind();
    // Resolves, in every holder whose equation names the enforcing parent, the expression
    // solved for it; -2 when one has none.
    int ResolveEnforcingExpressions(const std::string& parentId);
    // The enforcing parent's value from the holder Holder() gave last, with the node's own
    // identifier bound to its current value; false when it is not a finite number or the
    // holder is no equation.
    bool EvaluateEnforcing(double own, double& out);
    // |d value / d parent| of the node's equation where the continuous parent of the slot has
    // the value x, by central differences in the holder Holder() gave last; the factor by
    // which a value solved for that parent changes the density it is weighed with.
    double Slope(int slot, double x);
    // The value of the continuous parent of the slot that puts the mean of the distribution
    // of the holder Holder() gave last at the target, by Newton's method from start; how fast
    // the mean moves with it there, and the distribution's standard deviation there. False
    // where the holder has no moments or no root is found. The slot keeps the root.
    bool SolveMean(int slot, double target, double start, double& root, double& slope, double& sd);
    // That mean and variance with the slot at x, and how fast the mean moves there; false
    // where the holder has no moments.
    bool MeanAt(int slot, double x, double& mean, double& variance, double& slope);

    int GetHandle() const { return handle; }
    const std::string& GetId() const { return id; }
    int GetFlags() const { return flags; }
    bool Has(int flag) const { return (flags & flag) != 0; }
    void SetFlag(int flag) { flags |= flag; }
    void ClearFlag(int flag) { flags &= ~flag; }
    int GetEnforcingParent() const { return enforcingParent; }
    void SetEnforcingParent(int parent, int slot) {
        enforcingParent = parent;
        enforcingSlot = slot;
    }
    int GetEnforcingSlot() const { return enforcingSlot; }
    // The configuration index of the holder Holder() gave last.
    std::size_t LastHolderIndex() const { return lastHolder; }
    // Whether every configuration of the discrete parents defines the node by an equation
    // rather than a distribution; whether some configuration does. A node may mix the two:
    // each configuration is weighed as what it is.
    bool IsEquation() const { return equations == holders.size() && !holders.empty(); }
    bool AnyEquation() const { return equations > 0; }

    // Links: parents with the discrete ones first, children likewise.
    std::vector<int> parents;
    int discreteParents = 0;
    std::vector<int> parentOutcomes;
    std::vector<int> children;
    int discreteChildren = 0;
    std::vector<int> childOutcomes;
    // One pointer per discrete parent to its current state, then one to a word that stays 0.
    std::vector<const int*> parentStates;
    // The continuous parents' current values and identifiers, in parent order.
    std::vector<const double*> parentValues;
    std::vector<std::string> continuousParentIds;

protected:
    int handle;
    std::string id;
    int flags = 0;
    int enforcingParent = -2;
    int enforcingSlot = -1;
    double weightedSum = 0.0;
    double weightedSquares = 0.0;
    double total = 0.0;

private:
    std::vector<std::unique_ptr<QNL_evaluationContext>> holders;
    // How many holders are equations.
    std::size_t equations = 0;
    std::vector<const QNL_exprNode*> enforcing;
    std::vector<int> multipliers;
    std::size_t lastHolder = 0;
    const int zero = 0;
};

// A discrete node (DCHILDHPARENT): its state and the accepted weight of each outcome.
class QNL_discreteSamplingNode : public QNL_samplingNode {
public:
    // evidence: the observed outcome, or -1.
    QNL_discreteSamplingNode(int handle, std::string id, int outcomes, int evidence);

    bool IsContinuous() const override { return false; }
    int GetState(int& out) const override;
    const int* StatePointer() const override { return &state; }
    int* StateTarget() override { return &state; }
    int GetNumberOfOutcomes() const { return outcomes; }
    void SetState(int s) override { state = s; }
    int GetEvidenceState(int& out) const override;
    void Fix() override;
    double FixedWeight() override;
    void ResetStatistics() override;
    void AddSample(double weight) override;
    void FinishStatistics() override;
    double DrawFromDefinition() override;
    double DrawWeighted() override;
    void WriteResult(QNL_node& node) override;

    const std::vector<double>& GetWeights() const { return weights; }

private:
    int outcomes;
    int state = 0;
    int evidence;
    std::vector<double> weights;
};

// A continuous node (DISTRIBUTION, HEQUATION): its value inside [lower, upper], the weighted
// samples and a histogram of 50 bins over the bounds.
class QNL_continuousSamplingNode : public QNL_samplingNode {
public:
    static constexpr int BINS = 50;
    // Attempts of a draw to land inside the bounds, where the holder can't draw within them.
    static constexpr int MAX_ATTEMPTS = 1000;

    // fixed: the node holds evidence of that value.
    QNL_continuousSamplingNode(int handle, std::string id, double lower, double upper, bool fixed,
                               double value);

    bool IsContinuous() const override { return true; }
    int GetValue(double& out) const override;
    const double* ValuePointer() const override { return &value; }
    double* ValueTarget() override { return &value; }
    const double* LowerPointer() const { return &lower; }
    const double* UpperPointer() const { return &upper; }
    void SetValue(double v) override { value = v; }
    int GetFixedValue(double& out) const override;
    void Fix() override;
    double FixedWeight() override;
    void ResetStatistics() override;
    void AddSample(double weight) override;
    void FinishStatistics() override;
    double DrawFromDefinition() override;
    double DrawWeighted() override;
    void WriteResult(QNL_node& node) override;
    // Takes the weighted samples over as the node's result (the message-passing beliefs).
    void WriteSamples(QNL_node& node, const std::vector<QNL_weightedSample>& beliefs);

    double GetLowerBound() const { return lower; }
    double GetUpperBound() const { return upper; }
    bool Inside(double x) const { return x >= lower && x <= upper; }
    // Room for the samples of a run, so that adding them does not allocate.
    void Reserve(int samples);
    const std::vector<double>& GetHistogram() const { return histogram; }

    // Whether an evaluated equation reproduces a value: equal within a relative 1e-9.
    static bool Matches(double evaluated, double value);
    // The weight of the value under a holder of this node: for an equation 1 or 0, else its
    // density renormalised within the node's range, as the node's draws are.
    double WeightOf(QNL_evaluationContext* holder, double value) const;
    // The same for a holder that is no equation: its density renormalised within the range.
    double DensityWithin(QNL_evaluationContext* holder, double x) const {
        // The unsupported answer -52.0 (and anything else below 0) is no density.
        const double density = holder->GetDensityWithin(x, lower, upper);
        return density > 0.0 && std::isfinite(density) ? density : 0.0;
    }
    // Draws the current value from a holder of this node that is no equation, renormalised
    // within the bounds; false when no value inside them was found.
    bool DrawInside(QNL_evaluationContext* holder);

private:
    double value;
    double fixedValue;
    double lower;
    double upper;
    std::vector<QNL_weightedSample> samples;
    std::vector<double> histogram;
};
