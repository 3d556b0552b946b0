// Value invalidation in dynamic networks. The invalidation walk runs on the template graph,
// where a plate node stands for all its slices and temporal arcs do not appear, so it cannot
// tell which values an edit leaves as they were. Values there are only ever written by an
// update of the whole unrolling, which writes every value: so every notified change in a
// network with a plate node, and every edit of the temporal extension, invalidates them all.

#include "model/network.h"

#include "model/temporal_network.h"

// Temporal types change only with the structure version: whether a plate node is held is
// looked for once per version, not once per finding.
void QNL_network::InvalidateIfDynamic() {
    if (!temporal) return;
    if (!plateKnown || plateVersion != structureVersion) {
        plateHeld = false;
        for (int h = GetFirstNode(); h >= 0 && !plateHeld; h = GetNextNode(h))
            plateHeld = table[h].temporalType == QNL_temporalNetwork::PLATE;
        plateVersion = structureVersion;
        plateKnown = true;
    }
    if (plateHeld) InvalidateEveryValue();
}

// A temporal definition reported a change through its own (private, quiet) network. It is
// acted on as a change of the owner's node would be.
void QNL_network::TemporalDefinitionChanged(int kind) {
    if (!(notificationControl & NOTIFY_ON) || (notificationMask & kind) != kind) return;
    if (kind == CHANGE_OUTCOMES || kind == CHANGE_VALUES || kind == CHANGE_SHAPE)
        InvalidateEveryValue();
}
