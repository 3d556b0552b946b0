#include "inference/hybrid_messages.h"

#include "inference/relevance.h"
#include "numerics/random.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double Uniform() {
    double u = QNL_randomSamplingDistributions().Next();
    if (u == 0.0) u = 1e-7;
    if (u == 1.0) u = 1.0 - 1e-7;
    return u;
}

// The first of n probabilities at which a uniform draw falls within their running sum; the
// last when rounding leaves the sum short of it.
int DrawIndex(const double* probabilities, int n) {
    const int s =
        quarn::detail::FirstAboveRunningSum(probabilities, n, QNL_randomSamplingDistributions());
    return s >= 0 ? s : n - 1;
}

// A weight that is not a finite number, or below 0, counts as 0.
double Clean(double w) {
    return std::isfinite(w) && w > 0.0 ? w : 0.0;
}

QNL_intervalSampleDistribution& Interval(QNL_sampleDistribution& message) {
    return static_cast<QNL_intervalSampleDistribution&>(message);
}

// The standard deviation and mean of what a message says of a continuous node: uniform over
// its range while void.
void Spread(QNL_sampleDistribution& message, double low, double high, double& mean, double& sd) {
    mean = 0.5 * (low + high);
    sd = (high - low) / std::sqrt(12.0);
    if (message.IsVoid() || message.IsFixed()) return;
    double total = 0.0, first = 0.0, second = 0.0;
    for (const auto& c : Interval(message).GetMixture().components) {
        if (!(c.weight > 0.0) || !std::isfinite(c.variance)) continue;
        total += c.weight;
        first += c.weight * c.mean;
        second += c.weight * (c.variance + c.mean * c.mean);
    }
    if (!(total > 0.0)) return;
    mean = first / total;
    sd = std::sqrt(std::max(second / total - mean * mean, 0.0));
}

} // namespace

QNL_hybridMessages::QNL_hybridMessages(std::vector<std::unique_ptr<QNL_samplingNode>>& nodes,
                                       const std::vector<int>& order, bool reduced, bool sampling)
    : nodes(nodes), order(order), reduced(reduced), sampling(sampling), states(nodes.size()),
      product(0.0, 1.0, COMPONENTS, TOLERANCE, SCALE) {}

QNL_sampleDistribution* QNL_hybridMessages::NewMessage(int over, bool isVoid) {
    QNL_samplingNode& node = Node(over);
    if (!node.IsContinuous())
        return new QNL_discreteSampleDistribution(
            node.StateTarget(), static_cast<QNL_discreteSamplingNode&>(node).GetNumberOfOutcomes(),
            isVoid);
    auto& continuous = static_cast<QNL_continuousSamplingNode&>(node);
    return new QNL_intervalSampleDistribution(node.ValueTarget(), continuous.LowerPointer(),
                                              continuous.UpperPointer(), isVoid, COMPONENTS,
                                              TOLERANCE, SCALE);
}

int QNL_hybridMessages::Unreachable() const {
    for (int h : order) {
        const QNL_samplingNode& node = *nodes[static_cast<std::size_t>(h)];
        if (!node.Has(QNL_samplingNode::FIXED) || !node.IsEquation() ||
            node.Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT))
            continue;
        for (int d = 0; d < node.discreteParents; ++d)
            if (!Fixed(node.parents[static_cast<std::size_t>(d)])) return h;
    }
    return -1;
}

void QNL_hybridMessages::Init() {
    std::size_t outcomes = 0;
    for (int h : order) {
        QNL_samplingNode& x = Node(h);
        State& st = StateOf(h);
        const bool fixed = Fixed(h);
        if (!x.IsContinuous())
            outcomes = std::max(
                outcomes, static_cast<std::size_t>(
                              static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes()));
        st.fromParents.resize(x.parents.size());
        st.slotAtParent.resize(x.parents.size());
        for (std::size_t k = 0; k < x.parents.size(); ++k) {
            const int p = x.parents[k];
            Link& link = st.fromParents[k];
            link.current.reset(NewMessage(p, true));
            link.next.reset(NewMessage(p, true));
            if (Fixed(p)) {
                QNL_samplingNode& parent = Node(p);
                if (parent.IsContinuous()) {
                    double v = 0.0;
                    parent.GetFixedValue(v);
                    link.current->SetFixedValue(v);
                    link.next->SetFixedValue(v);
                } else {
                    int s = 0;
                    parent.GetEvidenceState(s);
                    link.current->SetFixedState(s);
                    link.next->SetFixedState(s);
                }
            }
            const auto& siblings = Node(p).children;
            st.slotAtParent[k] =
                static_cast<int>(std::find(siblings.begin(), siblings.end(), h) - siblings.begin());
        }
        st.fromChildren.resize(x.children.size());
        st.slotAtChild.resize(x.children.size());
        for (std::size_t k = 0; k < x.children.size(); ++k) {
            const auto& others = Node(x.children[k]).parents;
            st.slotAtChild[k] =
                static_cast<int>(std::find(others.begin(), others.end(), h) - others.begin());
            if (fixed || (reduced && !Ancestor(h))) continue;
            st.fromChildren[k].current.reset(NewMessage(h, true));
            st.fromChildren[k].next.reset(NewMessage(h, true));
        }
        if (!fixed) {
            st.lambda.current.reset(NewMessage(h, true));
            st.lambda.next.reset(NewMessage(h, true));
        }
        st.childNow.assign(x.children.size(), 0);
        st.childLast.resize(x.children.size());
        for (std::size_t k = 0; k < x.children.size(); ++k) {
            const bool quiet = (fixed || reduced) && (!x.parents.empty() || fixed ||
                                                      (sampling && !Ancestor(x.children[k])));
            st.childLast[k] = quiet ? 0 : 1;
        }
        st.parentNow.assign(x.parents.size(), 0);
        st.parentLast.resize(x.parents.size());
        for (std::size_t k = 0; k < x.parents.size(); ++k)
            st.parentLast[k] = !Fixed(x.parents[k]) && (!reduced || fixed) ? 1 : 0;
    }
    scratch.assign(std::max<std::size_t>(outcomes, 1), 0.0);
    priors.assign(scratch.size(), 0.0);
}

// After a message reached the receiver, the messages that depend on it are due again.
void QNL_hybridMessages::MarkChanged(int receiver, int source, bool fromChild) {
    QNL_samplingNode& r = Node(receiver);
    State& st = StateOf(receiver);
    const bool lambdaUseful =
        !Void(st.lambda.current.get()) && (Ancestor(receiver) || Fixed(receiver));
    for (std::size_t k = 0; k < r.parents.size(); ++k) {
        const int p = r.parents[k];
        if (Fixed(p)) continue;
        if (fromChild || !reduced || (lambdaUseful && p != source)) st.parentNow[k] = 1;
    }
    if (Fixed(receiver)) return;
    for (std::size_t k = 0; k < r.children.size(); ++k) {
        const int c = r.children[k];
        if (Fixed(c) && !Relays(c, receiver, source)) continue;
        if (reduced && (c == source || (sampling && !Ancestor(c)))) continue;
        st.childNow[k] = 1;
    }
}

