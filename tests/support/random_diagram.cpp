#include "support/random_diagram.h"

#include "definitions/mau.h"
#include "definitions/node_value.h"
#include "definitions/table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "support/beliefs.h"
#include "support/network_builder.h"
#include "support/random_network.h"

#include <algorithm>
#include <string>

namespace quarn_test {
namespace {

// A random column for every parent configuration; some cells are zero unless told not.
void FillTable(QNL_network& net, int h, TestRandom& random, bool zeros) {
    QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
    definition->SetDefinition(
        ArrayOf(RandomColumns(random, definition->GetMatrix()->GetSize(),
                              definition->GetNumberOfOutcomes(), zeros ? 0.2 : 0.0)));
}

// An outcome of the node drawn from its table's column at the parents' sampled outcomes,
// never one of probability zero.
int Draw(QNL_network& net, int h, const std::vector<int>& sample, TestRandom& random) {
    const QNL_Dmatrix& m = *net.GetNode(h)->GetDefinition()->GetMatrix();
    const QNL_intArray& parents = net.GetParents(h);
    int at = 0;
    for (int i = 0; i < parents.GetCount(); ++i)
        at += sample[parents[i]] * m.GetMultiplier(i);
    double u = random.Uniform();
    const int outcomes = m.GetSizeOfDimension(parents.GetCount());
    int o = 0;
    while (o < outcomes - 1 && (u -= m.Subscript(at + o)) >= 0.0)
        ++o;
    while (m.Subscript(at + o) == 0.0)
        o = (o + 1) % outcomes;
    return o;
}

} // namespace

std::vector<double> RandomColumns(TestRandom& random, int size, int outcomes, double zeroShare) {
    std::vector<double> values(static_cast<std::size_t>(size));
    for (std::size_t column = 0; column < values.size(); column += outcomes) {
        double sum = 0.0;
        for (int o = 0; o < outcomes; ++o)
            sum += values[column + o] =
                random.Uniform() < zeroShare ? 0.0 : random.Uniform() + 0.05;
        if (sum == 0.0) values[column + random.Below(outcomes)] = sum = 1.0;
        for (int o = 0; o < outcomes; ++o)
            values[column + o] /= sum;
    }
    return values;
}

int AddDefined(QNL_network& net, int type, const char* id, const std::vector<int>& parents,
               const std::vector<double>& numbers, int outcomes) {
    const int h = net.AddNode(type, id);
    QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
    if (outcomes > 2) definition->SetNumberOfOutcomes(outcomes);
    for (int p : parents)
        net.AddArc(p, h);
    if (!numbers.empty()) definition->SetDefinition(ArrayOf(numbers));
    return h;
}

RandomDiagram BuildRandomDiagram(QNL_network& net, std::uint64_t seed,
                                 const DiagramOptions& options) {
    TestRandom random(seed);
    RandomDiagram d;
    auto pick = [&](const std::vector<int>& from) { return from[random.Below(from.size())]; };
    auto fill = [&](int h, int range, int shift, double scale) {
        std::vector<double> values(net.GetNode(h)->GetDefinition()->GetSize());
        for (double& v : values)
            v = (random.Below(range) - shift) / scale;
        net.GetNode(h)->GetDefinition()->SetDefinition(ArrayOf(values));
    };
    const int chanceCount = 2 + random.Below(3);
    const int decisionCount = 1 + random.Below(3);
    std::vector<int> placed;
    std::vector<char> influenced(1, 0);
    int c = 0, k = 0;
    while (c < chanceCount || k < decisionCount) {
        const bool decision = k < decisionCount && (c == chanceCount || random.Below(2) == 0);
        const std::string id = decision ? "D" + std::to_string(k++) : "C" + std::to_string(c++);
        const int h = AddDefined(net, decision ? QNL_TYPE_LIST : QNL_TYPE_CPT, id.c_str(), {}, {},
                                 2 + random.Below(2));
        influenced.resize(std::max<std::size_t>(influenced.size(), h + 1), 0);
        influenced[h] = decision;
        for (int i = 0, parents = placed.empty() ? 0 : random.Below(3); i < parents; ++i) {
            const int p = pick(placed);
            if (net.GetParents(h).IsInList(p)) continue;
            net.AddArc(p, h);
            if (influenced[p]) influenced[h] = 1;
        }
        (decision ? d.decisions : d.chance).push_back(h);
        placed.push_back(h);
    }
    for (int h : d.chance)
        FillTable(net, h, random, options.zeros);

    const int utilityCount = options.mau ? 2 + random.Below(3) : 1 + random.Below(3);
    for (int i = 0; i < utilityCount; ++i) {
        const int u = AddDefined(net, QNL_TYPE_TABLE, ("U" + std::to_string(i)).c_str(), {}, {}, 0);
        for (int j = 0, parents = 1 + random.Below(2); j < parents; ++j) {
            const int p = pick(placed);
            if (!net.GetParents(u).IsInList(p)) net.AddArc(p, u);
        }
        fill(u, 201, 100, 1.0);
        d.utilities.push_back(u);
    }
    if (utilityCount >= 2 && (options.mau || random.Below(2) == 0)) {
        d.mau = AddDefined(net, QNL_TYPE_MAU, "M0", {d.utilities[0], d.utilities[1]});
        if (random.Below(2) == 0) net.AddArc(d.decisions.back(), d.mau);
        fill(d.mau, 9, 3, 2.0);
    }
    if (options.mau && utilityCount >= 3 && random.Below(2) == 0) {
        d.outerMau = AddDefined(net, QNL_TYPE_MAU, "M1", {d.mau, d.utilities[2]});
        if (random.Below(2) == 0) net.AddArc(pick(d.decisions), d.outerMau);
        fill(d.outerMau, 9, 3, 2.0);
    }

    std::vector<int> free;
    if (random.Below(2) == 0)
        for (int h : d.chance)
            if (!influenced[h]) free.push_back(h);
    // The nodes no decision influences are drawn first, so that the evidence below the
    // decisions is drawn given the free evidence.
    std::vector<int> sample(influenced.size(), 0);
    if (!free.empty()) {
        for (int h : free)
            sample[h] = Draw(net, h, sample, random);
        d.evidence = pick(free);
        net.GetNode(d.evidence)->GetValue()->SetEvidence(sample[d.evidence]);
    }
    if (!options.evidenceBelowDecisions) return d;
    std::vector<int> below;
    for (int h : placed) {
        const bool decision = net.GetNode(h)->GetType() == QNL_TYPE_LIST;
        if (!decision && !influenced[h] && !free.empty()) continue;
        sample[h] = decision ? random.Below(net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes())
                             : Draw(net, h, sample, random);
        if (!decision && influenced[h]) below.push_back(h);
    }
    for (int h : below)
        if ((random.Below(3) != 0 || (h == below.back() && d.evidenceBelow.empty())) &&
            net.GetNode(h)->GetValue()->SetEvidence(sample[h]) == 0)
            d.evidenceBelow.push_back(h);
    return d;
}

void PermuteOutcomes(QNL_network& net, const std::vector<std::vector<int>>& to) {
    auto map = [&](int h, int o) {
        const std::size_t at = static_cast<std::size_t>(h);
        return at < to.size() && !to[at].empty() ? to[at][static_cast<std::size_t>(o)] : o;
    };
    std::vector<std::pair<int, int>> evidence;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeValue* value = net.GetNode(h)->GetValue();
        if (value == nullptr || !value->HasEvidence()) continue;
        evidence.emplace_back(h, map(h, value->GetEvidence()));
        value->ClearEvidence();
    }
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeDefinition* definition = net.GetNode(h)->GetDefinition();
        // The nodes whose outcomes the table's dimensions run over, -1 for none.
        std::vector<int> over;
        const QNL_Dmatrix* m = nullptr;
        if (definition->GetType() == QNL_TYPE_MAU) {
            const auto& mau = static_cast<const QNL_mau&>(*definition);
            m = &mau.GetWeights();
            const QNL_intArray& decisions = mau.GetDecisionParents();
            over.assign(decisions.Items(), decisions.Items() + decisions.GetCount());
        } else if (definition->GetType() == QNL_TYPE_CPT ||
                   definition->GetType() == QNL_TYPE_TABLE) {
            m = definition->GetMatrix();
            const QNL_intArray& parents = net.GetParents(h);
            for (int i = 0; i < parents.GetCount(); ++i)
                if (QNL_IsTableParentType(net.GetNode(parents[i])->GetType()))
                    over.push_back(parents[i]);
            if (definition->GetType() == QNL_TYPE_CPT) over.push_back(h);
        }
        if (m == nullptr || m->GetSize() == 0) continue;
        while (static_cast<int>(over.size()) < m->GetNumberOfDimensions())
            over.push_back(-1);
        std::vector<double> moved(static_cast<std::size_t>(m->GetSize()));
        for (int i = 0; i < m->GetSize(); ++i) {
            int rest = i, at = 0;
            for (int d = m->GetNumberOfDimensions(); d-- > 0;) {
                const int size = m->GetSizeOfDimension(d);
                const int c = rest % size;
                rest /= size;
                at += (over[static_cast<std::size_t>(d)] < 0 ? c : map(over[d], c)) *
                      m->GetMultiplier(d);
            }
            moved[static_cast<std::size_t>(at)] = m->Subscript(i);
        }
        definition->SetDefinition(ArrayOf(moved));
    }
    for (const auto& [h, o] : evidence)
        net.GetNode(h)->GetValue()->SetEvidence(o);
}

