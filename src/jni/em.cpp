// Native methods of the host class quarn.learning.EM: the parameter block with its coupled
// setters, and learning after every variable's node has been checked.

#include "jni/glue.h"

#include "quarn_learning_EM.h"

#include "learning/dataset.h"
#include "learning/em.h"
#include "model/network.h"

#include <stdexcept>
#include <string>

using namespace quarn::detail;

namespace {

QNL_emParams& ParamsOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_emParams*>(GetNativePointer(env, self));
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_quarn_learning_EM_createNative(JNIEnv* env, jobject, jobject) {
    return Guarded(env, [&] { return reinterpret_cast<jlong>(new QNL_emParams()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_EM_deleteNative(JNIEnv* env, jobject, jlong address) {
    Guarded(env, [&] { delete reinterpret_cast<QNL_emParams*>(address); });
}

JNIEXPORT void JNICALL Java_quarn_learning_EM_setEqSampleSize(JNIEnv* env, jobject self,
                                                              jint size) {
    Guarded(env, [&] {
        QNL_emParams& params = ParamsOf(env, self);
        params.EqSampleSize = size;
        if (size != 0) params.RandomizeParameters = false;
    });
}

JNIEXPORT jint JNICALL Java_quarn_learning_EM_getEqSampleSize(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(ParamsOf(env, self).EqSampleSize); });
}

JNIEXPORT void JNICALL Java_quarn_learning_EM_setRandomizeParameters(JNIEnv* env, jobject self,
                                                                     jboolean randomize) {
    Guarded(env, [&] {
        QNL_emParams& params = ParamsOf(env, self);
        params.RandomizeParameters = randomize != JNI_FALSE;
        if (params.RandomizeParameters) params.EqSampleSize = 0;
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_learning_EM_getRandomizeParameters(JNIEnv* env,
                                                                         jobject self) {
    return Guarded(env, [&] {
        return static_cast<jboolean>(ParamsOf(env, self).RandomizeParameters ? JNI_TRUE
                                                                             : JNI_FALSE);
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_EM_learn(JNIEnv* env, jobject self, jobject data,
                                                    jobject net) {
    Guarded(env, [&] {
        const QNL_emParams& params = ParamsOf(env, self);
        if (data == nullptr) throw std::invalid_argument("Argument 'data' must not be null");
        if (net == nullptr) throw std::invalid_argument("Argument 'net' must not be null");
        const QNL_dataset& dataset =
            *reinterpret_cast<const QNL_dataset*>(GetNativePointer(env, data));
        QNL_network& network = NetworkOf(env, net);
        if (std::string mismatch; !dataset.checkMatch(network, mismatch))
            throw std::runtime_error(mismatch);
        for (int v = 0; v < dataset.getNumberOfVariables(); ++v) {
            const std::string& id = dataset.getVariableId(v);
            const int handle = dataset.getNodeHandle(v);
            if (handle < 0)
                throw std::runtime_error("No node handle was specified for variable " + id +
                                         ". Did you forget to call setNodeHandle?");
            if (!network.IsValidNodeHandle(handle))
                throw std::runtime_error("Variable " + id + " has invalid node handle " +
                                         std::to_string(handle));
        }
        QNL_em em;
        const int status = em.Learn(dataset, network, params);
        if (status != 0) ReportError(env, status, "Learn");
    });
}

} // extern "C"
