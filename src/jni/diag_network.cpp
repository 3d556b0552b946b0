// Native methods of the host class DiagNetwork: the creation sequence, the fault and test
// lists, observations, pursued faults and one diagnosis step with its two sort orders.

#include "jni/glue.h"

#include "quarn_DiagNetwork.h"

#include "definitions/node_value.h"
#include "diagnosis/diag_network.h"
#include "diagnosis/result_order.h"
#include "model/dmatrix.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/string_array.h"

#include <cfloat>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quarn::detail;

namespace {

QNL_diagNetwork& ObjectOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_diagNetwork*>(GetNativePointer(env, self));
}

const QNL_faultRecord& CheckedFault(const QNL_diagNetwork& diag, int index) {
    if (index < 0 || index >= diag.GetNumberOfFaults()) {
        std::string message = "Invalid fault index ";
        AppendInt(message, index);
        message += "; valid indices are 0..";
        AppendInt(message, diag.GetNumberOfFaults() - 1);
        throw std::invalid_argument(message);
    }
    return diag.GetFaults()[static_cast<std::size_t>(index)];
}

// The probability of a fault when its node's value is valid; a fault of a deleted node, or
// of a value not updated, has none.
bool FaultProbability(const QNL_network& network, const QNL_faultRecord& f, double& p) {
    const QNL_node* node = network.GetNode(f.node);
    QNL_nodeValue* value = node ? node->GetValue() : nullptr;
    QNL_Dmatrix* matrix = value ? value->GetMatrix() : nullptr;
    if (!value || !value->IsValueValid() || !matrix || f.outcome >= matrix->GetSize()) return false;
    p = matrix->Subscript(f.outcome);
    return true;
}

jclass FindClassOrThrow(JNIEnv* env, const char* name) {
    jclass type = env->FindClass(name);
    if (!type) throw JavaExceptionPending();
    return type;
}

jmethodID ConstructorOf(JNIEnv* env, jclass type, const char* signature) {
    jmethodID constructor = env->GetMethodID(type, "<init>", signature);
    if (!constructor) throw JavaExceptionPending();
    return constructor;
}

jobject NewFaultInfo(JNIEnv* env, jclass type, jmethodID constructor, const FaultRecordOut& r) {
    jobject info = env->NewObject(type, constructor, r.index, r.node, r.outcome, r.probability,
                                  static_cast<jboolean>(r.pursued));
    if (!info) throw JavaExceptionPending();
    return info;
}

int FaultIndex(JNIEnv* env, jobject self, int node, int outcome) {
    const int index = ObjectOf(env, self).FindFault(node, outcome);
    if (index < 0) ReportError(env, index, "FindFault");
    return index;
}

void Instantiate(JNIEnv* env, jobject self, int node, int outcome) {
    QNL_diagNetwork& diag = ObjectOf(env, self);
    ValidateOutcomeIndex(GetNetworkOfWrapper(env, self), node, outcome);
    if (int status = diag.InstantiateObservation(node, outcome))
        ReportError(env, status, "InstantiateObservation");
}

void Release(JNIEnv* env, jobject self, int node) {
    QNL_diagNetwork& diag = ObjectOf(env, self);
    ValidateNodeHandle(GetNetworkOfWrapper(env, self), node);
    if (int status = diag.ReleaseObservation(node)) ReportError(env, status, "ReleaseObservation");
}

} // namespace