// Whether an observed child is due a fresh message from a parent that just heard something.
// The child passes its evidence to each open parent by drawing the others from their
// messages to it: left at the first of those, drawn while nothing had reached the sender yet
// (so as wide as its range), its messages to the other parents said nothing of the evidence.
// What the child itself sent changes nothing the sender tells it. Importance sampling keeps
// its reduced marking: its messages only propose, and its weights correct them.
bool QNL_hybridMessages::Relays(int child, int sender, int source) const {
    if (reduced || child == source) return false;
    const auto& others = nodes[static_cast<std::size_t>(child)]->parents;
    return std::any_of(others.begin(), others.end(),
                       [&](int p) { return p != sender && !Fixed(p); });
}

void QNL_hybridMessages::Add(Link& link, int state, double value, double weight) {
    weight = Clean(weight);
    link.total += weight;
    if (link.next->IsDiscrete())
        link.next->AddWeight(state, weight);
    else
        link.next->AddSample(value, weight);
}

// A continuous message is a density: a component of (nearly) no width, as a value an
// equation fixes gives, is widened just enough for the density to count it, far less than
// a histogram bin of its node, so that the message still weighs the values near it instead
// of none. A component of any real width is left as fitted: widening those to a bin pulled
// tightly pinned posteriors far towards their priors. Nor is a message narrower than the gap
// between the points it was fitted to: it can't tell where in that gap the likelihood lies,
// and a fit collapsed onto the one point that carried the weight sent every proposal built
// on it beside the posterior.
double QNL_hybridMessages::Normalize(QNL_sampleDistribution& message, double spacing) {
    message.Normalize();
    if (message.IsDiscrete()) return 0.0;
    auto& interval = Interval(message);
    QNL_gaussianMixture widened = interval.GetMixture();
    // A fit left without a usable component (a few points carrying all the weight can leave
    // every component empty) falls back to the points' weighted moments.
    const bool usable =
        std::any_of(widened.components.begin(), widened.components.end(), [](const auto& c) {
            return c.weight > 1e-7 && c.variance > 0.0 && std::isfinite(c.variance);
        });
    if (!usable && !widened.components.empty()) {
        double total = 0.0, sum = 0.0, squares = 0.0;
        for (const QNL_weightedSample& s : interval.GetSamples()) {
            total += s.weight;
            sum += s.weight * s.value;
            squares += s.weight * s.value * s.value;
        }
        if (!(total > 0.0)) return 0.0;
        for (auto& c : widened.components)
            c = QNL_gaussianMixture::Component();
        widened.components[0].weight = 1.0;
        widened.components[0].mean = sum / total;
        widened.components[0].variance =
            std::max(squares / total - (sum / total) * (sum / total), 0.0);
    }
    const double width = (widened.rangeHigh - widened.rangeLow) / QNL_continuousSamplingNode::BINS;
    if (!(width > 0.0) || !std::isfinite(width)) return 0.0;
    const double floor = std::max(DEGENERATE_SHARE * DEGENERATE_SHARE * width * width,
                                  std::isfinite(spacing) ? GAPS * GAPS * spacing * spacing : 0.0);
    for (auto& c : widened.components)
        if (!(c.variance > floor)) c.variance = floor;
    interval.SetMixture(widened);
    return floor;
}

// Whether a message to a parent holds points its receiver can be weighed by only through it:
// points an equation solved for it, or points drawn about a density narrower than the
// message, whose fit is widened to the floor its draws can resolve.
bool QNL_hybridMessages::SolvedBeyond(const Link& link, double floor) {
    return link.equationPoints || link.narrowest * link.narrowest < floor;
}

void QNL_hybridMessages::Restart(Link& link) {
    link.next->Reset();
    link.total = 0.0;
    link.solved = false;
    link.equationPoints = false;
    link.narrowest = std::numeric_limits<double>::infinity();
    link.spacing = 0.0;
    link.likelihood = 0.0;
}

bool QNL_hybridMessages::DrawParents(int h, int skip) {
    State& st = StateOf(h);
    for (std::size_t k = 0; k < st.fromParents.size(); ++k)
        if (static_cast<int>(k) != skip && st.fromParents[k].current->Sample() != 0) return false;
    return true;
}

// The product of a distribution's normal summary (its moments) with a message's mixture:
// each component the product of two normal densities, weighted by how well they overlap.
void QNL_hybridMessages::ProductMixture(QNL_evaluationContext* holder,
                                        const QNL_gaussianMixture& message,
                                        QNL_gaussianMixture& out, double keep) {
    double m = 0.0, v = 0.0;
    out.components.resize(message.components.size());
    if (holder->GetMoments(m, v) != 0 || !std::isfinite(m) || !(v > 0.0) || !std::isfinite(v)) {
        out.components.clear();
        return;
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < message.components.size(); ++i) {
        const QNL_gaussianMixture::Component& c = message.components[i];
        QNL_gaussianMixture::Component& o = out.components[i];
        if (!(c.weight > keep) || !(c.variance > 0.0)) {
            o = QNL_gaussianMixture::Component();
            continue;
        }
        o.variance = 1.0 / (1.0 / v + 1.0 / c.variance);
        o.mean = (m / v + c.mean / c.variance) * o.variance;
        o.weight = Clean(c.weight * QNL_gaussianMixture::Normal(m, c.mean, v + c.variance));
        sum += o.weight;
    }
    if (!(sum > 0.0)) {
        out.components.clear();
        return;
    }
    for (auto& o : out.components)
        o.weight /= sum;
}

// Draws the node from its definition times lambda; the probability or density of the draw
// under that proposal, 0 when there is none.
double QNL_hybridMessages::DrawFromProduct(int h, QNL_evaluationContext* holder,
                                           QNL_sampleDistribution* lambda) {
    QNL_samplingNode& x = Node(h);
    if (!x.IsContinuous()) {
        int state = 0;
        if (Void(lambda)) {
            if (holder->DrawOutcome(&state) != 0) return 0.0;
            x.SetState(state);
            return Clean(holder->GetProbability(state));
        }
        const int n = static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes();
        double sum = 0.0;
        for (int s = 0; s < n; ++s) {
            scratch[static_cast<std::size_t>(s)] =
                Clean(holder->GetProbability(s)) * lambda->Probability(s);
            sum += scratch[static_cast<std::size_t>(s)];
        }
        for (int s = 0; s < n; ++s)
            scratch[static_cast<std::size_t>(s)] =
                sum > 0.0 ? scratch[static_cast<std::size_t>(s)] / sum : 1.0 / n;
        state = DrawIndex(scratch.data(), n);
        x.SetState(state);
        return scratch[static_cast<std::size_t>(state)];
    }
    auto& bounded = static_cast<QNL_continuousSamplingNode&>(x);
    const double low = bounded.GetLowerBound(), high = bounded.GetUpperBound();
    double value = 0.0;
    if (!Void(lambda)) {
        ProductMixture(holder, Interval(*lambda).GetMixture(), product, 1e-6);
        const double mass = product.MassWithin(low, high);
        if (mass > 0.0 && std::isfinite(mass) && product.DrawWithin(low, high, mass, value)) {
            x.SetValue(value);
            return product.Density(value) / mass;
        }
    }
    if (!bounded.DrawInside(holder)) return 0.0;
    x.GetValue(value);
    return bounded.DensityWithin(holder, value);
}

