#pragma once

// Internal: not part of the public interface.

#include "model/network.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarn::detail {

// Where the copies of the plate nodes went: plate lists the plate nodes in slot order, and
// copies[t * plate.size() + i] is the handle of plate node i's copy in slice t (slice 0 is
// the node's own handle).
struct SliceCopies {
    int slices = 0;
    std::vector<int> plate;
    std::vector<int> copies;
    int CopyOf(int slice, std::size_t index) const {
        return copies[static_cast<std::size_t>(slice) * plate.size() + index];
    }
};

// An unrolling kept between updates, with what it was built from: an update that changed
// only evidence (of nodes or of slices) reuses it and the join trees it keeps.
struct UnrolledNetwork {
    QNL_network network;
    SliceCopies where;
    std::uint64_t structureVersion = 0;
    std::uint64_t definitionsVersion = 0;
    std::vector<int> targets;
    // Distinct for every unrolling made.
    std::uint64_t serial = 0;
};

// Makes target a plain network with one copy of every plate node per slice: copies are
// named "<id>_<slice>", connected to their parents in the same slice and to their temporal
// parents in earlier slices, and take the definition of the largest order not above their
// slice; anchors condition slice 0 only, terminals are fed from the last slice. -2 with a
// message naming the node when a slice has no table that fits its parents.
int UnrollTemporalNetwork(const QNL_network& source, QNL_network& target, SliceCopies& where);

// Belief updating and the probability of evidence of a dynamic network, through its
// unrolling. A plate node's value becomes slices x outcomes; in a diagram, a row whose copy
// is indexed by open decisions or observations holds the undefined marker, and so does a value
// outside the plate indexed by a copy of a later slice.
int UpdateTemporalNetwork(QNL_network& network);
bool ProbEvidenceOfTemporalNetwork(const QNL_network& network, double& result, bool chainRule);

} // namespace quarn::detail
