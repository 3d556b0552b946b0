#pragma once

#include "definitions/hybrid_definition.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <string>

class QNL_nodeValue;

// What the hybrid-inference tests share: a network built node by node from continuous
// nodes with their bounds and discrete nodes whose outcome weights are expressions, every
// generator the samplers draw from seeded at once, and the weighted moments a run leaves.
namespace quarn_test {

struct Moments {
    double mean = 0.0;
    double variance = 0.0;
    // The effective number of the weighted samples: (sum w)^2 / sum w^2.
    double effective = 0.0;
};

// The weighted moments of the samples a continuous or equation value keeps.
Moments WeightedMoments(QNL_nodeValue* value);

class HybridNetworkTest : public ::testing::Test {
public:
    void SetUp() override;
    // Every generator the samplers and the messages draw from: a failure repeats.
    static void Seed(unsigned seed);

    // A continuous node of the type (DISTRIBUTION or HEQUATION) with its bounds and, unless
    // empty, its first expression.
    int Continuous(int type, const char* id, const std::string& expression, double lower,
                   double upper);
    QNL_continuousDefinition* Continuous(int h);
    // A discrete node of two outcomes whose probabilities the expressions give.
    int Discrete(const char* id, const std::string& first, const std::string& second);
    QNL_nodeValue* Value(int h);
    // The weighted moments of the samples of a continuous or equation node.
    Moments Of(int h);
    double Belief(int h, int outcome = 0);
    int Update(int algorithm, int samples);
    // Whether a message of the log contains the text.
    static bool Logged(const std::string& text);

    QNL_network net;
};

} // namespace quarn_test
