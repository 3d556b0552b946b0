#include "support/hidden_chain.h"

#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/temporal_network.h"
#include "support/network_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace quarn_test {

ChainSpec AlternatingChains(int rows, int steps) {
    ChainSpec spec;
    spec.rows = rows;
    spec.steps = steps;
    spec.first = {0.5, 0.5};
    spec.along = {0.9, 0.1, 0.1, 0.9};
    spec.down = {0.8, 0.2, 0.3, 0.7};
    spec.both = {0.9, 0.1, 0.15, 0.85, 0.65, 0.35, 0.05, 0.95};
    spec.emission = {0.7, 0.3, 0.2, 0.8};
    spec.finding = [](int row, int step) { return (row + step) % 2; };
    return spec;
}

namespace {

int AddNode(QNL_network& network, const std::string& id, int outcomes) {
    const int handle = network.AddNode(QNL_TYPE_CPT, id.c_str());
    EXPECT_GE(handle, 0) << id;
    EXPECT_EQ(network.GetNode(handle)->GetDefinition()->SetNumberOfOutcomes(outcomes), 0) << id;
    return handle;
}

void SetTable(QNL_nodeDefinition* definition, const std::vector<double>& table) {
    EXPECT_EQ(definition->SetDefinition(ArrayOf(table)), 0);
}

int Findings(const ChainSpec& spec) {
    return static_cast<int>(spec.emission.size()) / spec.states;
}

} // namespace

// Notifications are off while the structure is built (each arc would walk the whole chain
// before it) and the findings are entered in one batch.
ChainHandles BuildChains(QNL_network& network, const ChainSpec& spec) {
    ChainHandles h;
    const int control = network.GetNotificationControl();
    network.SetNotificationControl(0);
    h.hidden.assign(static_cast<std::size_t>(spec.rows), {});
    h.observed.assign(static_cast<std::size_t>(spec.rows), {});
    for (int t = 0; t < spec.steps; ++t)
        for (int r = 0; r < spec.rows; ++r) {
            const std::string at = std::to_string(r) + "_" + std::to_string(t);
            const int hidden = AddNode(network, "H" + at, spec.states);
            const int observed = AddNode(network, "O" + at, Findings(spec));
            auto& row = h.hidden[static_cast<std::size_t>(r)];
            // The node above first, then the predecessor: the order of the tables.
            if (r > 0) network.AddArc(h.hidden[static_cast<std::size_t>(r) - 1].back(), hidden);
            if (t > 0) network.AddArc(row.back(), hidden);
            network.AddArc(hidden, observed);
            SetTable(network.GetNode(hidden)->GetDefinition(),
                     r == 0 ? (t == 0 ? spec.first : spec.along)
                            : (t == 0 ? spec.down : spec.both));
            SetTable(network.GetNode(observed)->GetDefinition(), spec.emission);
            row.push_back(hidden);
            h.observed[static_cast<std::size_t>(r)].push_back(observed);
        }
    network.SetNotificationControl(control);
    const QNL_evidenceBatch batch(network);
    for (int r = 0; r < spec.rows; ++r)
        for (int t = 0; t < spec.steps; ++t)
            EXPECT_EQ(
                network
                    .GetNode(h.observed[static_cast<std::size_t>(r)][static_cast<std::size_t>(t)])
                    ->GetValue()
                    ->SetEvidence(spec.finding(r, t)),
                0);
    return h;
}

ChainHandles BuildDynamicChains(QNL_network& network, const ChainSpec& spec) {
    ChainHandles h;
    for (int r = 0; r < spec.rows; ++r) {
        const int hidden = AddNode(network, "H" + std::to_string(r), spec.states);
        const int observed = AddNode(network, "O" + std::to_string(r), Findings(spec));
        EXPECT_EQ(network.SetTemporalType(hidden, 3) + network.SetTemporalType(observed, 3), 0);
        if (r > 0) {
            EXPECT_EQ(network.AddArc(h.hidden.back()[0], hidden), 0);
        }
        EXPECT_EQ(network.AddArc(hidden, observed), 0);
        EXPECT_EQ(network.AddTemporalArc(hidden, hidden, 1), 0);
        h.hidden.push_back({hidden});
        h.observed.push_back({observed});
    }
    EXPECT_EQ(network.SetNumberOfSlices(spec.steps), 0);
    for (int r = 0; r < spec.rows; ++r) {
        const int hidden = h.hidden[static_cast<std::size_t>(r)][0];
        SetTable(network.GetNode(hidden)->GetDefinition(), r == 0 ? spec.first : spec.down);
        // Ordinary parents before temporal ones: (above, predecessor) as in the plain chains.
        SetTable(network.GetTemporalNetwork().GetTemporalDefinition(hidden, 1),
                 r == 0 ? spec.along : spec.both);
        const int observed = h.observed[static_cast<std::size_t>(r)][0];
        SetTable(network.GetNode(observed)->GetDefinition(), spec.emission);
        EXPECT_EQ(network.GetNode(observed)->GetValue()->SetEvidence(spec.finding(r, 0)), 0);
        for (int t = 1; t < spec.steps; ++t)
            EXPECT_EQ(network.SetSliceEvidence(observed, t, spec.finding(r, t)), 0);
    }
    return h;
}