// The weight, for one joint draw of the node's other parents, of what the node's side of
// the network says about the parent being estimated.
double QNL_hybridMessages::InnerWeight(int h, int skip) {
    QNL_samplingNode& x = Node(h);
    if (!DrawParents(h, skip)) return 0.0;
    if (Fixed(h)) return FixedLikelihood(h, skip, true);
    QNL_evaluationContext* holder = x.Holder();
    QNL_sampleDistribution* lambda = StateOf(h).lambda.current.get();
    if (!x.IsContinuous()) {
        const double q = DrawFromProduct(h, holder, lambda);
        int s = 0;
        x.GetState(s);
        const double w = Clean(holder->GetProbability(s)) / q;
        return Clean(Void(lambda) ? w : w * lambda->Probability(s));
    }
    return DrawTimesLambda(h, holder, lambda);
}

// The probability or density of a fixed node's value for the current draws of its parents.
// A configuration whose equation names an open parent passes the evidence through a parent
// solved from it, as an equation node does: the density of the solved value under that
// parent's message, divided by how fast the equation moves with it. The parent solved for is
// the one its chain solves for, unless that is the parent being estimated (skip): then, for
// a message to it (points), the solved value is a point of the estimate, kept aside with
// that weight, and the draw weighs nothing at the parent's value; for a weight of its value,
// another open parent is solved for, and where none can be, -1 says so.
double QNL_hybridMessages::FixedLikelihood(int h, int skip, bool points) {
    QNL_samplingNode& x = Node(h);
    QNL_evaluationContext* holder = x.Holder();
    if (!holder->HasExpressions()) return NarrowLikelihood(h, skip, points);
    if (!x.Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT)) return Clean(x.FixedWeight());
    double own = 0.0, v = 0.0;
    x.GetFixedValue(own);
    int solve = x.discreteParents + x.GetEnforcingSlot();
    if (solve != skip) {
        if (!x.EvaluateEnforcing(own, v)) return 0.0;
    } else if (points) {
        if (!x.EvaluateEnforcing(own, v) || !static_cast<QNL_continuousSamplingNode&>(
                                                 Node(x.parents[static_cast<std::size_t>(solve)]))
                                                 .Inside(v))
            return 0.0;
        const double slope = x.Slope(solve - x.discreteParents, v);
        if (slope > 0.0 && std::isfinite(slope)) {
            solvedPoints.push_back({v, 1.0 / slope});
            solvedEquation = true;
        }
        return 0.0;
    } else {
        solve = -1;
        x.SetOwnVariable(holder, own);
        for (int i = static_cast<int>(x.parents.size()) - 1; i >= x.discreteParents && solve < 0;
             --i)
            if (i != skip && !Fixed(x.parents[static_cast<std::size_t>(i)]) &&
                holder->EvaluateNamed(Node(x.parents[static_cast<std::size_t>(i)]).GetId(), &v) ==
                    0 &&
                std::isfinite(v))
                solve = i;
        if (solve < 0) return -1.0;
    }
    const std::size_t slot = static_cast<std::size_t>(solve);
    if (!static_cast<QNL_continuousSamplingNode&>(Node(x.parents[slot])).Inside(v)) return 0.0;
    const double slope = x.Slope(solve - x.discreteParents, v);
    if (!(slope > 0.0) || !std::isfinite(slope)) return 0.0;
    return Clean(StateOf(h).fromParents[slot].current->Density(v) / slope);
}

// Newton's method from the middle of the parent's message, else from either side of it. Where
// a root is narrow, one started on the other side must find no other: draws about one root
// would miss another. Several roots leave the draws to the message, and are too many where
// the density is so narrow that the draws can't be trusted to find them.
void QNL_hybridMessages::Judge(QNL_samplingNode& x, int slot, double own, Verdict& verdict) {
    const double centre = verdict.centre, spread = verdict.spread;
    verdict.narrow = verdict.several = false;
    double root = 0.0, slope = 0.0, sd = 0.0;
    bool found = x.SolveMean(slot, own, centre, root, slope, sd);
    if (found && !(sd / slope < NARROW_SHARE * spread)) return;
    for (double start : {centre - spread, centre + spread}) {
        double other = 0.0, otherSlope = 0.0, otherSd = 0.0;
        if (!x.SolveMean(slot, own, start, other, otherSlope, otherSd)) continue;
        if (!found) {
            found = true;
            root = other;
            slope = otherSlope;
            sd = otherSd;
        } else if (std::fabs(other - root) > sd / slope) {
            verdict.several = sd / slope < TOO_NARROW_SHARE * spread;
            return;
        }
    }
    if (!found || !(sd / slope < NARROW_SHARE * spread)) return;
    verdict.narrow = true;
    verdict.root = root;
    verdict.width = sd / slope;
}

