#include "support/oracle.h"

#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"

namespace quarn_test {

namespace {

struct Variable {
    int handle = -1;
    int outcomes = 0;
    int evidence = -1;
    std::vector<int> parents; // positions in the variable list
    const QNL_Dmatrix* table = nullptr;
};

} // namespace

Enumeration Enumerate(const QNL_network& network, const std::vector<int>& jointNodes) {
    Enumeration result;
    std::vector<Variable> variables;
    std::vector<int> positionOf(network.GetTableSize(), -1);
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        positionOf[h] = static_cast<int>(variables.size());
        variables.emplace_back();
        variables.back().handle = h;
    }

    double configurations = 1.0;
    for (Variable& v : variables) {
        QNL_node* node = network.GetNode(v.handle);
        v.outcomes = node->GetDefinition()->GetNumberOfOutcomes();
        v.table = node->GetDefinition()->GetMatrix();
        const QNL_nodeValue* value = node->GetValue();
        if (value != nullptr && value->HasEvidence()) v.evidence = value->GetEvidence();
        const QNL_intArray& parents = network.GetParents(v.handle);
        for (int i = 0; i < parents.GetCount(); ++i)
            v.parents.push_back(positionOf[parents[i]]);
        configurations *= v.outcomes;
    }
    for (const Variable& v : variables) {
        const int rank = static_cast<int>(v.parents.size()) + 1;
        bool fits = v.table != nullptr && v.table->GetNumberOfDimensions() == rank &&
                    v.table->GetSizeOfDimension(rank - 1) == v.outcomes;
        for (int i = 0; fits && i + 1 < rank; ++i)
            fits = v.table->GetSizeOfDimension(i) == variables[v.parents[i]].outcomes;
        if (!fits) {
            result.error = "the table of node " + std::to_string(v.handle) +
                           " does not have one dimension per parent and its outcomes last";
            return result;
        }
    }
    if (configurations > Enumeration::kMaxConfigurations) {
        result.error = "too many joint configurations to enumerate";
        return result;
    }

    std::vector<std::vector<double>> mass(variables.size());
    for (std::size_t i = 0; i < variables.size(); ++i)
        mass[i].assign(variables[i].outcomes, 0.0);
    std::size_t jointSize = 1;
    for (int h : jointNodes)
        jointSize *= variables[positionOf[h]].outcomes;
    result.joint.assign(jointSize, 0.0);

    // Odometer over all joint configurations, the last variable fastest.
    std::vector<int> x(variables.size(), 0);
    double total = 0.0;
    for (bool carry = false; !carry;) {
        bool consistent = true;
        for (std::size_t i = 0; i < variables.size() && consistent; ++i)
            consistent = variables[i].evidence < 0 || variables[i].evidence == x[i];
        if (consistent) {
            double p = 1.0;
            for (std::size_t i = 0; i < variables.size(); ++i) {
                const Variable& v = variables[i];
                int cell = x[i] * v.table->GetMultiplier(static_cast<int>(v.parents.size()));
                for (std::size_t k = 0; k < v.parents.size(); ++k)
                    cell += x[v.parents[k]] * v.table->GetMultiplier(static_cast<int>(k));
                p *= v.table->Subscript(cell);
            }
            total += p;
            for (std::size_t i = 0; i < variables.size(); ++i)
                mass[i][x[i]] += p;
            std::size_t at = 0;
            for (int h : jointNodes)
                at = at * variables[positionOf[h]].outcomes + x[positionOf[h]];
            result.joint[at] += p;
        }
        carry = true; // stays set once every digit wrapped: all configurations seen
        for (std::size_t i = variables.size(); carry && i-- > 0;)
            if ((carry = ++x[i] == variables[i].outcomes)) x[i] = 0;
    }

    result.probabilityOfEvidence = total;
    result.posteriors.resize(network.GetTableSize());
    auto normalise = [total](std::vector<double>& cells) {
        for (double& p : cells)
            p = total > 0.0 ? p / total : 0.0;
    };
    for (std::size_t i = 0; i < variables.size(); ++i)
        normalise(result.posteriors[variables[i].handle] = mass[i]);
    normalise(result.joint);
    result.ok = true;
    return result;
}

} // namespace quarn_test