double ChainPosterior::Evidence() const {
    const long double whole = std::floor(log2Evidence);
    if (whole < -2000.0L) return 0.0;
    return std::ldexp(static_cast<double>(std::exp2(log2Evidence - whole)),
                      static_cast<int>(whole));
}

// Over the joint state of all rows (row r's outcome is digit r, base `states`): the chains of
// one step form one hidden Markov model.
ChainPosterior ForwardBackward(const ChainSpec& spec) {
    const int n = spec.states;
    int joint = 1;
    for (int r = 0; r < spec.rows; ++r)
        joint *= n;
    auto digit = [&](int s, int r) {
        for (int k = 0; k < r; ++k)
            s /= n;
        return s % n;
    };
    auto cell = [](const std::vector<double>& table, int index) {
        return table[static_cast<std::size_t>(index)];
    };
    // P(row states of one step | the states of the step before, or none at step 0).
    auto step = [&](int from, int to, bool firstStep) {
        double p = 1.0;
        for (int r = 0; r < spec.rows; ++r) {
            const int own = digit(to, r);
            const int prev = digit(from, r);
            const int above = r > 0 ? digit(to, r - 1) : 0;
            if (r == 0)
                p *= firstStep ? cell(spec.first, own) : cell(spec.along, prev * n + own);
            else
                p *= firstStep ? cell(spec.down, above * n + own)
                               : cell(spec.both, (above * n + prev) * n + own);
        }
        return p;
    };
    const int findings = Findings(spec);
    auto likelihood = [&](int s, int t) {
        double p = 1.0;
        for (int r = 0; r < spec.rows; ++r)
            p *= cell(spec.emission, digit(s, r) * findings + spec.finding(r, t));
        return p;
    };
    const std::size_t steps = static_cast<std::size_t>(spec.steps);
    const std::size_t states = static_cast<std::size_t>(joint);
    std::vector<std::vector<double>> alpha(steps, std::vector<double>(states, 0.0));
    std::vector<std::vector<double>> beta(steps, std::vector<double>(states, 1.0));
    ChainPosterior out;
    for (std::size_t t = 0; t < steps; ++t) {
        double total = 0.0;
        for (int s = 0; s < joint; ++s) {
            double a = 0.0;
            if (t == 0) {
                a = step(0, s, true);
            } else {
                for (int q = 0; q < joint; ++q)
                    a += alpha[t - 1][static_cast<std::size_t>(q)] * step(q, s, false);
            }
            a *= likelihood(s, static_cast<int>(t));
            alpha[t][static_cast<std::size_t>(s)] = a;
            total += a;
        }
        out.log2Evidence += std::log2(static_cast<long double>(total));
        for (double& a : alpha[t])
            a /= total;
    }
    for (std::size_t t = steps - 1; t-- > 0;) {
        double total = 0.0;
        for (int s = 0; s < joint; ++s) {
            double b = 0.0;
            for (int q = 0; q < joint; ++q)
                b += step(s, q, false) * likelihood(q, static_cast<int>(t) + 1) *
                     beta[t + 1][static_cast<std::size_t>(q)];
            beta[t][static_cast<std::size_t>(s)] = b;
            total += b;
        }
        for (double& b : beta[t])
            b /= total;
    }
    out.hidden.assign(
        static_cast<std::size_t>(spec.rows),
        std::vector<std::vector<double>>(steps, std::vector<double>(static_cast<std::size_t>(n))));
    for (std::size_t t = 0; t < steps; ++t) {
        double total = 0.0;
        for (std::size_t s = 0; s < states; ++s)
            total += alpha[t][s] * beta[t][s];
        for (int s = 0; s < joint; ++s) {
            const double p = alpha[t][static_cast<std::size_t>(s)] *
                             beta[t][static_cast<std::size_t>(s)] / total;
            for (int r = 0; r < spec.rows; ++r)
                out.hidden[static_cast<std::size_t>(r)][t][static_cast<std::size_t>(digit(s, r))] +=
                    p;
        }
    }
    return out;
}

} // namespace quarn_test
