#include "support/fresh_update.h"

#include "definitions/node_values.h"
#include "model/network.h"
#include "model/node.h"
#include "numerics/random.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quarn_test {

void SeedAllGenerators(unsigned seed) {
    for (QNL_random* random : {&QNL_randomUniform(), &QNL_randomMixtures(),
                               &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()})
        random->Seed(seed);
}

std::vector<double> Content(QNL_nodeValue& value) {
    const unsigned kinds = QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED;
    std::vector<double> out{static_cast<double>(value.GetFlags() & kinds)};
    double x = 0.0;
    if (value.IsObserved() && value.GetEvidence(&x) == 0) out.push_back(x);
    if (auto* equation = dynamic_cast<QNL_equationValue*>(&value)) {
        out.push_back(equation->GetMean());
        out.push_back(equation->GetStandardDeviation());
        for (const auto& sample : equation->GetSamples())
            out.insert(out.end(), {sample.value, sample.weight});
    } else if (auto* continuous = dynamic_cast<QNL_continuousValue*>(&value)) {
        for (const auto& sample : continuous->GetSamples())
            out.insert(out.end(), {sample.value, sample.weight});
    } else if (const QNL_Dmatrix* beliefs = value.GetMatrix()) {
        for (int i = 0; i < beliefs->GetSize(); ++i)
            out.push_back(beliefs->Subscript(i));
    }
    return out;
}

bool Same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
    return true;
}

void ExpectValidValuesFresh(const QNL_network& net, const std::string& label, unsigned seed) {
    QNL_network fresh(net);
    fresh.InvalidateValues();
    SeedAllGenerators(seed);
    if (fresh.UpdateBeliefs() != 0) return;
    for (int h = net.GetFirstNode(); h >= 0; h = net.GetNextNode(h)) {
        QNL_nodeValue& value = *net.GetNode(h)->GetValue();
        if (!value.IsValueValid()) continue;
        QNL_nodeValue& other = *fresh.GetNode(h)->GetValue();
        EXPECT_TRUE(other.IsValueValid() && Same(Content(value), Content(other)))
            << label << ": node " << net.GetNode(h)->GetId() << " stays valid but is stale";
    }
}

} // namespace quarn_test
