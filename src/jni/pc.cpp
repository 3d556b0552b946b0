// Native methods of the host classes quarn.learning.PC and quarn.learning.Pattern: the PC
// parameter block with its background knowledge, learning into a new Pattern, and the
// pattern's marks, tests and network.

#include "jni/background_knowledge.h"
#include "jni/glue.h"

#include "quarn_learning_PC.h"
#include "quarn_learning_Pattern.h"

#include "learning/dataset.h"
#include "learning/pattern.h"
#include "learning/pc.h"
#include "model/network.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace quarn::detail;

namespace {

QNL_pc& PcOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_pc*>(GetNativePointer(env, self));
}

QNL_pattern& PatternOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_pattern*>(GetNativePointer(env, self));
}

const QNL_dataset& DataSetOf(JNIEnv* env, jobject data) {
    if (data == nullptr) throw std::invalid_argument("Argument 'data' must not be null");
    return *reinterpret_cast<const QNL_dataset*>(GetNativePointer(env, data));
}

jclass FindClass(JNIEnv* env, const char* name) {
    jclass type = env->FindClass(name);
    CheckPending(env);
    return type;
}

// A new host object of a class with a constructor of that signature; arguments follow.
template <typename... Args>
jobject NewHostObject(JNIEnv* env, const char* className, const char* signature, Args... args) {
    LocalRef type(env, FindClass(env, className));
    jmethodID constructor = env->GetMethodID(type.type(), "<init>", signature);
    CheckPending(env);
    jobject object = env->NewObject(type.type(), constructor, args...);
    CheckPending(env);
    return object;
}

void CheckEdge(const QNL_pattern& pattern, int from, int to) {
    const int n = pattern.GetSize();
    if (from < 0 || from >= n || to < 0 || to >= n)
        throw std::out_of_range("Invalid edge (" + std::to_string(from) + ", " +
                                std::to_string(to) + "), valid indices are 0.." +
                                std::to_string(n - 1));
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_quarn_learning_PC_createNative(JNIEnv* env, jobject, jobject) {
    return Guarded(env, [&] { return reinterpret_cast<jlong>(new QNL_pc()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_PC_deleteNative(JNIEnv* env, jobject, jlong address) {
    Guarded(env, [&] { delete reinterpret_cast<QNL_pc*>(address); });
}

JNIEXPORT void JNICALL Java_quarn_learning_PC_setMaxAdjacency(JNIEnv* env, jobject self,
                                                              jint maxAdjacency) {
    Guarded(env, [&] { PcOf(env, self).params.MaxAdjacency = maxAdjacency; });
}

JNIEXPORT jint JNICALL Java_quarn_learning_PC_getMaxAdjacency(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(PcOf(env, self).params.MaxAdjacency); });
}

JNIEXPORT void JNICALL Java_quarn_learning_PC_setSignificance(JNIEnv* env, jobject self,
                                                              jdouble significance) {
    Guarded(env, [&] { PcOf(env, self).params.Significance = significance; });
}

JNIEXPORT jdouble JNICALL Java_quarn_learning_PC_getSignificance(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return PcOf(env, self).params.Significance; });
}

JNIEXPORT void JNICALL Java_quarn_learning_PC_setBkKnowledge(JNIEnv* env, jobject self,
                                                             jobject bk) {
    Guarded(env, [&] {
        QNL_pcParams& params = PcOf(env, self).params;
        BkKnowledgeFromJava(env, bk, params.forcedArcs, params.forbiddenArcs, params.tiers);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_learning_PC_getBkKnowledge(JNIEnv* env, jobject self) {
    return Guarded(env, [&]() -> jobject {
        const QNL_pcParams& params = PcOf(env, self).params;
        return BkKnowledgeToJava(env, params.forcedArcs, params.forbiddenArcs, params.tiers);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_learning_PC_learn(JNIEnv* env, jobject self, jobject data) {
    return Guarded(env, [&]() -> jobject {
        const QNL_pc& pc = PcOf(env, self);
        const QNL_dataset& dataset = DataSetOf(env, data);
        jobject result = NewHostObject(env, "quarn/learning/Pattern", "()V");
        const int status = pc.Learn(dataset, PatternOf(env, result));
        if (status != 0) {
            CloseHostObject(env, result);
            ReportError(env, status, "Learn");
        }
        return result;
    });
}

JNIEXPORT jlong JNICALL Java_quarn_learning_Pattern_createNative(JNIEnv* env, jobject, jobject) {
    return Guarded(env, [&] { return reinterpret_cast<jlong>(new QNL_pattern()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_Pattern_deleteNative(JNIEnv* env, jobject,
                                                                jlong address) {
    Guarded(env, [&] { delete reinterpret_cast<QNL_pattern*>(address); });
}

JNIEXPORT jint JNICALL Java_quarn_learning_Pattern_getSize(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return static_cast<jint>(PatternOf(env, self).GetSize()); });
}

JNIEXPORT void JNICALL Java_quarn_learning_Pattern_setSize(JNIEnv* env, jobject self, jint size) {
    Guarded(env, [&] {
        QNL_pattern& pattern = PatternOf(env, self);
        if (size < 0) throw std::invalid_argument("Invalid pattern size " + std::to_string(size));
        if (int result = pattern.SetSize(size)) ReportError(env, result, "SetSize");
    });
}

JNIEXPORT jint JNICALL Java_quarn_learning_Pattern_getEdge(JNIEnv* env, jobject self, jint from,
                                                           jint to) {
    return Guarded(env, [&] {
        const QNL_pattern& pattern = PatternOf(env, self);
        CheckEdge(pattern, from, to);
        return static_cast<jint>(pattern.GetEdge(from, to));
    });
}

JNIEXPORT void JNICALL Java_quarn_learning_Pattern_setEdge(JNIEnv* env, jobject self, jint from,
                                                           jint to, jint mark) {
    Guarded(env, [&] {
        QNL_pattern& pattern = PatternOf(env, self);
        CheckEdge(pattern, from, to);
        pattern.SetEdge(from, to, mark);
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_learning_Pattern_hasCycle(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        return static_cast<jboolean>(PatternOf(env, self).HasCycle() ? JNI_TRUE : JNI_FALSE);
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_learning_Pattern_isDAG(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        return static_cast<jboolean>(PatternOf(env, self).IsDAG() ? JNI_TRUE : JNI_FALSE);
    });
}

JNIEXPORT jobject JNICALL Java_quarn_learning_Pattern_makeNetwork(JNIEnv* env, jobject self,
                                                                  jobject data) {
    return Guarded(env, [&]() -> jobject {
        const QNL_pattern& pattern = PatternOf(env, self);
        const QNL_dataset& dataset = DataSetOf(env, data);
        jobject result = NewJavaNetwork(env);
        if (!pattern.MakeNetwork(dataset, NetworkOf(env, result))) {
            CloseHostObject(env, result);
            ReportError(env, -1, "MakeNetwork");
        }
        return result;
    });
}

} // extern "C"
