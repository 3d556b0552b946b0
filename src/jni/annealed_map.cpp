// Native methods of the host class Network for the annealed MAP search: the tuning read from
// the host object, the evidence of the network as (node, outcome) pairs, and the results.

#include "jni/glue.h"

#include "quarn_Network.h"

#include "definitions/node_value.h"
#include "model/network.h"
#include "model/node.h"
#include "model/parameter_blocks.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace quarn::detail;

namespace {

jfieldID FieldOf(JNIEnv* env, jclass type, const char* name, const char* signature) {
    jfieldID field = env->GetFieldID(type, name, signature);
    if (field == nullptr) {
        // A host class without the field: reported as the library's own exception, never
        // with the lookup's error still pending.
        env->ExceptionClear();
        throw std::invalid_argument(std::string("AnnealedMapTuning has no field '") + name +
                                    "' of signature " + signature);
    }
    return field;
}

double DoubleField(JNIEnv* env, jobject object, jclass type, const char* name) {
    return env->GetDoubleField(object, FieldOf(env, type, name, "D"));
}

int IntField(JNIEnv* env, jobject object, jclass type, const char* name) {
    return env->GetIntField(object, FieldOf(env, type, name, "I"));
}

// Installs the host tuning in the network; the seed it carries.
int InstallTuning(JNIEnv* env, QNL_network& network, jobject tuning) {
    jclass type = env->GetObjectClass(tuning);
    CheckPending(env);
    QNL_annealedMapTuning record = network.GetAnnealedMapTuning();
    record.SetDefaults();
    int seed = 0;
    try {
        record.speed = DoubleField(env, tuning, type, "speed");
        record.Tmin = DoubleField(env, tuning, type, "Tmin");
        record.Tinit = DoubleField(env, tuning, type, "Tinit");
        record.kReheat = DoubleField(env, tuning, type, "kReheat");
        record.kMAP = IntField(env, tuning, type, "kMAP");
        record.kRFC = DoubleField(env, tuning, type, "kRFC");
        record.numCycle = IntField(env, tuning, type, "numCycle");
        record.iReheatSteps = IntField(env, tuning, type, "iReheatSteps");
        record.iStopSteps = IntField(env, tuning, type, "iStopSteps");
        seed = IntField(env, tuning, type, "randSeed");
    } catch (...) {
        env->DeleteLocalRef(type);
        throw;
    }
    env->DeleteLocalRef(type);
    if (int status = network.SetAnnealedMapTuning(record))
        ReportError(env, status, "SetAnnealedMapTuning");
    return seed;
}

} // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quarn_Network_annealedMap___3ILquarn_AnnealedMapTuning_2(
    JNIEnv* env, jobject self, jintArray nodes, jobject tuning) {
    return Guarded(env, [&]() -> jobject {
        QNL_network& network = NetworkOf(env, self);
        ValidateArray(nodes, "nodes");
        const jsize n = env->GetArrayLength(nodes);
        std::vector<int> map(static_cast<std::size_t>(n));
        if (n > 0) env->GetIntArrayRegion(nodes, 0, n, reinterpret_cast<jint*>(map.data()));
        CheckPending(env);
        for (int h : map)
            ValidateNodeHandle(network, h);
        const int seed = tuning != nullptr ? InstallTuning(env, network, tuning) : 0;

        std::vector<std::pair<int, int>> evidence;
        evidence.reserve(32);
        for (int h = network.GetFirstNode(); h >= 0; h = network.GetNextNode(h)) {
            const QNL_nodeValue* value = network.GetNode(h)->GetValue();
            if (value != nullptr && value->IsObserved())
                evidence.emplace_back(h, value->GetEvidence());
        }
        std::vector<int> outcomes;
        double probability = 0.0, probabilityOfEvidence = 0.0;
        const int status =
            network.AnnealedMAP(evidence, map, outcomes, probability, probabilityOfEvidence, seed);
        if (status != 0) ReportError(env, status, "AnnealedMAP");

        jclass type = env->FindClass("quarn/AnnealedMapResults");
        CheckPending(env);
        jmethodID constructor = env->GetMethodID(type, "<init>", "(DD[I)V");
        if (constructor == nullptr) {
            env->DeleteLocalRef(type);
            CheckPending(env);
        }
        jintArray states = env->NewIntArray(n);
        if (states == nullptr) {
            env->DeleteLocalRef(type);
            CheckPending(env);
        }
        if (n > 0)
            env->SetIntArrayRegion(states, 0, n, reinterpret_cast<const jint*>(outcomes.data()));
        jobject result =
            env->NewObject(type, constructor, probability, probabilityOfEvidence, states);
        env->DeleteLocalRef(states);
        env->DeleteLocalRef(type);
        CheckPending(env);
        return result;
    });
}

JNIEXPORT jobject JNICALL
Java_quarn_Network_annealedMap___3Ljava_lang_String_2Lquarn_AnnealedMapTuning_2(JNIEnv* env,
                                                                                jobject self,
                                                                                jobjectArray ids,
                                                                                jobject tuning) {
    return Guarded(env, [&]() -> jobject {
        QNL_network& network = NetworkOf(env, self);
        ValidateArray(ids, "ids");
        const jsize n = env->GetArrayLength(ids);
        std::vector<jint> handles(static_cast<std::size_t>(n));
        for (jsize i = 0; i < n; ++i) {
            jstring id = static_cast<jstring>(env->GetObjectArrayElement(ids, i));
            CheckPending(env);
            try {
                handles[static_cast<std::size_t>(i)] = ResolveNodeId(env, network, id);
            } catch (...) {
                env->DeleteLocalRef(id);
                throw;
            }
            env->DeleteLocalRef(id);
        }
        jintArray array = env->NewIntArray(n);
        CheckPending(env);
        if (n > 0) env->SetIntArrayRegion(array, 0, n, handles.data());
        jobject result =
            Java_quarn_Network_annealedMap___3ILquarn_AnnealedMapTuning_2(env, self, array, tuning);
        env->DeleteLocalRef(array);
        return result;
    });
}

} // extern "C"
