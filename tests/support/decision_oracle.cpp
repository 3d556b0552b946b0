#include "support/decision_oracle.h"

#include "definitions/mau.h"
#include "definitions/node_values.h"
#include "definitions/table.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quarn_test {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

int TypeOf(const QNL_network& net, int h) {
    return net.GetNode(h)->GetType();
}

int Evidence(const QNL_network& net, int h) {
    const QNL_nodeValue* value = net.GetNode(h)->GetValue();
    return value != nullptr && value->HasEvidence() ? value->GetEvidence() : -1;
}

// The cell of a table whose dimensions are the node's table-type parents and then `own`.
double Cell(const QNL_network& net, int h, const QNL_Dmatrix& m, const std::vector<int>& at,
            int own) {
    const QNL_intArray& parents = net.GetParents(h);
    std::int64_t index = 0;
    int dim = 0;
    for (int i = 0; i < parents.GetCount(); ++i) {
        if (!QNL_IsTableParentType(TypeOf(net, parents[i]))) continue;
        index += std::int64_t{at[parents[i]]} * m.GetMultiplier(dim++);
    }
    index += own * (dim < m.GetNumberOfDimensions() ? m.GetMultiplier(dim) : 0);
    return m.Subscript(static_cast<int>(index));
}

} // namespace

DecisionOracle SolveByEnumeration(QNL_network& net) {
    DecisionOracle out;
    const QNL_intArray order(net.GetOrderedNodes());
    std::vector<int> variables, utilities, sizes(static_cast<std::size_t>(net.GetTableSize()), 0);
    double configurations = 1.0;
    for (int i = 0; i < order.GetCount(); ++i) {
        const int h = order[i];
        const int type = TypeOf(net, h);
        if (type & QNL_TYPE_BIT_UTILITY) {
            utilities.push_back(h);
            continue;
        }
        if (!QNL_IsTableParentType(type)) {
            out.error = "node type not supported";
            return out;
        }
        sizes[h] = net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes();
        configurations *= sizes[h];
        variables.push_back(h);
    }
    if (configurations > DecisionOracle::kMaxConfigurations) {
        out.error = "too many configurations";
        return out;
    }
    std::vector<char> listed(sizes.size(), 0);
    auto list = [&](int h) {
        if (!listed[h] && Evidence(net, h) < 0) out.sequence.push_back(h);
        listed[h] = 1;
    };
    for (int h : variables) {
        if (!(TypeOf(net, h) & QNL_TYPE_BIT_DECISION)) continue;
        for (int p : variables)
            if (net.GetParents(h).IsInList(p)) list(p);
        list(h);
    }
    std::size_t assignments = 1;
    for (int h : out.sequence) {
        out.sizes.push_back(sizes[h]);
        assignments *= static_cast<std::size_t>(sizes[h]);
    }

    // Joint mass and utility mass per assignment of the sequence.
    std::vector<double> mass(assignments, 0.0), overallMass(assignments, 0.0);
    std::vector<int> unobserved;
    double beliefCells = 0.0;
    for (int h : variables)
        if (!(TypeOf(net, h) & QNL_TYPE_BIT_DECISION) && Evidence(net, h) < 0) {
            unobserved.push_back(h);
            beliefCells += static_cast<double>(assignments) * sizes[h];
        }
    if (beliefCells > DecisionOracle::kMaxBeliefCells) unobserved.clear();
    for (int h : unobserved)
        out.beliefMass[h].assign(assignments * static_cast<std::size_t>(sizes[h]), 0.0);
    std::map<int, std::vector<double>> utilityMass;
    for (int u : utilities)
        utilityMass[u].assign(assignments, 0.0);
    std::vector<int> at(sizes.size(), 0);
    std::vector<double> utility(sizes.size(), 0.0);
    for (std::int64_t c = 0; c < static_cast<std::int64_t>(configurations); ++c) {
        std::int64_t rest = c;
        for (auto it = variables.rbegin(); it != variables.rend(); ++it) {
            at[*it] = static_cast<int>(rest % sizes[*it]);
            rest /= sizes[*it];
        }
        double weight = 1.0;
        for (int h : variables) {
            const int e = Evidence(net, h);
            if (e >= 0 && e != at[h]) weight = 0.0;
            if (weight == 0.0) break;
            if (TypeOf(net, h) & QNL_TYPE_BIT_DECISION) continue;
            weight *= Cell(net, h, *net.GetNode(h)->GetDefinition()->GetMatrix(), at, at[h]);
        }
        if (weight == 0.0) continue;
        std::size_t s = 0;
        for (int h : out.sequence)
            s = s * static_cast<std::size_t>(sizes[h]) + static_cast<std::size_t>(at[h]);
        mass[s] += weight;
        for (int h : unobserved)
            out.beliefMass[h][s * static_cast<std::size_t>(sizes[h]) +
                              static_cast<std::size_t>(at[h])] += weight;
        double total = 0.0;
        for (int u : utilities) {
            QNL_nodeDefinition* definition = net.GetNode(u)->GetDefinition();
            double value = 0.0;
            if (definition->GetType() == QNL_TYPE_TABLE) {
                value = Cell(net, u, *definition->GetMatrix(), at, 0);
            } else {
                const auto& mau = static_cast<const QNL_mau&>(*definition);
                const QNL_intArray& decisions = mau.GetDecisionParents();
                const QNL_intArray& parents = mau.GetUtilityParents();
                std::vector<double> inputs;
                for (int k = 0; k < parents.GetCount(); ++k)
                    inputs.push_back(utility[parents[k]]);
                int index = 0;
                for (int j = 0; j < decisions.GetCount(); ++j)
                    index += at[decisions[j]] * (mau.GetExpressions() != nullptr
                                                     ? mau.GetExpressions()->GetMultiplier(j)
                                                     : mau.GetWeights().GetMultiplier(j));
                value = QNL_mauValue::Combine(mau, index, inputs);
            }
            utility[u] = value;
            utilityMass[u][s] += weight * value;
            if (net.NumberOfChildren(u) == 0) total += value;
        }
        overallMass[s] += weight * total;
    }

    auto ratio = [&](const std::vector<double>& numerator) {
        std::vector<double> r(assignments, kNaN);
        for (std::size_t s = 0; s < assignments; ++s)
            if (mass[s] > 0.0) r[s] = numerator[s] / mass[s];
        return r;
    };
    for (auto& [u, m] : utilityMass)
        out.expected[u] = ratio(m);
    out.overall = ratio(overallMass);
    out.mass = mass;

    // Backward induction: value and mass over the prefixes, shortest last.
    std::vector<double> value = out.overall, prefixMass = mass;
    for (std::size_t k = out.sequence.size(); k-- > 0;) {
        const std::size_t n = out.sizes[k];
        const std::size_t shorter = value.size() / n;
        std::vector<double> next(shorter, kNaN), nextMass(shorter, 0.0);
        const bool decision = (TypeOf(net, out.sequence[k]) & QNL_TYPE_BIT_DECISION) != 0;
        if (decision) out.decisionUtilities[out.sequence[k]] = value;
        for (std::size_t j = 0; j < shorter; ++j) {
            double sum = 0.0;
            for (std::size_t x = 0; x < n; ++x) {
                const double v = value[j * n + x];
                nextMass[j] += prefixMass[j * n + x];
                if (std::isnan(v)) continue;
                if (!decision)
                    sum += prefixMass[j * n + x] * v;
                else if (std::isnan(next[j]) || v > next[j])
                    next[j] = v;
            }
            if (!decision && nextMass[j] > 0.0) next[j] = sum / nextMass[j];
        }
        value.swap(next);
        prefixMass.swap(nextMass);
    }
    out.ok = true;
    return out;
}

