#pragma once

#include <vector>

#include "model/int_array.h"

class QNL_network;
class QNL_diagEngine;

// One row of a test ranking. A test left out of the ranking has handle -1 (not available
// under the current cost evidence) or -2 (cannot tell the pursued faults apart) and a
// sentinel in every number.
struct QNL_testResult {
    int test = -1;
    double strength = 0.0;
    double cost = 0.0;
    double score = 0.0;
};

struct QNL_faultRecord {
    int node = -1;
    int outcome = -1;
};

// A troubleshooting state laid over one network whose nodes carry diagnostic annotations:
// the faults, the unperformed tests, the faults the user pursues and the last ranking of the
// tests. The network is not owned and must outlive the object. The pursued faults are kept
// as (node, outcome) pairs as well as indices, so that rebuilding the fault list maps them to
// the new positions and drops those that are gone.
class QNL_diagNetwork {
public:
    static constexpr int TARGET = 0;
    static constexpr int OBSERVATION = 1;

    QNL_diagNetwork();
    QNL_diagNetwork(const QNL_diagNetwork&) = delete;
    QNL_diagNetwork& operator=(const QNL_diagNetwork&) = delete;
    ~QNL_diagNetwork();

    // -42 when the engine could not be made.
    int SetNetwork(QNL_network* network);
    int CollectFaultsAndTests();
    int ApplyDefaultObservations();
    // The code of the belief update (or of a refused target).
    int UpdateFaultBeliefs();
    int FindMostLikelyFault() const;
    int FindFault(int node, int outcome) const;
    int SetPursuedFault(int index);
    int SetPursuedFaults(const QNL_intArray& indices);
    int GetPursuedFault() const;
    // -2 for a handle that names no node.
    int InstantiateObservation(int node, int outcome);
    int ReleaseObservation(int node);
    bool MandatoriesInstantiated() const { return FirstMissingMandatory() < 0; }
    // The first mandatory observation, in handle order, that has no evidence; -1 for none.
    int FirstMissingMandatory() const;
    // Bits 1, 2, 4 choose the multiple-fault method; 8, 16, 32 and 64 its variant.
    int ComputeTestStrengths(int flags);
    double GetAlpha();
    double GetDoubleProperty(const char* name, double defaultValue);

    QNL_network* GetNetwork() const { return network; }
    QNL_diagEngine* GetEngine() const { return engine; }
    int GetNumberOfFaults() const { return static_cast<int>(faults.size()); }
    const std::vector<QNL_faultRecord>& GetFaults() const { return faults; }
    const QNL_intArray& GetPursuedFaults() const { return pursued; }
    const QNL_intArray& GetUnperformedTests() const { return tests; }
    std::vector<QNL_testResult>& GetResults() { return results; }
    bool GetDSep() const { return dsep; }
    void SetDSep(bool on) { dsep = on; }

    // The value flags say evidence or propagated evidence.
    static bool HoldsEvidence(const QNL_network& network, int node);
    static int DiagnosisType(const QNL_network& network, int node);
    static bool IsRankedObservation(const QNL_network& network, int node);

private:
    void RememberPursued();

    QNL_network* network = nullptr;
    QNL_diagEngine* engine = nullptr;
    QNL_intArray tests;
    std::vector<QNL_testResult> results;
    std::vector<QNL_faultRecord> faults;
    QNL_intArray pursued;
    std::vector<QNL_faultRecord> pursuedPairs;
    bool dsep = false;
};
