#include "support/beliefs.h"

#include "definitions/node_value.h"
#include "model/dmatrix.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "support/network_builder.h"
#include "support/oracle.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quarn_test {

QNL_nodeValue& ValueOf(const QNL_network& network, int handle) {
    return *network.GetNode(handle)->GetValue();
}

double Belief(const QNL_network& network, int handle, int outcome) {
    return ValueOf(network, handle).GetMatrix()->Subscript(outcome);
}

std::vector<double> Beliefs(const QNL_network& network, int handle) {
    const QNL_doubleArray& cells = ValueOf(network, handle).GetMatrix()->GetItems();
    return std::vector<double>(cells.Items(), cells.Items() + cells.GetSize());
}

std::vector<int> Targets(const QNL_network& network) {
    std::vector<int> out;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
        if (network.IsTarget(h) == 1) out.push_back(h);
    return out;
}

std::vector<int> Unobserved(const QNL_network& network, const std::vector<int>& nodes) {
    std::vector<int> out;
    for (int h : nodes)
        if (!ValueOf(network, h).IsObserved()) out.push_back(h);
    return out;
}

void ExpectOracle(const QNL_network& network, const std::string& label, std::vector<int> nodes) {
    const Enumeration expected = Enumerate(network);
    ASSERT_TRUE(expected.ok) << expected.error;
    if (nodes.empty())
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h))
            if (!ValueOf(network, h).IsObserved()) nodes.push_back(h);
    for (int h : nodes) {
        const std::string at = label + " node " + std::to_string(h);
        ASSERT_TRUE(ValueOf(network, h).IsValueValid()) << at;
        ExpectNear(Beliefs(network, h), expected.Posterior(h), 1e-9, at);
    }
}

void ExpectNoValidBeliefs(const QNL_network& network, const std::string& label) {
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        if (ValueOf(network, h).IsObserved()) continue;
        EXPECT_FALSE(ValueOf(network, h).IsValueValid()) << label << " node " << h;
        for (double b : Beliefs(network, h))
            EXPECT_FALSE(std::isnan(b)) << label << " node " << h;
    }
}

void ExpectValidValuesCurrent(const QNL_network& network, const std::string& label) {
    const Enumeration truth = Enumerate(network);
    ASSERT_TRUE(truth.ok) << label << ": " << truth.error;
    for (int h = network.GetFirstNode(); h >= 0 && truth.probabilityOfEvidence > 0;
         h = network.GetNextNode(h)) {
        if (!ValueOf(network, h).IsValueValid()) continue;
        ExpectNear(Beliefs(network, h), truth.Posterior(h), 1e-9,
                   label + " node " + std::to_string(h));
    }
}

std::vector<std::string> State(const QNL_network& network) {
    std::vector<std::string> state;
    for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
        QNL_nodeValue& value = ValueOf(network, h);
        std::string s = std::to_string(h) + (value.HasEvidence() ? " E" : "") +
                        (value.HasPropagatedEvidence() ? " P" : "") +
                        (value.IsValueValid() ? " valid" : "");
        if (value.GetMatrix() != nullptr && value.IsValueValid())
            for (double cell : Beliefs(network, h))
                s += ' ' + std::string(reinterpret_cast<const char*>(&cell), sizeof cell);
        state.push_back(s);
    }
    return state;
}

std::vector<std::string> Messages() {
    std::vector<std::string> out;
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        out.push_back(std::to_string(log.GetCode(i)) + " " +
                      (log.GetMessage(i) != nullptr ? log.GetMessage(i) : ""));
    log.Flush();
    return out;
}

double LoggedLog10(const std::string& message) {
    const std::size_t at = message.find("underflowed: ");
    if (at == std::string::npos) return 0.0;
    const std::size_t from = at + 13;
    const std::string size = message.substr(from, message.find(' ', from) - from);
    const std::size_t e = size.find('e');
    if (e == std::string::npos) return 0.0;
    return std::log10(std::stod(size.substr(0, e))) + std::stod(size.substr(e + 1));
}

} // namespace quarn_test
