// Native methods of the host classes quarn.learning.GreedyThickThinning and
// quarn.learning.NaiveBayes: their parameter blocks, and learning into a new Network.

#include "jni/background_knowledge.h"
#include "jni/glue.h"

#include "quarn_learning_GreedyThickThinning.h"
#include "quarn_learning_NaiveBayes.h"

#include "learning/dataset.h"
#include "learning/learn_model.h"
#include "model/network.h"

#include <stdexcept>

using namespace quarn::detail;

namespace {

QNL_greedyThickThinning& GttOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_greedyThickThinning*>(GetNativePointer(env, self));
}

QNL_naiveBayes& NbOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_naiveBayes*>(GetNativePointer(env, self));
}

const QNL_dataset& DataOf(JNIEnv* env, jobject data) {
    if (data == nullptr) throw std::invalid_argument("Argument 'data' must not be null");
    return *reinterpret_cast<const QNL_dataset*>(GetNativePointer(env, data));
}

// A new host Network learned by `learner`; a failed run frees its native network first.
template <typename Learner>
jobject LearnNetwork(JNIEnv* env, const Learner& learner, const QNL_dataset& data) {
    jobject result = NewJavaNetwork(env);
    const int status = learner.Learn(data, NetworkOf(env, result));
    if (status != 0) {
        CloseHostObject(env, result);
        ReportError(env, status, "Learn");
    }
    return result;
}

jboolean ToJava(bool value) {
    return static_cast<jboolean>(value ? JNI_TRUE : JNI_FALSE);
}

} // namespace

extern "C" {

// ---- GreedyThickThinning ----

JNIEXPORT jlong JNICALL Java_quarn_learning_GreedyThickThinning_createNative(JNIEnv* env, jobject,
                                                                             jobject) {
    return Guarded(env, [&] { return reinterpret_cast<jlong>(new QNL_greedyThickThinning()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_GreedyThickThinning_deleteNative(JNIEnv* env, jobject,
                                                                            jlong address) {
    Guarded(env, [&] { delete reinterpret_cast<QNL_greedyThickThinning*>(address); });
}

JNIEXPORT void JNICALL Java_quarn_learning_GreedyThickThinning_setMaxParents(JNIEnv* env,
                                                                             jobject self,
                                                                             jint value) {
    Guarded(env, [&] { GttOf(env, self).MaxParents = value; });
}

JNIEXPORT jint JNICALL Java_quarn_learning_GreedyThickThinning_getMaxParents(JNIEnv* env,
                                                                             jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(GttOf(env, self).MaxParents); });
}

JNIEXPORT void JNICALL Java_quarn_learning_GreedyThickThinning_setNetWeight(JNIEnv* env,
                                                                            jobject self,
                                                                            jdouble value) {
    Guarded(env, [&] { GttOf(env, self).NetWeight = value; });
}

JNIEXPORT jdouble JNICALL Java_quarn_learning_GreedyThickThinning_getNetWeight(JNIEnv* env,
                                                                               jobject self) {
    return Guarded(env, [&] { return GttOf(env, self).NetWeight; });
}

JNIEXPORT void JNICALL Java_quarn_learning_GreedyThickThinning_setPriorsMethod(JNIEnv* env,
                                                                               jobject self,
                                                                               jint value) {
    Guarded(env, [&] { GttOf(env, self).PriorsMethod = value; });
}

JNIEXPORT jint JNICALL Java_quarn_learning_GreedyThickThinning_getPriorsMethod(JNIEnv* env,
                                                                               jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(GttOf(env, self).PriorsMethod); });
}

JNIEXPORT void JNICALL Java_quarn_learning_GreedyThickThinning_setBkKnowledge(JNIEnv* env,
                                                                              jobject self,
                                                                              jobject bk) {
    Guarded(env, [&] {
        QNL_greedyThickThinning& gtt = GttOf(env, self);
        BkKnowledgeFromJava(env, bk, gtt.forcedArcs, gtt.forbiddenArcs, gtt.tiers);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_learning_GreedyThickThinning_getBkKnowledge(JNIEnv* env,
                                                                                 jobject self) {
    return Guarded(env, [&]() -> jobject {
        const QNL_greedyThickThinning& gtt = GttOf(env, self);
        return BkKnowledgeToJava(env, gtt.forcedArcs, gtt.forbiddenArcs, gtt.tiers);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_learning_GreedyThickThinning_learn(JNIEnv* env, jobject self,
                                                                        jobject data) {
    return Guarded(env, [&]() -> jobject {
        const QNL_greedyThickThinning& gtt = GttOf(env, self);
        return LearnNetwork(env, gtt, DataOf(env, data));
    });
}

// ---- NaiveBayes ----

JNIEXPORT jlong JNICALL Java_quarn_learning_NaiveBayes_createNative(JNIEnv* env, jobject, jobject) {
    return Guarded(env, [&] { return reinterpret_cast<jlong>(new QNL_naiveBayes()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_NaiveBayes_deleteNative(JNIEnv* env, jobject,
                                                                   jlong address) {
    Guarded(env, [&] { delete reinterpret_cast<QNL_naiveBayes*>(address); });
}

JNIEXPORT void JNICALL Java_quarn_learning_NaiveBayes_setNetWeight(JNIEnv* env, jobject self,
                                                                   jdouble value) {
    Guarded(env, [&] { NbOf(env, self).NetWeight = value; });
}

JNIEXPORT jdouble JNICALL Java_quarn_learning_NaiveBayes_getNetWeight(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return NbOf(env, self).NetWeight; });
}

JNIEXPORT void JNICALL Java_quarn_learning_NaiveBayes_setPriorsMethod(JNIEnv* env, jobject self,
                                                                      jint value) {
    Guarded(env, [&] { NbOf(env, self).PriorsMethod = value; });
}

JNIEXPORT jint JNICALL Java_quarn_learning_NaiveBayes_getPriorsMethod(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(NbOf(env, self).PriorsMethod); });
}

JNIEXPORT void JNICALL Java_quarn_learning_NaiveBayes_setFeatureSelection(JNIEnv* env, jobject self,
                                                                          jboolean value) {
    Guarded(env, [&] { NbOf(env, self).FeatureSelection = value != JNI_FALSE; });
}

JNIEXPORT jboolean JNICALL Java_quarn_learning_NaiveBayes_getFeatureSelection(JNIEnv* env,
                                                                              jobject self) {
    return Guarded(env, [&] { return ToJava(NbOf(env, self).FeatureSelection); });
}

JNIEXPORT void JNICALL Java_quarn_learning_NaiveBayes_setClassVariableId(JNIEnv* env, jobject self,
                                                                         jstring id) {
    Guarded(env, [&] {
        QNL_naiveBayes& nb = NbOf(env, self);
        nb.ClassVariableId = UtfString(env, id, "id").str();
    });
}

JNIEXPORT jstring JNICALL Java_quarn_learning_NaiveBayes_getClassVariableId(JNIEnv* env,
                                                                            jobject self) {
    return Guarded(env, [&] { return TextToJava(env, NbOf(env, self).ClassVariableId.c_str()); });
}

JNIEXPORT jobject JNICALL Java_quarn_learning_NaiveBayes_learn(JNIEnv* env, jobject self,
                                                               jobject data) {
    return Guarded(env, [&]() -> jobject {
        const QNL_naiveBayes& nb = NbOf(env, self);
        return LearnNetwork(env, nb, DataOf(env, data));
    });
}

} // extern "C"
