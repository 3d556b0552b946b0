#pragma once

#include "model/dmatrix.h"
#include "model/int_array.h"
#include "model/object.h"

class QNL_network;
class QNL_nodeValue;

namespace quarn::detail {

// The value flags, behaving as a plain unsigned, that tell the value's network of every change
// (evidence or propagated evidence set or gone, a value becoming valid or computed), so the
// network can keep short lists of those nodes instead of scanning every value after each edit.
class ValueFlags {
public:
    // Valid or holding propagated evidence, without user evidence: what an edit invalidates.
    static bool Computed(unsigned bits);

    explicit ValueFlags(QNL_nodeValue* owner) : owner(owner) {}
    ValueFlags(const ValueFlags&) = delete;
    ValueFlags& operator=(const ValueFlags& other) { return *this = other.bits; }
    ValueFlags& operator=(unsigned value) {
        Set(value);
        return *this;
    }
    ValueFlags& operator|=(unsigned value) {
        Set(bits | value);
        return *this;
    }
    ValueFlags& operator&=(unsigned value) {
        Set(bits & value);
        return *this;
    }
    operator unsigned() const { return bits; }

private:
    void Set(unsigned value);

    unsigned bits = 0;
    QNL_nodeValue* owner;
};

} // namespace quarn::detail

// Value type codes.
enum QNL_valueType {
    QNL_VALUE_BELIEF_VECTOR = 3,
    QNL_VALUE_UTILITY = 4,
    QNL_VALUE_DECISION = 6,
    QNL_VALUE_MAU = 7,
    QNL_VALUE_EQUATION = 8,
    QNL_VALUE_CONTINUOUS = 9,
};

// The result of inference for one node together with the evidence put on it. The node owns
// it; the network routes evidence calls here and is told of every evidence change. The flags
// hold: 1 evidence set, 2 value valid, 4 propagated evidence, 8 a marker cleared with the
// evidence. Operations a value type does not support answer -51 and change nothing.
class QNL_nodeValue : public QNL_object {
public:
    static constexpr unsigned FLAG_EVIDENCE = 1;
    static constexpr unsigned FLAG_VALID = 2;
    static constexpr unsigned FLAG_PROPAGATED = 4;
    static constexpr unsigned FLAG_MARKER = 8;

    QNL_nodeValue(QNL_network* network, int handle);
    // Copies build an empty base (no network, handle -1) and then assign from the source.
    QNL_nodeValue(const QNL_nodeValue&) = delete;
    QNL_nodeValue& operator=(const QNL_nodeValue&) = delete;
    ~QNL_nodeValue() override = default;

    int CleanUp(int deep = 1) override;

    // A new value of the same class holding the same contents; null when memory runs out.
    virtual QNL_nodeValue* CreateCopy() const = 0;

    // Copying, shaping from the definition, and the kind and size of the value.
    virtual int Clone(const QNL_nodeValue& other) { return Assign(other); }
    virtual int Assign(const QNL_nodeValue& other);
    virtual int InitFromDefinition() { return -51; }
    virtual int GetType() const = 0;
    virtual int GetSize() const;
    virtual int AddIndexingParent(int handle);
    virtual int GetEvidence(double* out) const;
    virtual int GetEvidence() const { return -51; }
    virtual int SetEvidence(int) { return -51; }
    virtual int SetEvidence(double) { return -51; }
    virtual int ClearEvidence() { return -51; }
    virtual int SetPropagatedEvidence(double) { return -51; }
    virtual int SetPropagatedEvidence(int) { return -51; }
    virtual int ClearPropagatedEvidence() { return -51; }
    virtual int GetValue(QNL_Dmatrix** out);
    virtual int SetValue(const QNL_Dmatrix&) { return -51; }
    virtual int SetValueToOutcome(int) { return -51; }
    virtual int InvalidateValue() { return -51; }

    // The owned value matrix, or null for value types without one.
    QNL_Dmatrix* GetMatrix();

    // The flags (FLAG_EVIDENCE, FLAG_VALID, FLAG_PROPAGATED) and their tests. The network
    // may let the invalidation after findings wait until a value's validity is asked for:
    // GetFlags and IsValueValid have it made first, so they answer as after every finding.
    unsigned GetFlags() const;
    bool HasEvidence() const { return (flags & FLAG_EVIDENCE) != 0; }
    bool HasPropagatedEvidence() const { return (flags & FLAG_PROPAGATED) != 0; }
    // Real or propagated evidence: what the algorithms treat as an observed node.
    bool IsObserved() const { return (flags & (FLAG_EVIDENCE | FLAG_PROPAGATED)) != 0; }
    bool IsValueValid() const;
    // The flags as they stand, the waiting invalidation not made: for the network's own
    // evidence bookkeeping only.
    unsigned GetHeldFlags() const { return flags; }
    bool HoldsValidFlag() const { return (flags & FLAG_VALID) != 0; }
    // An unobserved value made valid is made so after the walk findings wait for: the walk
    // never takes it.
    void SetValidFlag(bool valid);

    // The network and node slot this value belongs to, and the parents that index it.
    QNL_network* GetNetwork() const { return network; }
    int GetHandle() const { return handle; }
    void SetNetwork(QNL_network* newNetwork, int newHandle);
    const QNL_intArray& GetIndexingParents() const { return indexingParents; }

protected:
    QNL_nodeValue() = default;

    // Number of outcomes of this value's node, from its definition; 0 when there is none.
    int NodeOutcomeCount() const;
    // The same for any node of any network (a null network gives 0).
    static int NodeOutcomeCount(const QNL_network* network, int handle);
    // Logs and returns -567 for a copy or assignment from an invalid source.
    static int RefuseInvalidSource();

    friend class quarn::detail::ValueFlags;

    QNL_network* network = nullptr;
    int handle = -1;
    quarn::detail::ValueFlags flags{this};
    QNL_intArray indexingParents;
};
