// Native methods of the host class ValueOfInfo: the question's setters with their refusal
// messages, the lists as handles and identifiers, and the computation.

#include "jni/glue.h"

#include "quarn_ValueOfInfo.h"

#include "inference/value_of_info.h"
#include "model/double_array.h"
#include "model/network.h"
#include "model/node.h"

#include <memory>
#include <stdexcept>
#include <string>

using namespace quarn::detail;

namespace {

QNL_valueOfInfo& ObjectOf(JNIEnv* env, jobject self) {
    return *reinterpret_cast<QNL_valueOfInfo*>(GetNativePointer(env, self));
}

using Setter = int (QNL_valueOfInfo::*)(int);

// A refused change raises its own message; the status itself stays inside.
void Set(JNIEnv* env, jobject self, jint node, Setter setter, const char* before,
         const char* after) {
    QNL_valueOfInfo& voi = ObjectOf(env, self);
    const QNL_node* n = ValidateNodeHandle(GetNetworkOfWrapper(env, self), node);
    if ((voi.*setter)(node) != 0)
        throw std::runtime_error(std::string(before) + NodeIdText(n) + after);
}

void Set(JNIEnv* env, jobject self, jstring id, Setter setter, const char* before,
         const char* after) {
    Set(env, self, ResolveNodeId(env, GetNetworkOfWrapper(env, self), id), setter, before, after);
}

jstring IdOrNull(JNIEnv* env, jobject self, int node) {
    const QNL_node* n = GetNetworkOfWrapper(env, self).GetNode(node);
    return n != nullptr ? TextToJava(env, n->GetId()) : nullptr;
}

constexpr const char* kAdd = "Cannot add node ";
constexpr const char* kRemove = "Cannot remove node ";
constexpr const char* kToObject = " to ValueOfInfo object";
constexpr const char* kDecision = "Cannot set decision on ValueOfInfo object to node ";
constexpr const char* kPointOfView = "Cannot set point of view on ValueOfInfo object to node ";

} // namespace

extern "C" {

// The object comes into being together with its hold on the network, in this one call.
JNIEXPORT jlong JNICALL Java_quarn_ValueOfInfo_createNative(JNIEnv* env, jobject, jobject net) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, net);
        if (!network.IsValid())
            throw std::runtime_error("Cannot create ValueOfInfo object: the network is not "
                                     "consistent");
        auto voi = std::make_unique<QNL_valueOfInfo>(&network);
        if (!voi->IsValid())
            throw std::runtime_error("Cannot create ValueOfInfo object over this network");
        ChangeNetworkUsers(env, net, 1);
        return reinterpret_cast<jlong>(voi.release());
    });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_deleteNative(JNIEnv* env, jobject self,
                                                           jlong address) {
    Guarded(env, [&] {
        delete reinterpret_cast<QNL_valueOfInfo*>(address);
        ChangeNetworkUsersOfWrapper(env, self, -1);
    });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_update(JNIEnv* env, jobject self) {
    Guarded(env, [&] {
        QNL_valueOfInfo& voi = ObjectOf(env, self);
        const int status = GetNetworkOfWrapper(env, self).Update(voi);
        if (status != 0) ReportError(env, status, "Update");
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_ValueOfInfo_getAllNodes(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return IntArrayToJava(env, ObjectOf(env, self).GetAllNodes()); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_ValueOfInfo_getAllNodeIds(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        return NodeIdsToJava(env, GetNetworkOfWrapper(env, self),
                             ObjectOf(env, self).GetAllNodes());
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_ValueOfInfo_getAllDecisions(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return IntArrayToJava(env, ObjectOf(env, self).GetAllDecisions()); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_ValueOfInfo_getAllDecisionIds(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        return NodeIdsToJava(env, GetNetworkOfWrapper(env, self),
                             ObjectOf(env, self).GetAllDecisions());
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_ValueOfInfo_getAllActions(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return IntArrayToJava(env, ObjectOf(env, self).GetAllActions()); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_ValueOfInfo_getAllActionIds(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        return NodeIdsToJava(env, GetNetworkOfWrapper(env, self),
                             ObjectOf(env, self).GetAllActions());
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_ValueOfInfo_getIndexingNodes(JNIEnv* env, jobject self) {
    return Guarded(env,
                   [&] { return IntArrayToJava(env, ObjectOf(env, self).GetIndexingNodes()); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_ValueOfInfo_getIndexingNodeIds(JNIEnv* env,
                                                                         jobject self) {
    return Guarded(env, [&] {
        return NodeIdsToJava(env, GetNetworkOfWrapper(env, self),
                             ObjectOf(env, self).GetIndexingNodes());
    });
}

JNIEXPORT jdoubleArray JNICALL Java_quarn_ValueOfInfo_getValues(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        const QNL_Dmatrix& values = ObjectOf(env, self).GetValues();
        return DoubleArrayToJava(env, values.GetItems().Items(), values.GetSize());
    });
}

JNIEXPORT jint JNICALL Java_quarn_ValueOfInfo_getDecision(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return ObjectOf(env, self).GetDecision(); });
}

JNIEXPORT jstring JNICALL Java_quarn_ValueOfInfo_getDecisionId(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return IdOrNull(env, self, ObjectOf(env, self).GetDecision()); });
}

JNIEXPORT jint JNICALL Java_quarn_ValueOfInfo_getPointOfView(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return ObjectOf(env, self).GetPointOfView(); });
}

JNIEXPORT jstring JNICALL Java_quarn_ValueOfInfo_getPointOfViewId(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return IdOrNull(env, self, ObjectOf(env, self).GetPointOfView()); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_addNode__I(JNIEnv* env, jobject self, jint node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::AddNode, kAdd, kToObject); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_addNode__Ljava_lang_String_2(JNIEnv* env,
                                                                           jobject self,
                                                                           jstring node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::AddNode, kAdd, kToObject); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_removeNode__I(JNIEnv* env, jobject self, jint node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::RemoveNode, kRemove, kToObject); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_removeNode__Ljava_lang_String_2(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::RemoveNode, kRemove, kToObject); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_setDecision__I(JNIEnv* env, jobject self, jint node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::SetDecision, kDecision, ""); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_setDecision__Ljava_lang_String_2(JNIEnv* env,
                                                                               jobject self,
                                                                               jstring node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::SetDecision, kDecision, ""); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_setPointOfView__I(JNIEnv* env, jobject self,
                                                                jint node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::SetPointOfView, kPointOfView, ""); });
}

JNIEXPORT void JNICALL Java_quarn_ValueOfInfo_setPointOfView__Ljava_lang_String_2(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jstring node) {
    Guarded(env, [&] { Set(env, self, node, &QNL_valueOfInfo::SetPointOfView, kPointOfView, ""); });
}

} // extern "C"
