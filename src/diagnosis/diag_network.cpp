#include "diagnosis/diag_network.h"

#include <algorithm>
#include <new>

#include "definitions/extra_definition.h"
#include "definitions/node_value.h"
#include "diagnosis/diag_engine.h"
#include "model/dmatrix.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_info.h"
#include "numerics/number_text.h"

namespace {

QNL_nodeValue* ValueOf(const QNL_network& network, int node) {
    QNL_node* n = network.GetNode(node);
    return n ? n->GetValue() : nullptr;
}

const QNL_extraDefinition* ExtraOf(const QNL_network& network, int node) {
    QNL_node* n = network.GetNode(node);
    return n ? n->GetExtraDefinition() : nullptr;
}

} // namespace

QNL_diagNetwork::QNL_diagNetwork() : engine(new (std::nothrow) QNL_diagEngine(this)) {}

QNL_diagNetwork::~QNL_diagNetwork() {
    delete engine;
}

bool QNL_diagNetwork::HoldsEvidence(const QNL_network& network, int node) {
    const QNL_nodeValue* value = ValueOf(network, node);
    return value != nullptr && value->IsObserved();
}

int QNL_diagNetwork::DiagnosisType(const QNL_network& network, int node) {
    const QNL_extraDefinition* extra = ExtraOf(network, node);
    return extra ? extra->GetDiagnosisType() : 2;
}

bool QNL_diagNetwork::IsRankedObservation(const QNL_network& network, int node) {
    const QNL_extraDefinition* extra = ExtraOf(network, node);
    return extra && extra->GetDiagnosisType() == OBSERVATION && extra->IsRanked();
}

int QNL_diagNetwork::SetNetwork(QNL_network* newNetwork) {
    if (!engine) return -42;
    network = newNetwork;
    return network ? engine->CopyNetwork() : 0;
}

void QNL_diagNetwork::RememberPursued() {
    pursuedPairs.clear();
    for (int i = 0; i < pursued.GetCount(); ++i)
        pursuedPairs.push_back(faults[static_cast<std::size_t>(pursued[i])]);
}

int QNL_diagNetwork::CollectFaultsAndTests() {
    tests.SetCount(0);
    results.clear();
    faults.clear();
    if (!network) return 0;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_extraDefinition* extra = ExtraOf(*network, h);
        if (!extra) continue;
        if (extra->GetDiagnosisType() == TARGET) {
            for (int k = 0; k < extra->GetNumberOfOutcomes(); ++k)
                if (extra->IsFaultOutcome(k)) faults.push_back({h, k});
        } else if (IsRankedObservation(*network, h) && !HoldsEvidence(*network, h)) {
            if (tests.Add(h) != 0) return -42;
        }
    }
    // The pursued faults follow their (node, outcome) to the new positions; gone ones drop.
    QNL_intArray remapped;
    std::vector<QNL_faultRecord> kept;
    for (const QNL_faultRecord& pair : pursuedPairs) {
        int index = FindFault(pair.node, pair.outcome);
        if (index < 0) continue;
        if (remapped.Add(index) != 0) return -42;
        kept.push_back(pair);
    }
    pursued = remapped;
    pursuedPairs = kept;
    return 0;
}

int QNL_diagNetwork::ApplyDefaultObservations() {
    if (!network) return 0;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_extraDefinition* extra = ExtraOf(*network, h);
        if (extra && extra->GetDiagnosisType() == OBSERVATION && extra->IsSetAsDefault() &&
            !HoldsEvidence(*network, h))
            ValueOf(*network, h)->SetEvidence(extra->GetDefaultOutcome());
    }
    return 0;
}

int QNL_diagNetwork::UpdateFaultBeliefs() {
    if (!network) return -2;
    network->ClearAllTargets();
    network->InvalidateValues();
    std::vector<char> mask(static_cast<std::size_t>(std::max(network->GetLastNode() + 1, 0)), 0);
    bool observed = false;
    if (dsep) {
        QNL_intArray ancestors;
        for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
            if (!HoldsEvidence(*network, h) || DiagnosisType(*network, h) != OBSERVATION) continue;
            observed = true;
            ancestors.SetCount(0);
            network->GetAncestors(h, ancestors);
            for (int i = 0; i < ancestors.GetCount(); ++i)
                mask[static_cast<std::size_t>(ancestors[i])] = 1;
        }
    }
    if (!observed) {
        for (const QNL_faultRecord& f : faults)
            if (!network->IsTarget(f.node)) network->SetTarget(f.node);
        return network->UpdateBeliefs();
    }
    int marked = 0;
    for (const QNL_faultRecord& f : faults)
        if (network->IsValidNodeHandle(f.node) && mask[static_cast<std::size_t>(f.node)] &&
            !network->IsTarget(f.node)) {
            network->SetTarget(f.node);
            ++marked;
        }
    if (marked == 0 && !faults.empty()) network->SetTarget(faults[0].node);
    int result = network->UpdateBeliefs();
    for (const QNL_faultRecord& f : faults)
        if (QNL_nodeValue* value = ValueOf(*network, f.node);
            value && !mask[static_cast<std::size_t>(f.node)])
            value->SetValidFlag(false);
    return result;
}