// The density of a fixed node's value in a configuration that defines it by a distribution,
// for the current draws of its parents. Where that density, as a function of one open
// continuous parent, is far narrower than what the parent's message says of it (a node
// almost determined by it), draws of the parent from its message would seldom fall where
// the density is: the parent is drawn instead about the value that puts the distribution's
// mean at the evidence, found by Newton's method, as a parent is solved for from an equation.
// For the message to that parent (points) each such draw is a point of the estimate, weighed
// by the density over the draw's own; for any other, the parent is drawn half the time from
// there and half from its message, and weighed by its message over that mixture.
double QNL_hybridMessages::NarrowLikelihood(int h, int skip, bool points) {
    QNL_samplingNode& x = Node(h);
    // Messages that only propose leave a narrow density to the weights of the draws.
    if (sampling) return Clean(x.FixedWeight());
    int solve = -1;
    if (points && skip >= x.discreteParents) {
        solve = skip;
    } else {
        for (int i = static_cast<int>(x.parents.size()) - 1; i >= x.discreteParents && solve < 0;
             --i)
            if (i != skip && !Fixed(x.parents[static_cast<std::size_t>(i)])) solve = i;
    }
    if (solve < 0) return Clean(x.FixedWeight());
    auto& parent =
        static_cast<QNL_continuousSamplingNode&>(Node(x.parents[static_cast<std::size_t>(solve)]));
    QNL_sampleDistribution& message =
        *StateOf(h).fromParents[static_cast<std::size_t>(solve)].current;
    // A message that says nothing yet gives no spread to be narrow against.
    if (message.IsVoid()) return Clean(x.FixedWeight());
    const double low = parent.GetLowerBound(), high = parent.GetUpperBound();
    double centre = 0.0, spread = 0.0, own = 0.0, drawn = 0.0;
    Spread(message, low, high, centre, spread);
    x.GetFixedValue(own);
    parent.GetValue(drawn);
    const int slot = solve - x.discreteParents;
    // The verdict depends on the configuration and on the other open continuous parents'
    // draws: with none, it holds for every draw of the configuration while the message stays.
    State& st = StateOf(h);
    const bool alone = std::count_if(x.parents.begin() + x.discreteParents, x.parents.end(),
                                     [&](int p) { return !Fixed(p); }) == 1;
    Verdict local;
    Verdict* verdict = &local;
    if (alone) {
        if (st.verdicts.size() != x.NumberOfHolders()) st.verdicts.resize(x.NumberOfHolders());
        verdict = &st.verdicts[x.LastHolderIndex()];
        if (!(verdict->known && verdict->centre == centre && verdict->spread == spread)) {
            verdict->centre = centre;
            verdict->spread = spread;
            Judge(x, slot, own, *verdict);
            verdict->known = true;
        }
    } else {
        // A density wide by a margin about the first draw of an estimate is taken as wide
        // for the rest of it: a mean that moves with the parent at one pace everywhere, as
        // most do, is as wide about every root.
        if (st.wide.size() != x.NumberOfHolders()) st.wide.assign(x.NumberOfHolders(), -1);
        long long& wide = st.wide[x.LastHolderIndex()];
        if (wide == estimate) return Clean(x.FixedWeight());
        double m = 0.0, v = 0.0, d = 0.0;
        local.centre = centre;
        local.spread = spread;
        if (x.MeanAt(slot, drawn, m, v, d) &&
            std::sqrt(v) >= 2.0 * NARROW_SHARE * spread * std::fabs(d)) {
            wide = estimate;
            local.narrow = false;
        } else {
            Judge(x, slot, own, local);
        }
        x.Holder();
    }
    if (verdict->several && unsolved < 0) unsolved = h;
    if (!verdict->narrow) return Clean(x.FixedWeight());
    const double root = verdict->root, width = verdict->width;
    points = points && solve == skip;
    double u = drawn;
    if (points || Uniform() < NARROW_DRAW_SHARE)
        u = root + width * StandardNormalDraw(QNL_randomSamplingDistributions());
    if (!parent.Inside(u)) return 0.0;
    parent.SetValue(u);
    const double near = QNL_gaussianMixture::Normal(u, root, width * width);
    const double likelihood = Clean(x.FixedWeight());
    if (points) {
        if (likelihood > 0.0 && near > 0.0) solvedPoints.push_back({u, likelihood / near});
        narrowest = std::min(narrowest, width);
        return 0.0;
    }
    const double prior = Clean(message.Density(u));
    const double q = (1.0 - NARROW_DRAW_SHARE) * prior + NARROW_DRAW_SHARE * near;
    return q > 0.0 ? Clean(likelihood * prior / q) : 0.0;
}

// A draw of a continuous node given its parents' current values, weighed so that its
// expected weight is the integral of the definition times lambda. A node defined by a
// distribution is drawn from that distribution renormalised within its range for those
// values, as the model defines it, so that its range tells its parents nothing; an equation's
// value outside the range weighs 0. With a lambda, the draw comes from the product of the
// definition's normal summary with lambda and is weighed back to the definition: drawn from
// the definition alone, a lambda much narrower than it (evidence that pins the node) left a
// handful of the draws carrying all the weight, and the messages built on them collapsed.
double QNL_hybridMessages::DrawTimesLambda(int h, QNL_evaluationContext* holder,
                                           QNL_sampleDistribution* lambda) {
    QNL_samplingNode& x = Node(h);
    auto& bounded = static_cast<QNL_continuousSamplingNode&>(x);
    double value = 0.0;
    if (holder->HasExpressions()) {
        if (holder->DrawValue(&value) != 0 || !std::isfinite(value)) return 0.0;
        x.SetValue(value);
        if (!bounded.Inside(value)) return 0.0;
        return Void(lambda) ? 1.0 : Clean(lambda->Density(value));
    }
    if (Void(lambda)) return bounded.DrawInside(holder) ? 1.0 : 0.0;
    const double q = DrawFromProduct(h, holder, lambda);
    x.GetValue(value);
    if (!(q > 0.0) || !bounded.Inside(value)) return 0.0;
    return Clean(bounded.DensityWithin(holder, value) / q * lambda->Density(value));
}

// What the message to child k is drawn against: the node's definition alone (DEFINITION),
// times the one other child's message that says anything (that child's index), or times
// every child's (EVERY), with the receiver's own message divided out again. The division is
// kept only where two or more other children's messages have no single message for their
// product: where the receiver's own message is narrow, the draws crowd into it, and the few
// that weigh anything once it is divided out can't describe the wider message the child is
// due. The node's children say nothing of each other unless it is an ancestor of evidence.
int QNL_hybridMessages::Weighing(int h, std::size_t k) {
    if (!Ancestor(h)) return DEFINITION;
    State& st = StateOf(h);
    int single = DEFINITION;
    for (std::size_t j = 0; j < st.fromChildren.size(); ++j) {
        if (j == k || Void(st.fromChildren[j].current.get())) continue;
        if (single != DEFINITION) return EVERY;
        single = static_cast<int>(j);
    }
    return single;
}

void QNL_hybridMessages::ToChildren(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    auto to = [&](std::size_t k) -> Link& {
        return StateOf(x.children[k]).fromParents[static_cast<std::size_t>(st.slotAtChild[k])];
    };
    weighings.assign(x.children.size(), NONE);
    for (std::size_t k = 0; k < x.children.size(); ++k) {
        if (!st.childLast[k]) continue;
        weighings[k] = Weighing(h, k);
        Restart(to(k));
    }
    if (std::all_of(weighings.begin(), weighings.end(), [](int w) { return w == NONE; })) return;
    QNL_sampleDistribution* lambda = st.lambda.current.get();
    // A discrete root drawn against its definition alone: the prior itself.
    const bool prior = !x.IsContinuous() && x.parents.empty();
    if (prior) {
        QNL_evaluationContext* holder = x.Holder();
        const int n = static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes();
        for (std::size_t k = 0; k < x.children.size(); ++k)
            if (weighings[k] == DEFINITION)
                for (int s = 0; s < n; ++s)
                    Add(to(k), s, 0.0, holder->GetProbability(s));
    }
    // One set of draws per weighing, delivered to every child drawn against it.
    for (std::size_t first = 0; first < x.children.size(); ++first) {
        const int weighing = weighings[first];
        if (weighing == NONE || (prior && weighing == DEFINITION)) continue;
        if (std::find(weighings.begin(), weighings.begin() + static_cast<std::ptrdiff_t>(first),
                      weighing) != weighings.begin() + static_cast<std::ptrdiff_t>(first))
            continue;
        QNL_sampleDistribution* against =
            weighing == EVERY ? lambda
            : weighing == DEFINITION
                ? nullptr
                : st.fromChildren[static_cast<std::size_t>(weighing)].current.get();
        for (int i = 0; i < POINTS; ++i) {
            if (!DrawParents(h, -1)) continue;
            QNL_evaluationContext* holder = x.Holder();
            double w = 0.0, value = 0.0;
            int state = 0;
            if (x.IsContinuous()) {
                w = DrawTimesLambda(h, holder, against);
                x.GetValue(value);
            } else {
                const double q = DrawFromProduct(h, holder, against);
                x.GetState(state);
                w = Clean(holder->GetProbability(state)) / q;
                if (!Void(against)) w *= against->Probability(state);
            }
            w = Clean(w);
            if (!(w > 0.0)) continue;
            for (std::size_t k = first; k < x.children.size(); ++k) {
                if (weighings[k] != weighing) continue;
                double wk = w;
                QNL_sampleDistribution* own = st.fromChildren[k].current.get();
                if (weighing == EVERY && !Void(own)) {
                    const double d =
                        x.IsContinuous() ? own->Density(value) : own->Probability(state);
                    wk = d > 0.0 ? wk / d : 0.0;
                }
                Add(to(k), state, value, wk);
            }
        }
    }
    for (std::size_t k = 0; k < x.children.size(); ++k) {
        if (weighings[k] == NONE) continue;
        to(k).updated = true;
        ++sentMessages;
        if (!scheduled) MarkChanged(x.children[k], h, false);
    }
}

