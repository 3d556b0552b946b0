#pragma once

#include <cstdint>
#include <vector>

class QNL_network;

// Identifiers of the Bayesian-network algorithms, as the network keeps them.
constexpr int QNL_ALG_BN_CLUSTERING = 0;
constexpr int QNL_ALG_BN_LOGIC_SAMPLING = 1;
constexpr int QNL_ALG_BN_POLYTREE = 2;
constexpr int QNL_ALG_BN_LIKELIHOOD_WEIGHTING = 3;
constexpr int QNL_ALG_BN_IMPORTANCE_SAMPLING = 4;
constexpr int QNL_ALG_BN_LIKELIHOOD_WEIGHTING_ALIAS = 5;
constexpr int QNL_ALG_BN_BACKWARD_SAMPLING = 6;
constexpr int QNL_ALG_BN_ADAPTIVE_IMPORTANCE = 7;
constexpr int QNL_ALG_BN_PROPAGATED_IMPORTANCE = 8;
constexpr int QNL_ALG_BN_MESSAGE_PASSING = 9;
constexpr int QNL_ALG_BN_ELIMINATION_JOIN_TREE = 10;
constexpr int QNL_ALG_BN_RELEVANCE_DECOMPOSITION = 11;
constexpr int QNL_ALG_BN_RELEVANCE_DECOMPOSITION_UNBATCHED = 12;

// Identifiers of the influence-diagram solvers.
constexpr int QNL_ALG_ID_COOPER = 0;
constexpr int QNL_ALG_ID_SHACHTER = 1;

// Identifiers of the hybrid-network algorithms.
constexpr int QNL_ALG_HBN_PROPAGATED_IMPORTANCE = 13;
constexpr int QNL_ALG_HBN_LIKELIHOOD_WEIGHTING = 14;
constexpr int QNL_ALG_HBN_MESSAGE_PASSING = 15;
constexpr int QNL_ALG_HBN_LOGIC_SAMPLING = 16;

// Exact belief updating of a plain Bayesian network: a clustering join tree per component of
// the relevance reduction, and the relevance decomposition that splits the wanted nodes into
// smaller target sets when one tree for all of them would be too large. The drivers work on
// the caller's network in place and keep nothing between calls; the decompositions change the
// target set while they run and leave it as they found it.

// Identifier 0: clustering; when that fails, the decomposition in batches, unless the network
// has exactly one target or the property "QNL_REL_DECOMP_DISABLE_FALLBACK" is present.
bool RunDefaultAlgorithm(QNL_network& network);
// Identifier 11: the decomposition in batches of pending nodes.
bool RunRelevanceDecomposition(QNL_network& network);
// Identifier 12: the decomposition of all pending nodes at once, halved on failure.
bool RunRelevanceDecompositionUnbatched(QNL_network& network);

// Beliefs of every reported node (and of every node whose byte in `mask` is set; indexed by
// node handle, null for none), component by component. A limit of 0 is the triangulation's
// default cap on the total weight. False when a component's tree cannot be built within the
// limit (beliefs of earlier components stay written) or the reduction fails. Evidence that a
// node's own table rules out, given its observed parents, leaves every belief invalid and
// counts as handled.
bool RunClustering(QNL_network& network, unsigned char* mask, std::uint64_t limit);

// Sizes the pending mask to the last handle + 1: every node is pending when the network has
// no target, else its targets only, but for observed nodes whose value (their finding) is
// valid. A pending node's byte is 2 when its value is valid already, 1 otherwise. With
// targets, `saved` receives a byte per target and the targets are cleared; otherwise `saved`
// is emptied.
void PrepareNodeMask(QNL_network& network, std::vector<unsigned char>& mask,
                     std::vector<unsigned char>& saved);
// One batch of the decomposition: all of it under `firstLimit` (a single node under the
// default cap), then on failure the halves under `splitLimit`, the second half first.
bool SolveTargetBatch(QNL_network& network, unsigned char* mask, const int* batch, int count,
                      std::uint64_t firstLimit, std::uint64_t splitLimit);
// The still pending nodes of the list as targets under `limit` (a single node under the
// default cap), halved on failure down to single nodes.
bool SolveTargetRange(QNL_network& network, unsigned char* mask, const int* list, int count,
                      std::uint64_t limit);

// The probability of the user evidence under the network's current targets, which must hold
// every parent of every observed node (as QNL_network::CalcPropEvidence sets them). 1.0 for a
// network without nodes; a negative value when a tree cannot be built, the reduction fails or
// an observed node outside every component has a parent without evidence; 0 with a message
// when it is below the smallest double.
double ProbEvidenceByClustering(QNL_network& network);

namespace quarn::detail {
class ScaledValue;
}
// The same however small it is: false where the double version gives a negative value.
bool ProbEvidenceByClustering(QNL_network& network, quarn::detail::ScaledValue& result);

namespace quarn::detail {

// The decomposition's settings from the network's user properties.
struct DecompositionSettings {
    int batchSize = 32;                   // "QNL_REL_DECOMP_THRESHOLD"
    std::uint64_t firstLimit = 0;         // first attempt of a batch
    std::uint64_t splitLimit = 65536;     // smaller attempts of identifier 11
    std::uint64_t unbatchedLimit = 65536; // every attempt of identifier 12
};
DecompositionSettings ReadDecompositionSettings(const QNL_network& network);

// The leading decimal integer of a property value, as the algorithms read their settings:
// text that does not begin with a number is 0; values beyond the int range are clamped.
int LeadingInteger(const char* text);

// Evidence that a node's own table rules out given its observed parents: no posterior
// exists, and the reduction could drop that node alone with its zero factor.
bool HasLocallyImpossibleEvidence(const QNL_network& network);

// The identifier's name for messages ("QNL_ALG_BN_POLYTREE"); null outside 0..12.
const char* BayesianAlgorithmName(int id);

class ScaledValue;
// A probability as a double. One too small for a double to hold is 0, like an impossible one,
// so a message with its order of magnitude is logged (-2) to tell the two apart: `what`
// followed by " underflowed: 3.09e-884 is below the smallest double, 0 returned". The caller
// still reports success.
double ValueOrLoggedSize(const ScaledValue& probability, const char* what);
// The same for a probability of evidence ("Probability of evidence underflowed: ...").
double ProbabilityOfEvidenceValue(const ScaledValue& probability);

} // namespace quarn::detail
