// Value invalidation in dynamic networks. The invalidation walk runs on the template graph,
// where a plate node stands for all its slices and temporal arcs do not appear, so it cannot
// tell which values an edit leaves as they were. Values there are only ever written by an
// update of the whole unrolling, which writes every value: so every notified change in a
// network with a plate node, and every edit of the temporal extension, invalidates them all.

#include "model/network.h"

#include "model/temporal_network.h"

void QNL_network::InvalidateIfDynamic() {
    if (!temporal) return;
    for (int h = GetFirstNode(); h >= 0; h = GetNextNode(h)) {
        if (table[h].temporalType == QNL_temporalNetwork::PLATE) {
            InvalidateEveryValue();
            return;
        }
    }
}

// A temporal definition reported a change through its own (private, quiet) network. It is
// acted on as a change of the owner's node would be.
void QNL_network::TemporalDefinitionChanged(int kind) {
    if (!(notificationControl & NOTIFY_ON) || (notificationMask & kind) != kind) return;
    if (kind == CHANGE_OUTCOMES || kind == CHANGE_VALUES || kind == CHANGE_SHAPE)
        InvalidateEveryValue();
}