void QNL_hybridMessages::ToParents(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    ++estimate;
    for (std::size_t k = 0; k < x.parents.size(); ++k) {
        const int p = x.parents[k];
        if (!st.parentLast[k] || Fixed(p)) continue;
        Link& link = StateOf(p).fromChildren[static_cast<std::size_t>(st.slotAtParent[k])];
        if (link.next == nullptr) continue;
        Restart(link);
        QNL_sampleDistribution& proposal = *link.current;
        QNL_samplingNode& parent = Node(p);
        if (!parent.IsContinuous()) {
            // Every outcome is weighed rather than drawn: a count of draws per outcome would
            // only add noise to the estimate.
            const int n = static_cast<QNL_discreteSamplingNode&>(parent).GetNumberOfOutcomes();
            const int draws = std::max(INNER_DRAWS, POINTS * INNER_DRAWS / std::max(n, 1));
            for (int s = 0; s < n; ++s) {
                double sum = 0.0;
                for (int i = 0; i < draws; ++i) {
                    parent.SetState(s);
                    sum += InnerWeight(h, static_cast<int>(k));
                }
                Add(link, s, 0.0, sum / draws);
            }
        } else {
            // The parent never takes a value outside its bounds, and a draw weighed by one
            // over the proposal's density must not land where the proposal is thin: a share
            // of the draws is uniform over the bounds, so no weight exceeds the range over
            // that share. Without both, where the message is flatter than its previous
            // estimate, draws in the proposal's tails took over the fit and the message
            // collapsed onto single points, outside the range or at its edge.
            const auto& bounded = static_cast<const QNL_continuousSamplingNode&>(parent);
            const double low = bounded.GetLowerBound(), high = bounded.GetUpperBound();
            for (int i = 0; i < POINTS; ++i) {
                double u = 0.0, g = 1.0, density = 1.0 / (high - low);
                if (Void(&proposal)) {
                    if (proposal.SampleValue(u) != 0) continue;
                } else {
                    if (Uniform() < UNIFORM_SHARE)
                        u = low + Uniform() * (high - low);
                    else if (proposal.SampleValue(u) != 0)
                        continue;
                    g = (1.0 - UNIFORM_SHARE) * proposal.Density(u) + UNIFORM_SHARE / (high - low);
                    density = g;
                }
                if (!bounded.Inside(u)) continue;
                double sum = 0.0;
                solvedPoints.clear();
                solvedEquation = false;
                narrowest = std::numeric_limits<double>::infinity();
                for (int j = 0; j < INNER_DRAWS; ++j) {
                    parent.SetValue(u);
                    sum += InnerWeight(h, static_cast<int>(k));
                }
                // Draws whose configuration solves for this parent, by its equation or about a
                // narrow density, put their weight at the values so found, not at u.
                for (const QNL_weightedSample& point : solvedPoints)
                    Add(link, 0, point.value, point.weight / INNER_DRAWS);
                link.equationPoints = link.equationPoints || solvedEquation;
                link.narrowest = std::min(link.narrowest, narrowest);
                // The spacing is averaged by likelihood, not by weight: weighed by one over
                // the proposal's density, the few uniform points near the likelihood would
                // keep every message as wide as the uniform share's spacing.
                const double likelihood = Clean(sum / INNER_DRAWS);
                Add(link, 0, u, g > 0.0 ? likelihood / g : 0.0);
                if (likelihood > 0.0 && density > 0.0) {
                    link.spacing += likelihood / (POINTS * density);
                    link.likelihood += likelihood;
                }
            }
        }
        link.updated = true;
        ++sentMessages;
        if (!scheduled) MarkChanged(p, h, true);
    }
}

// From an observed equation: a continuous parent takes the value its solved expression gives
// for the other parents' draws; a discrete parent's outcomes are weighed by how likely the
// enforcing parent's solved value is under that parent's message.
void QNL_hybridMessages::FixedEquationToParents(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    double own = 0.0;
    x.GetFixedValue(own);
    const int enforcing = x.GetEnforcingParent();
    for (std::size_t k = 0; k < x.parents.size(); ++k) {
        const int p = x.parents[k];
        if (!st.parentLast[k] || Fixed(p)) continue;
        Link& link = StateOf(p).fromChildren[static_cast<std::size_t>(st.slotAtParent[k])];
        if (link.next == nullptr) continue;
        Restart(link);
        QNL_samplingNode& parent = Node(p);
        if (parent.IsContinuous()) {
            for (int i = 0; i < POINTS; ++i) {
                if (!DrawParents(h, static_cast<int>(k))) continue;
                QNL_evaluationContext* holder = x.Holder();
                x.SetOwnVariable(holder, own);
                double v = 0.0;
                if (holder->EvaluateNamed(parent.GetId(), &v) != 0 || !std::isfinite(v) ||
                    !static_cast<QNL_continuousSamplingNode&>(parent).Inside(v))
                    continue;
                parent.SetValue(v);
                Add(link, 0, v, 1.0);
            }
        } else if (enforcing >= 0) {
            const std::size_t slot =
                static_cast<std::size_t>(x.discreteParents + x.GetEnforcingSlot());
            QNL_sampleDistribution& message = *st.fromParents[slot].current;
            const int n = static_cast<QNL_discreteSamplingNode&>(parent).GetNumberOfOutcomes();
            const int draws = std::max(INNER_DRAWS, POINTS * INNER_DRAWS / std::max(n, 1));
            for (int s = 0; s < n; ++s) {
                double sum = 0.0;
                for (int i = 0; i < draws; ++i) {
                    if (!DrawParents(h, static_cast<int>(k))) continue;
                    parent.SetState(s);
                    x.Holder();
                    double v = 0.0;
                    if (!x.EvaluateEnforcing(own, v)) continue;
                    sum += Clean(message.Density(v));
                }
                Add(link, s, 0.0, sum / draws);
            }
        }
        link.updated = true;
        ++sentMessages;
        if (!scheduled) MarkChanged(p, h, true);
    }
}

