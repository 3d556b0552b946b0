#pragma once

#include <string>
#include <vector>

class QNL_network;
class QNL_nodeValue;

// The yardstick of the sampled updates after edits: a copy of the network updated afresh with
// every generator seeded alike repeats an update bit for bit, so a value left valid must hold
// exactly what the copy computes.
namespace quarn_test {

// Seeds every generator the samplers and the equation solver draw from.
void SeedAllGenerators(unsigned seed);
// Everything an update writes into a value or the user enters, as exact numbers.
std::vector<double> Content(QNL_nodeValue& value);
// Element by element, NaN equal to NaN.
bool Same(const std::vector<double>& a, const std::vector<double>& b);
// Every value the network marks valid holds what a fresh copy computes: the copy's values
// invalidated and updated by the same algorithm from generators seeded with `seed`. When the
// fresh update fails there is nothing to compare with.
void ExpectValidValuesFresh(const QNL_network& net, const std::string& label, unsigned seed);

} // namespace quarn_test