std::vector<double> Conditional(const DecisionOracle& oracle, int node,
                                const std::vector<int>& given) {
    std::vector<int> chosen(given);
    chosen.push_back(node);
    std::vector<std::size_t> position;
    std::size_t cells = 1;
    for (int h : chosen) {
        const auto at = std::find(oracle.sequence.begin(), oracle.sequence.end(), h);
        if (at == oracle.sequence.end()) return {};
        position.push_back(static_cast<std::size_t>(at - oracle.sequence.begin()));
        cells *= static_cast<std::size_t>(oracle.sizes[position.back()]);
    }
    std::vector<double> joint(cells, 0.0);
    std::vector<int> at(oracle.sequence.size(), 0);
    for (std::size_t s = 0; s < oracle.mass.size(); ++s) {
        std::size_t rest = s;
        for (std::size_t k = oracle.sequence.size(); k-- > 0;) {
            at[k] = static_cast<int>(rest % static_cast<std::size_t>(oracle.sizes[k]));
            rest /= static_cast<std::size_t>(oracle.sizes[k]);
        }
        std::size_t cell = 0;
        for (std::size_t p : position)
            cell =
                cell * static_cast<std::size_t>(oracle.sizes[p]) + static_cast<std::size_t>(at[p]);
        joint[cell] += oracle.mass[s];
    }
    const std::size_t own = static_cast<std::size_t>(oracle.sizes[position.back()]);
    std::vector<double> out(cells, kNaN);
    for (std::size_t j = 0; j < cells; j += own) {
        double sum = 0.0;
        for (std::size_t o = 0; o < own; ++o)
            sum += joint[j + o];
        if (sum > 0.0)
            for (std::size_t o = 0; o < own; ++o)
                out[j + o] = joint[j + o] / sum;
    }
    return out;
}

} // namespace quarn_test