int QNL_hybridMessages::TooNarrow() const {
    return unsolved;
}

int QNL_hybridMessages::WeightlessEvidence() const {
    for (int h : order) {
        const QNL_samplingNode& x = *nodes[static_cast<std::size_t>(h)];
        const State& st = states[static_cast<std::size_t>(h)];
        for (std::size_t k = 0; k < st.fromChildren.size(); ++k)
            if (st.fromChildren[k].weightless && Fixed(x.children[k])) return x.children[k];
    }
    return -1;
}

void QNL_hybridMessages::UpdateChildMessage(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    Link& lambda = st.lambda;
    lambda.next->Reset();
    lambda.total = 0.0;
    auto latest = [&](Link& link) { return link.updated ? link.next.get() : link.current.get(); };
    bool any = false;
    if (!x.IsContinuous()) {
        const int n = static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes();
        for (int s = 0; s < n; ++s) {
            double product = 1.0;
            for (Link& link : st.fromChildren) {
                QNL_sampleDistribution* message = latest(link);
                if (Void(message)) continue;
                any = true;
                product *= message->Probability(s);
            }
            Add(lambda, s, 0.0, product);
        }
    } else {
        candidates.clear();
        for (Link& link : st.fromChildren) {
            QNL_sampleDistribution* message = latest(link);
            if (!Void(message)) candidates.push_back(&Interval(*message).GetMixture());
        }
        any = !candidates.empty();
        if (candidates.size() == 1) {
            lambda.next->SetMixture(*candidates[0]);
            lambda.total = 1.0;
        } else if (candidates.size() > 1) {
            for (int i = 0; i < POINTS; ++i) {
                double weight = 0.0;
                const double value =
                    QNL_gaussianMixture::DrawProduct(candidates, DRAW_METHOD, weight);
                Add(lambda, 0, value, weight);
            }
        }
    }
    // A single candidate was taken over as it was fitted.
    const bool takenOver = x.IsContinuous() && candidates.size() == 1;
    if (!any || !(lambda.total > 0.0) || !std::isfinite(lambda.total))
        lambda.next.reset(NewMessage(h, true));
    else if (!takenOver)
        Normalize(*lambda.next);
    lambda.updated = true;
    st.lambdaStale = false;
}

// Normalises what arrived in this iteration (a message of no weight becomes void), rebuilds
// the combined child messages, swaps the buffers and moves the change bits on.
void QNL_hybridMessages::Settle() {
    for (int h : order)
        NormalizeArrived(h);
    for (int h : order)
        if (!Fixed(h) && StateOf(h).lambdaStale) UpdateChildMessage(h);
    for (int h : order) {
        State& st = StateOf(h);
        SwapArrived(st);
        st.parentLast.swap(st.parentNow);
        std::fill(st.parentNow.begin(), st.parentNow.end(), 0);
        st.childLast.swap(st.childNow);
        std::fill(st.childNow.begin(), st.childNow.end(), 0);
    }
}

void QNL_hybridMessages::BuildImportanceTable(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    st.hasTable = false;
    QNL_sampleDistribution* lambda = st.lambda.current.get();
    if (Fixed(h) || Void(lambda)) return;
    if (!x.IsContinuous()) {
        if (!x.parents.empty()) return;
        const int n = static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes();
        QNL_evaluationContext* holder = x.Holder();
        st.table.assign(static_cast<std::size_t>(n), 0.0);
        double sum = 0.0;
        for (int s = 0; s < n; ++s) {
            st.table[static_cast<std::size_t>(s)] =
                Clean(holder->GetProbability(s)) * lambda->Probability(s);
            sum += st.table[static_cast<std::size_t>(s)];
        }
        if (!(sum > 0.0)) return;
        for (double& t : st.table)
            t /= sum;
        st.hasTable = true;
        return;
    }
    if (static_cast<int>(x.parents.size()) != x.discreteParents) return;
    auto& holders = x.Holders();
    st.mixtures.assign(holders.size(), product);
    // A configuration defined by an equation keeps no mixture: its value is evaluated.
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (holders[i]->HasExpressions()) {
            st.mixtures[i].components.clear();
            continue;
        }
        ProductMixture(holders[i].get(), Interval(*lambda).GetMixture(), st.mixtures[i], 1e-7);
        if (st.mixtures[i].components.empty()) return;
    }
    st.hasTable = true;
}

void QNL_hybridMessages::Run() {
    Init();
    if (sampling) {
        for (int iteration = 0; iteration < ITERATIONS; ++iteration) {
            for (int h : order) {
                QNL_samplingNode& x = Node(h);
                const bool parentsOpen = std::any_of(x.parents.begin(), x.parents.end(),
                                                     [&](int p) { return !Fixed(p); });
                if (!Fixed(h)) {
                    if (!x.children.empty()) ToChildren(h);
                    if (Ancestor(h) && parentsOpen) ToParents(h);
                } else if (parentsOpen) {
                    if (x.IsEquation())
                        FixedEquationToParents(h);
                    else
                        ToParents(h);
                }
            }
            Settle();
        }
    } else {
        Schedule();
    }
    for (int h : order)
        BuildImportanceTable(h);
}

int QNL_hybridMessages::Sender(const Link& link) const {
    const QNL_samplingNode& r = *nodes[static_cast<std::size_t>(link.receiver)];
    return (link.fromChild ? r.children : r.parents)[static_cast<std::size_t>(link.slot)];
}

// A node's message to a child draws the node from its definition given its parents'
// messages, weighed by its other children's messages where it is an ancestor of evidence; its
// message to a parent weighs its children's messages for draws of its other parents. So a
// message into the node is an input of every message out of it but the one going back.
template <typename Visit> void QNL_hybridMessages::Dependents(const Link& link, Visit visit) {
    const int h = link.receiver;
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    if (!Fixed(h))
        for (std::size_t k = 0; k < x.children.size(); ++k) {
            if (link.fromChild && static_cast<int>(k) == link.slot) continue;
            Link& out =
                StateOf(x.children[k]).fromParents[static_cast<std::size_t>(st.slotAtChild[k])];
            if (out.live) visit(out);
        }
    for (std::size_t k = 0; k < x.parents.size(); ++k) {
        if (!link.fromChild && static_cast<int>(k) == link.slot) continue;
        Link& out =
            StateOf(x.parents[k]).fromChildren[static_cast<std::size_t>(st.slotAtParent[k])];
        if (out.live) visit(out);
    }
}