int QNL_diagNetwork::FindMostLikelyFault() const {
    if (faults.empty() || !network) return -2;
    int found = -2;
    double best = 0.0;
    for (std::size_t i = 0; i < faults.size(); ++i) {
        QNL_nodeValue* value = ValueOf(*network, faults[i].node);
        QNL_Dmatrix* matrix = value ? value->GetMatrix() : nullptr;
        if (!matrix || faults[i].outcome >= matrix->GetSize()) continue;
        double p = matrix->Subscript(faults[i].outcome);
        if (p >= best) {
            best = p;
            found = static_cast<int>(i);
        }
    }
    return found;
}

int QNL_diagNetwork::FindFault(int node, int outcome) const {
    for (std::size_t i = 0; i < faults.size(); ++i)
        if (faults[i].node == node && faults[i].outcome == outcome) return static_cast<int>(i);
    return -2;
}

int QNL_diagNetwork::SetPursuedFault(int index) {
    pursued.SetCount(0);
    pursuedPairs.clear();
    if (index < 0 || index >= GetNumberOfFaults()) return -2;
    int result = pursued.Add(index);
    RememberPursued();
    return result;
}

int QNL_diagNetwork::SetPursuedFaults(const QNL_intArray& indices) {
    if (indices.GetCount() == 0) return -2;
    for (int i = 0; i < indices.GetCount(); ++i)
        if (indices[i] < 0 || indices[i] >= GetNumberOfFaults()) return -2;
    QNL_intArray copy;
    for (int i = 0; i < indices.GetCount(); ++i)
        if (copy.Add(indices[i]) != 0) return -42;
    pursued = copy;
    RememberPursued();
    return 0;
}

int QNL_diagNetwork::GetPursuedFault() const {
    return pursued.GetCount() == 1 ? pursued[0] : -2;
}

int QNL_diagNetwork::InstantiateObservation(int node, int outcome) {
    QNL_nodeValue* value = network ? ValueOf(*network, node) : nullptr;
    if (!value) return -2;
    int result = value->SetEvidence(outcome);
    if (result != 0) return result;
    tests.DeleteByContent(node);
    results.clear();
    return 0;
}

int QNL_diagNetwork::ReleaseObservation(int node) {
    QNL_nodeValue* value = network ? ValueOf(*network, node) : nullptr;
    if (!value) return -2;
    int result = value->ClearEvidence();
    if (result != 0) return result;
    if (IsRankedObservation(*network, node) && !HoldsEvidence(*network, node) &&
        !tests.IsInList(node))
        return tests.Add(node);
    return 0;
}

int QNL_diagNetwork::FirstMissingMandatory() const {
    if (!network) return -1;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_extraDefinition* extra = ExtraOf(*network, h);
        if (extra && extra->GetDiagnosisType() == OBSERVATION && extra->IsMandatory() &&
            !HoldsEvidence(*network, h))
            return h;
    }
    return -1;
}

int QNL_diagNetwork::ComputeTestStrengths(int flags) {
    if (!engine) return -42;
    if (pursued.GetCount() == 0) return -2;
    if (pursued.GetCount() == 1) return engine->RankTestsSingleFault();
    if (flags & 1) return engine->RankTestsByMarginals(flags);
    if (flags & 2) return engine->RankTestsByProductEntropy(flags);
    if (flags & 4) return engine->RankTestsByJointEntropy(flags);
    return -2;
}

double QNL_diagNetwork::GetAlpha() {
    return GetDoubleProperty("DIAG_alphaValue", 1.0);
}

double QNL_diagNetwork::GetDoubleProperty(const char* name, double defaultValue) {
    if (!network) return defaultValue;
    QNL_userProperties& properties = network->GetUserProperties();
    int index = properties.FindProperty(name);
    if (index < 0) {
        properties.AddProperty(name, FormatNumber(defaultValue).c_str());
        return defaultValue;
    }
    double value = 0.0;
    ParseNumber(properties.GetValue(index), &value);
    return value;
}