std::vector<std::vector<int>> RandomOutcomeOrders(QNL_network& net, std::uint64_t seed) {
    TestRandom random(seed);
    std::vector<std::vector<int>> to(static_cast<std::size_t>(net.GetTableSize()));
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        if (!QNL_IsTableParentType(net.GetNode(h)->GetType())) continue;
        std::vector<int>& order = to[static_cast<std::size_t>(h)];
        for (int o = 0; o < net.GetNode(h)->GetDefinition()->GetNumberOfOutcomes(); ++o)
            order.insert(order.begin() + random.Below(static_cast<int>(order.size()) + 1), o);
    }
    return to;
}

std::vector<double> ValueCells(QNL_network& net, int h) {
    return Beliefs(net, h);
}

bool Logged(const std::string& message) {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (message == log.GetMessage(i)) return true;
    return false;
}

OilWildcatter BuildOilWildcatter(QNL_network& net, bool informed) {
    OilWildcatter w{};
    w.oil = AddDefined(net, QNL_TYPE_CPT, "Oil", {});
    net.GetNode(w.oil)->GetDefinition()->SetNumberOfOutcomes(StringsOf({"dry", "wet", "soaking"}));
    net.GetNode(w.oil)->GetDefinition()->SetDefinition(ArrayOf({0.5, 0.3, 0.2}));
    w.drill = AddDefined(net, QNL_TYPE_LIST, "Drill", {});
    net.GetNode(w.drill)->GetDefinition()->SetNumberOfOutcomes(StringsOf({"drill", "nodrill"}));
    if (informed) net.AddArc(w.oil, w.drill);
    w.profit = AddDefined(net, QNL_TYPE_TABLE, "Profit", {w.oil, w.drill},
                          {-70.0, 0.0, 50.0, 0.0, 200.0, 0.0});
    return w;
}

} // namespace quarn_test