// What one round sent reaches its receiver, as Settle does for every node.
void QNL_hybridMessages::SettleReceiver(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    NormalizeArrived(h);
    for (Link& link : st.fromChildren) {
        if (link.next == nullptr || !link.updated) continue;
        link.moved = true;
        if (link.weightless || !x.IsContinuous()) continue;
        auto& bounded = static_cast<QNL_continuousSamplingNode&>(x);
        double mean = 0.0, sd = 0.0;
        Spread(*link.next, bounded.GetLowerBound(), bounded.GetUpperBound(), mean, sd);
        link.moved = !(std::fabs(mean - link.mean) <= SETTLED_SHARE * sd &&
                       std::fabs(sd - link.sd) <= SETTLED_SHARE * sd);
        link.mean = mean;
        link.sd = sd;
    }
    if (!Fixed(h) && st.lambdaStale) UpdateChildMessage(h);
    SwapArrived(st);
}

// The messages to h that arrived this round, normalised; one of no weight is void. One from a
// child makes the combined child messages stale.
void QNL_hybridMessages::NormalizeArrived(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    for (std::size_t k = 0; k < st.fromParents.size(); ++k) {
        Link& link = st.fromParents[k];
        if (!link.updated) continue;
        if (link.total > 0.0 && std::isfinite(link.total))
            Normalize(*link.next);
        else
            link.next.reset(NewMessage(x.parents[k], true));
    }
    for (Link& link : st.fromChildren) {
        if (link.next == nullptr || !link.updated) continue;
        st.lambdaStale = true;
        link.weightless = !(link.total > 0.0 && std::isfinite(link.total));
        if (!link.weightless)
            link.solved = SolvedBeyond(
                link, Normalize(*link.next,
                                link.likelihood > 0.0 ? link.spacing / link.likelihood : 0.0));
        else
            link.next.reset(NewMessage(h, true));
    }
}

// What arrived becomes current, and the buffers it replaced wait for the next round.
void QNL_hybridMessages::SwapArrived(State& st) {
    auto swap = [](Link& link) {
        if (!link.updated) return;
        std::swap(link.current, link.next);
        link.next->Reset();
        link.updated = false;
    };
    for (Link& link : st.fromParents)
        swap(link);
    for (Link& link : st.fromChildren)
        if (link.next != nullptr) swap(link);
    if (st.lambda.next != nullptr) swap(st.lambda);
}

// Rounds of messages, each round's messages computed from what the earlier rounds settled. A
// message waits until every message it is drawn from is settled, so that on a network
// without loops each is sent once (a message to a continuous parent again: its first points
// spread over the parent's whole range, the next drawn against that estimate, and once more
// where the estimate still moved; with one refinement only, a chain of eight came out a
// posterior sd off in one run of 1,600), and the work grows with the links, not with the
// links times the network's reach, as rounds that each sent every message did. Around a
// loop no message can wait for all the others: those left waiting are sent with what their
// inputs hold, and each is sent again as an input changes, at most ITERATIONS times more.
void QNL_hybridMessages::Schedule() {
    scheduled = true;
    std::vector<Link*> due, sent;
    std::vector<int> receivers;
    std::vector<char> touched(nodes.size(), 0);
    for (int h : order) {
        QNL_samplingNode& x = Node(h);
        State& st = StateOf(h);
        // Only the rounds say what is sent.
        std::fill(st.childLast.begin(), st.childLast.end(), 0);
        std::fill(st.parentLast.begin(), st.parentLast.end(), 0);
        for (std::size_t k = 0; k < x.parents.size(); ++k) {
            Link& link = st.fromParents[k];
            link.receiver = h;
            link.fromChild = false;
            link.slot = static_cast<int>(k);
            // A fixed child passes its evidence to its other open parents.
            const int p = x.parents[k];
            link.live =
                !Fixed(p) && (!Fixed(h) || std::any_of(x.parents.begin(), x.parents.end(),
                                                       [&](int q) { return q != p && !Fixed(q); }));
        }
        for (std::size_t k = 0; k < x.children.size(); ++k) {
            Link& link = st.fromChildren[k];
            link.receiver = h;
            link.fromChild = true;
            link.slot = static_cast<int>(k);
            const int c = x.children[k];
            link.live = link.next != nullptr && (Fixed(c) || Ancestor(c));
        }
    }
    auto each = [&](auto visit) {
        for (int h : order) {
            State& st = StateOf(h);
            for (Link& link : st.fromParents)
                visit(link);
            for (Link& link : st.fromChildren)
                visit(link);
        }
    };
    each([&](Link& link) {
        if (link.live) Dependents(link, [](Link& out) { ++out.missing; });
    });
    auto schedule = [&](Link& link) {
        if (link.due) return;
        link.due = true;
        due.push_back(&link);
    };
    each([&](Link& link) {
        if (link.live && link.missing == 0) schedule(link);
    });
    bool looped = false;
    std::vector<int> senders;
    for (;;) {
        if (due.empty()) {
            if (looped) break;
            // What is left waits on a loop.
            looped = true;
            each([&](Link& link) {
                if (link.live && link.sent == 0) schedule(link);
            });
            if (due.empty()) break;
        }
        senders.clear();
        for (Link* link : due) {
            const int s = Sender(*link);
            State& from = StateOf(s);
            const State& at = StateOf(link->receiver);
            if (link->fromChild)
                from.parentLast[static_cast<std::size_t>(at.slotAtChild[link->slot])] = 1;
            else
                from.childLast[static_cast<std::size_t>(at.slotAtParent[link->slot])] = 1;
            if (!touched[static_cast<std::size_t>(s)]) {
                touched[static_cast<std::size_t>(s)] = 1;
                senders.push_back(s);
            }
        }
        for (int s : senders) {
            touched[static_cast<std::size_t>(s)] = 0;
            QNL_samplingNode& x = Node(s);
            State& st = StateOf(s);
            if (!Fixed(s)) {
                if (std::find(st.childLast.begin(), st.childLast.end(), 1) != st.childLast.end())
                    ToChildren(s);
                if (std::find(st.parentLast.begin(), st.parentLast.end(), 1) != st.parentLast.end())
                    ToParents(s);
            } else if (x.IsEquation()) {
                FixedEquationToParents(s);
            } else {
                ToParents(s);
            }
            std::fill(st.childLast.begin(), st.childLast.end(), 0);
            std::fill(st.parentLast.begin(), st.parentLast.end(), 0);
        }
        receivers.clear();
        for (Link* link : due) {
            link->due = false;
            ++link->sent;
            if (!touched[static_cast<std::size_t>(link->receiver)]) {
                touched[static_cast<std::size_t>(link->receiver)] = 1;
                receivers.push_back(link->receiver);
            }
        }
        for (int r : receivers) {
            touched[static_cast<std::size_t>(r)] = 0;
            SettleReceiver(r);
        }
        sent.swap(due);
        due.clear();
        for (Link* link : sent) {
            // Sent against its own estimate again: always after its first points spread over
            // the range, then while the estimate still moves.
            if (link->fromChild && Node(link->receiver).IsContinuous() &&
                link->sent <= REFINEMENTS && (link->sent == 1 || link->moved)) {
                schedule(*link);
                continue;
            }
            if (looped) {
                Dependents(*link, [&](Link& out) {
                    if (out.sent <= ITERATIONS) schedule(out);
                });
            } else if (!link->settled) {
                link->settled = true;
                Dependents(*link, [&](Link& out) {
                    if (--out.missing == 0) schedule(out);
                });
            }
        }
    }
}

