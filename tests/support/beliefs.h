#pragma once

#include <string>
#include <vector>

class QNL_network;
class QNL_nodeValue;

// Reading back what an update wrote, and checking it against enumeration, for the tests of
// the exact algorithms and of the network's update.
namespace quarn_test {

QNL_nodeValue& ValueOf(const QNL_network& network, int handle);
double Belief(const QNL_network& network, int handle, int outcome);
std::vector<double> Beliefs(const QNL_network& network, int handle);
// The handles of the targets, in slot order.
std::vector<int> Targets(const QNL_network& network);
// The nodes of the list without evidence, in list order.
std::vector<int> Unobserved(const QNL_network& network, const std::vector<int>& nodes);

// Every node in `nodes` (every unobserved node when empty) holds valid beliefs equal to the
// enumerated posterior within 1e-9; failures name the label, node and outcome.
void ExpectOracle(const QNL_network& network, const std::string& label,
                  std::vector<int> nodes = {});

// Every value flagged valid holds what enumeration gives within 1e-9 (nothing is compared
// under evidence of probability 0, where no posterior exists).
void ExpectValidValuesCurrent(const QNL_network& network, const std::string& label);

// After an update under impossible evidence: no unobserved node holds valid beliefs, and none
// holds a NaN.
void ExpectNoValidBeliefs(const QNL_network& network, const std::string& label);

// Each node's evidence kind, validity and cells (as bytes), for comparisons bit for bit.
std::vector<std::string> State(const QNL_network& network);
// The logged entries as "<code> <message>", emptying the log.
std::vector<std::string> Messages();
// log10 of the size an underflow message gives ("... underflowed: 3.09e-884 is below ..."),
// 0 when the message gives none.
double LoggedLog10(const std::string& message);

} // namespace quarn_test