extern "C" {

// The object comes into being together with its hold on the network, in this one call.
JNIEXPORT jlong JNICALL Java_quarn_DiagNetwork_createNative(JNIEnv* env, jobject, jobject net) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, net);
        auto diag = std::make_unique<QNL_diagNetwork>();
        int status = diag->SetNetwork(&network);
        if (status == 0) status = diag->CollectFaultsAndTests();
        if (status == 0) diag->ApplyDefaultObservations();
        if (status == 0 && (status = diag->UpdateFaultBeliefs()) != 0)
            ReportError(env, status, "UpdateFaultBeliefs");
        if (status != 0) ReportError(env, status, "SetNetwork");
        diag->SetPursuedFault(diag->FindMostLikelyFault());
        ChangeNetworkUsers(env, net, 1);
        return reinterpret_cast<jlong>(diag.release());
    });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_deleteNative(JNIEnv* env, jobject self,
                                                           jlong address) {
    Guarded(env, [&] {
        delete reinterpret_cast<QNL_diagNetwork*>(address);
        ChangeNetworkUsersOfWrapper(env, self, -1);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_DiagNetwork_updateNative(JNIEnv* env, jobject self,
                                                              jint flags) {
    return Guarded(env, [&]() -> jobject {
        QNL_diagNetwork& diag = ObjectOf(env, self);
        const QNL_network& network = GetNetworkOfWrapper(env, self);
        if (int status = diag.UpdateFaultBeliefs()) ReportError(env, status, "UpdateFaultBeliefs");
        if (int status = diag.ComputeTestStrengths(flags))
            ReportError(env, status, "ComputeTestStrengths");

        std::vector<ObservationRecord> observations;
        const QNL_intArray& tests = diag.GetUnperformedTests();
        const std::vector<QNL_testResult>& results = diag.GetResults();
        for (int i = 0; i < tests.GetCount(); ++i) {
            ObservationRecord r{tests[i], 0.0, 0.0, 0.0};
            if (static_cast<std::size_t>(i) < results.size()) {
                const QNL_testResult& t = results[static_cast<std::size_t>(i)];
                r = {tests[i], t.strength, t.cost, t.score};
            }
            observations.push_back(r);
        }
        std::vector<FaultRecordOut> faults;
        for (int i = 0; i < diag.GetNumberOfFaults(); ++i) {
            const QNL_faultRecord& f = diag.GetFaults()[static_cast<std::size_t>(i)];
            double p = 5 * DBL_MIN;
            FaultProbability(network, f, p);
            faults.push_back({i, f.node, f.outcome, p, false});
        }
        const QNL_intArray& pursued = diag.GetPursuedFaults();
        for (int k = 0; k < pursued.GetCount(); ++k)
            if (pursued[k] >= 0 && pursued[k] < static_cast<int>(faults.size()))
                faults[static_cast<std::size_t>(pursued[k])].pursued = true;
        SortObservations(observations);
        SortFaults(faults);

        jclass observationType = FindClassOrThrow(env, "quarn/ObservationInfo");
        jmethodID observationInit = ConstructorOf(env, observationType, "(IDDD)V");
        jobjectArray observationArray =
            env->NewObjectArray(static_cast<jsize>(observations.size()), observationType, nullptr);
        if (!observationArray) throw JavaExceptionPending();
        for (std::size_t i = 0; i < observations.size(); ++i) {
            const ObservationRecord& r = observations[i];
            jobject info = env->NewObject(observationType, observationInit, r.node, r.strength,
                                          r.cost, r.score);
            if (!info) throw JavaExceptionPending();
            env->SetObjectArrayElement(observationArray, static_cast<jsize>(i), info);
            env->DeleteLocalRef(info);
        }
        jclass faultType = FindClassOrThrow(env, "quarn/FaultInfo");
        jmethodID faultInit = ConstructorOf(env, faultType, "(IIIDZ)V");
        jobjectArray faultArray =
            env->NewObjectArray(static_cast<jsize>(faults.size()), faultType, nullptr);
        if (!faultArray) throw JavaExceptionPending();
        for (std::size_t i = 0; i < faults.size(); ++i) {
            jobject info = NewFaultInfo(env, faultType, faultInit, faults[i]);
            env->SetObjectArrayElement(faultArray, static_cast<jsize>(i), info);
            env->DeleteLocalRef(info);
        }
        jclass resultType = FindClassOrThrow(env, "quarn/DiagResults");
        jmethodID resultInit =
            ConstructorOf(env, resultType, "([Lquarn/ObservationInfo;[Lquarn/FaultInfo;)V");
        jobject result = env->NewObject(resultType, resultInit, observationArray, faultArray);
        if (!result) throw JavaExceptionPending();
        return result;
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_DiagNetwork_getDSep(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return static_cast<jboolean>(ObjectOf(env, self).GetDSep()); });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_setDSep(JNIEnv* env, jobject self, jboolean on) {
    Guarded(env, [&] { ObjectOf(env, self).SetDSep(on != JNI_FALSE); });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getPursuedFault(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return ObjectOf(env, self).GetPursuedFault(); });
}

JNIEXPORT jintArray JNICALL Java_quarn_DiagNetwork_getPursuedFaults(JNIEnv* env, jobject self) {
    return Guarded(env,
                   [&] { return IntArrayToJava(env, ObjectOf(env, self).GetPursuedFaults()); });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_findMostLikelyFault(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return ObjectOf(env, self).FindMostLikelyFault(); });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultIndex__II(JNIEnv* env, jobject self,
                                                                jint node, jint outcome) {
    return Guarded(env, [&] { return FaultIndex(env, self, node, outcome); });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultIndex__ILjava_lang_String_2(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jint node,
                                                                                  jstring outcome) {
    return Guarded(env, [&] {
        const QNL_network& network = GetNetworkOfWrapper(env, self);
        return FaultIndex(env, self, node, ResolveOutcomeId(env, network, node, outcome));
    });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultIndex__Ljava_lang_String_2I(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jstring node,
                                                                                  jint outcome) {
    return Guarded(env, [&] {
        return FaultIndex(env, self, ResolveNodeId(env, GetNetworkOfWrapper(env, self), node),
                          outcome);
    });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultIndex__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring outcome) {
    return Guarded(env, [&] {
        const QNL_network& network = GetNetworkOfWrapper(env, self);
        const int handle = ResolveNodeId(env, network, node);
        return FaultIndex(env, self, handle, ResolveOutcomeId(env, network, handle, outcome));
    });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getUnperformedTestCount(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return ObjectOf(env, self).GetUnperformedTests().GetCount(); });
}

JNIEXPORT jintArray JNICALL Java_quarn_DiagNetwork_getUnperformedObservations(JNIEnv* env,
                                                                              jobject self) {
    return Guarded(env,
                   [&] { return IntArrayToJava(env, ObjectOf(env, self).GetUnperformedTests()); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_DiagNetwork_getUnperformedObservationIds(JNIEnv* env,
                                                                                   jobject self) {
    return Guarded(env, [&] {
        return NodeIdsToJava(env, GetNetworkOfWrapper(env, self),
                             ObjectOf(env, self).GetUnperformedTests());
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_DiagNetwork_mandatoriesInstantiated(JNIEnv* env,
                                                                          jobject self) {
    return Guarded(
        env, [&] { return static_cast<jboolean>(ObjectOf(env, self).MandatoriesInstantiated()); });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_instantiateObservation__II(JNIEnv* env, jobject self,
                                                                         jint node, jint outcome) {
    Guarded(env, [&] { Instantiate(env, self, node, outcome); });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_instantiateObservation__ILjava_lang_String_2(
    JNIEnv* env, jobject self, jint node, jstring outcome) {
    Guarded(env, [&] {
        const QNL_network& network = GetNetworkOfWrapper(env, self);
        Instantiate(env, self, node, ResolveOutcomeId(env, network, node, outcome));
    });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_instantiateObservation__Ljava_lang_String_2I(
    JNIEnv* env, jobject self, jstring node, jint outcome) {
    Guarded(env, [&] {
        Instantiate(env, self, ResolveNodeId(env, GetNetworkOfWrapper(env, self), node), outcome);
    });
}

JNIEXPORT void JNICALL
Java_quarn_DiagNetwork_instantiateObservation__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring outcome) {
    Guarded(env, [&] {
        const QNL_network& network = GetNetworkOfWrapper(env, self);
        const int handle = ResolveNodeId(env, network, node);
        Instantiate(env, self, handle, ResolveOutcomeId(env, network, handle, outcome));
    });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_releaseObservation__I(JNIEnv* env, jobject self,
                                                                    jint node) {
    Guarded(env, [&] { Release(env, self, node); });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_releaseObservation__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node) {
    Guarded(env,
            [&] { Release(env, self, ResolveNodeId(env, GetNetworkOfWrapper(env, self), node)); });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_setPursuedFaults(JNIEnv* env, jobject self,
                                                               jintArray faults) {
    Guarded(env, [&] {
        QNL_diagNetwork& diag = ObjectOf(env, self);
        ValidateArray(faults, "faults");
        const jsize n = env->GetArrayLength(faults);
        QNL_intArray indices;
        if (indices.SetSize(n) != 0 || indices.SetCount(n) != 0) throw std::bad_alloc();
        if (n > 0) env->GetIntArrayRegion(faults, 0, n, reinterpret_cast<jint*>(indices.Items()));
        if (int status = diag.SetPursuedFaults(indices))
            ReportError(env, status, "SetPursuedFaults");
    });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultCount(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return ObjectOf(env, self).GetNumberOfFaults(); });
}

JNIEXPORT void JNICALL Java_quarn_DiagNetwork_setPursuedFault(JNIEnv* env, jobject self,
                                                              jint index) {
    Guarded(env, [&] {
        QNL_diagNetwork& diag = ObjectOf(env, self);
        CheckedFault(diag, index);
        if (int status = diag.SetPursuedFault(index)) ReportError(env, status, "SetPursuedFault");
    });
}

JNIEXPORT jobject JNICALL Java_quarn_DiagNetwork_getFault(JNIEnv* env, jobject self, jint index) {
    return Guarded(env, [&] {
        QNL_diagNetwork& diag = ObjectOf(env, self);
        const QNL_faultRecord& f = CheckedFault(diag, index);
        double p = 0.0;
        FaultProbability(GetNetworkOfWrapper(env, self), f, p);
        jclass type = FindClassOrThrow(env, "quarn/FaultInfo");
        return NewFaultInfo(
            env, type, ConstructorOf(env, type, "(IIIDZ)V"),
            {index, f.node, f.outcome, p, diag.GetPursuedFaults().IsInList(index) != 0});
    });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultNode(JNIEnv* env, jobject self, jint index) {
    return Guarded(env, [&] { return CheckedFault(ObjectOf(env, self), index).node; });
}

JNIEXPORT jstring JNICALL Java_quarn_DiagNetwork_getFaultNodeId(JNIEnv* env, jobject self,
                                                                jint index) {
    return Guarded(env, [&] {
        const QNL_faultRecord& f = CheckedFault(ObjectOf(env, self), index);
        return TextToJava(env, ValidateNodeHandle(GetNetworkOfWrapper(env, self), f.node)->GetId());
    });
}

JNIEXPORT jint JNICALL Java_quarn_DiagNetwork_getFaultOutcome(JNIEnv* env, jobject self,
                                                              jint index) {
    return Guarded(env, [&] { return CheckedFault(ObjectOf(env, self), index).outcome; });
}

JNIEXPORT jstring JNICALL Java_quarn_DiagNetwork_getFaultOutcomeId(JNIEnv* env, jobject self,
                                                                   jint index) {
    return Guarded(env, [&] {
        const QNL_faultRecord& f = CheckedFault(ObjectOf(env, self), index);
        const QNL_node* node =
            ValidateOutcomeIndex(GetNetworkOfWrapper(env, self), f.node, f.outcome);
        return TextToJava(env, node->GetDefinition()->GetOutcomeIds()->GetString(f.outcome));
    });
}

} // extern "C"
