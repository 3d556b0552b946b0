#include "support/hybrid_network.h"

#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "model/error_handler.h"
#include "model/node.h"
#include "numerics/random.h"

#include <vector>

namespace quarn_test {

void HybridNetworkTest::SetUp() {
    QNL_errorHandler::Instance().Flush();
    Seed(1234);
}

void HybridNetworkTest::Seed(unsigned seed) {
    for (QNL_random* random : {&QNL_randomUniform(), &QNL_randomMixtures(),
                               &QNL_randomSamplingNodes(), &QNL_randomSamplingDistributions()})
        random->Seed(seed);
}

int HybridNetworkTest::Continuous(int type, const char* id, const std::string& expression,
                                  double lower, double upper) {
    const int h = net.AddNode(type, id);
    EXPECT_GE(h, 0) << id;
    auto* def = Continuous(h);
    def->SetLowerBound(lower);
    def->SetUpperBound(upper);
    if (!expression.empty()) {
        EXPECT_EQ(def->SetExpression(0, expression), 0) << expression;
    }
    return h;
}

QNL_continuousDefinition* HybridNetworkTest::Continuous(int h) {
    return dynamic_cast<QNL_continuousDefinition*>(net.GetNode(h)->GetDefinition());
}

int HybridNetworkTest::Discrete(const char* id, const std::string& first,
                                const std::string& second) {
    const int h = net.AddNode(QNL_TYPE_DCHILDHPARENT, id);
    auto* def = dynamic_cast<QNL_dchildHparent*>(net.GetNode(h)->GetDefinition());
    EXPECT_EQ(def->SetExpression(0, "state0", first), 0);
    EXPECT_EQ(def->SetExpression(0, "state1", second), 0);
    return h;
}

QNL_nodeValue* HybridNetworkTest::Value(int h) {
    return net.GetNode(h)->GetValue();
}

Moments WeightedMoments(QNL_nodeValue* value) {
    const std::vector<QNL_weightedSample>* samples = nullptr;
    if (auto* continuous = dynamic_cast<QNL_continuousValue*>(value))
        samples = &continuous->GetSamples();
    else if (auto* equation = dynamic_cast<QNL_equationValue*>(value))
        samples = &equation->GetSamples();
    Moments m;
    if (samples == nullptr) {
        ADD_FAILURE() << "a value keeps no samples";
        return m;
    }
    double total = 0.0, sum = 0.0, squares = 0.0, weights = 0.0;
    for (const auto& s : *samples) {
        total += s.weight;
        sum += s.weight * s.value;
        squares += s.weight * s.value * s.value;
        weights += s.weight * s.weight;
    }
    m.mean = sum / total;
    m.variance = squares / total - m.mean * m.mean;
    m.effective = total * total / weights;
    return m;
}

Moments HybridNetworkTest::Of(int h) {
    return WeightedMoments(Value(h));
}

double HybridNetworkTest::Belief(int h, int outcome) {
    return Value(h)->GetMatrix()->Subscript(outcome);
}

int HybridNetworkTest::Update(int algorithm, int samples) {
    net.SetDefaultHBNAlgorithm(algorithm);
    net.SetNumberOfSamples(samples);
    return net.UpdateBeliefs();
}

bool HybridNetworkTest::Logged(const std::string& text) {
    auto& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (std::string(log.GetMessage(i)).find(text) != std::string::npos) return true;
    return false;
}

} // namespace quarn_test