// The draw mixes the messages' proposal with the node's own definition, which takes a
// DEFENSIVE_SHARE of the draws, and is weighed by that two-part proposal. The messages are
// Monte Carlo estimates: a proposal narrower than the posterior, or placed beside it, never
// reaches part of it (a normal draw stops at six standard deviations), while the definition
// reaches every value the posterior can hold, and keeps every weight below 1 / share.
double QNL_hybridMessages::DrawWeighted(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    QNL_sampleDistribution* lambda = st.lambda.current.get();
    if (!x.IsContinuous()) {
        if (!st.hasTable && Void(lambda)) return x.DrawWeighted();
        QNL_evaluationContext* holder = x.Holder();
        const std::size_t n = static_cast<std::size_t>(
            static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes());
        double sum = 0.0;
        for (std::size_t s = 0; s < n; ++s) {
            priors[s] = Clean(holder->GetProbability(static_cast<int>(s)));
            scratch[s] = st.hasTable ? st.table[s]
                                     : priors[s] * lambda->Probability(static_cast<int>(s));
            sum += scratch[s];
        }
        if (!(sum > 0.0) || !std::isfinite(sum)) return x.DrawWeighted();
        for (std::size_t s = 0; s < n; ++s)
            scratch[s] = (1.0 - DEFENSIVE_SHARE) * scratch[s] / sum + DEFENSIVE_SHARE * priors[s];
        const int state = DrawIndex(scratch.data(), static_cast<int>(n));
        x.SetState(state);
        const double q = scratch[static_cast<std::size_t>(state)];
        return q > 0.0 ? priors[static_cast<std::size_t>(state)] / q : 0.0;
    }
    QNL_evaluationContext* holder = x.Holder();
    if (holder->HasExpressions() || (!st.hasTable && Void(lambda))) return x.DrawWeighted();
    const QNL_gaussianMixture* mixture = &product;
    if (st.hasTable)
        mixture = &st.mixtures[x.LastHolderIndex()];
    else
        ProductMixture(holder, Interval(*lambda).GetMixture(), product, 1e-6);
    // Both parts of the proposal are drawn within the range and weighed by the densities they
    // are drawn from there: a part drawn again until it falls inside has the density
    // renormalised within the range, and dividing by the plain one tilted the parents by the
    // share each of their values lets fall outside.
    auto& continuous = static_cast<QNL_continuousSamplingNode&>(x);
    const double low = continuous.GetLowerBound(), high = continuous.GetUpperBound();
    const double mass = mixture->MassWithin(low, high);
    if (!(mass > 0.0) || !std::isfinite(mass)) return x.DrawWeighted();
    double v = 0.0;
    if (Uniform() < DEFENSIVE_SHARE) {
        if (!continuous.DrawInside(holder)) return 0.0;
        x.GetValue(v);
    } else {
        if (!mixture->DrawWithin(low, high, mass, v)) return 0.0;
        x.SetValue(v);
    }
    const double prior = continuous.DensityWithin(holder, v);
    const double q = (1.0 - DEFENSIVE_SHARE) * mixture->Density(v) / mass + DEFENSIVE_SHARE * prior;
    return q > 0.0 ? prior / q : 0.0;
}

void QNL_hybridMessages::WriteBeliefs(int h, QNL_node& node, int samples) {
    QNL_samplingNode& x = Node(h);
    ++estimate;
    if (Fixed(h)) {
        x.WriteResult(node);
        return;
    }
    QNL_sampleDistribution* lambda = StateOf(h).lambda.current.get();
    if (!x.IsContinuous()) {
        const int n = static_cast<QNL_discreteSamplingNode&>(x).GetNumberOfOutcomes();
        std::vector<double> belief(static_cast<std::size_t>(n), 0.0);
        const int draws = x.parents.empty() ? 1 : samples;
        for (int i = 0; i < draws; ++i) {
            if (!DrawParents(h, -1)) continue;
            QNL_evaluationContext* holder = x.Holder();
            for (int s = 0; s < n; ++s)
                belief[static_cast<std::size_t>(s)] += Clean(holder->GetProbability(s));
        }
        double sum = 0.0;
        for (int s = 0; s < n; ++s) {
            if (!Void(lambda)) belief[static_cast<std::size_t>(s)] *= lambda->Probability(s);
            sum += belief[static_cast<std::size_t>(s)];
        }
        if (!(sum > 0.0) || !std::isfinite(sum)) return;
        for (double& b : belief)
            b /= sum;
        quarn::detail::WriteNodeBeliefs(&node, belief.data(), n);
        return;
    }
    auto& continuous = static_cast<QNL_continuousSamplingNode&>(x);
    std::vector<QNL_weightedSample> beliefs;
    beliefs.reserve(static_cast<std::size_t>(std::max(samples, 0)));
    for (int i = 0; i < samples; ++i) {
        if (!DrawParents(h, -1)) continue;
        const double q = DrawWeighted(h);
        double v = 0.0;
        x.GetValue(v);
        if (!(q > 0.0) || !continuous.Inside(v)) continue;
        const double w = Clean(q * ChildrenWeight(h));
        if (w > 0.0) beliefs.push_back({v, w});
    }
    continuous.WriteSamples(node, beliefs);
}

// What the children say of the node's current value. An observed child gives the probability
// or density of its evidence, for draws of its other parents from their messages, as its
// message to the node estimates it; that message's fit of two Gaussians only proposes values,
// since it can't hold a step or two distant peaks, and a fit of points solved from an
// equation adds the noise of its own draws. Any other child gives its fitted message.
double QNL_hybridMessages::ChildrenWeight(int h) {
    QNL_samplingNode& x = Node(h);
    State& st = StateOf(h);
    double v = 0.0;
    x.GetValue(v);
    double w = 1.0;
    for (std::size_t k = 0; k < x.children.size() && w > 0.0; ++k) {
        const int c = x.children[k];
        // A child whose value no parent is solved from, defined by an equation, weighs
        // nothing but the exact value; and one whose message holds points solved for this
        // node, from an equation or about a narrow density, is weighed by that message alone:
        // no density at the node's value could weigh the points, and the message puts them and
        // the child's other configurations on one scale. Where only this node could be solved
        // for, the message says it.
        const QNL_samplingNode& child = Node(c);
        if (Fixed(c) && !st.fromChildren[k].solved &&
            (child.Has(QNL_samplingNode::ENFORCED_THROUGH_PARENT) || !child.IsEquation())) {
            const double likelihood = DrawParents(c, st.slotAtChild[k])
                                          ? FixedLikelihood(c, st.slotAtChild[k], false)
                                          : 0.0;
            if (likelihood >= 0.0) {
                w *= likelihood;
                continue;
            }
        }
        QNL_sampleDistribution* message = st.fromChildren[k].current.get();
        if (!Void(message)) w *= message->Density(v);
    }
    return Clean(w);
}
