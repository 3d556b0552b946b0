#include "jni/glue.h"
#include "jni/relations.h"

#include "quarn_Network.h"

#include "definitions/extra_definition.h"
#include "model/dmatrix.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_info.h"

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quarn::detail;

namespace {

// A local reference released when the scope ends, so a long array never piles references up
// in the caller's frame.
class Local {
public:
    Local(JNIEnv* env, jobject object) : env(env), object(object) {}
    Local(const Local&) = delete;
    Local& operator=(const Local&) = delete;
    ~Local() {
        if (object != nullptr) env->DeleteLocalRef(object);
    }
    jobject get() const { return object; }

private:
    JNIEnv* env;
    jobject object;
};

// The two host classes that carry a pair of texts: UserProperty (name, value) and DocItemInfo
// (title, path). kind starts the messages, as in "Properties array element ...".
struct PairClass {
    const char* className;
    const char* first;
    const char* second;
    const char* kind;
    const char* argument;
};

constexpr PairClass PropertyClass{"quarn/UserProperty", "name", "value", "Properties",
                                  "properties"};
constexpr PairClass DocumentClass{"quarn/DocItemInfo", "title", "path", "Documentation", "items"};

std::string AtIndex(const PairClass& pair, const std::string& what, int index) {
    return std::string(pair.kind) + " array element " + what + " (index " + std::to_string(index) +
           ")";
}

// Calls add(first, second) for each element of the host array, in order. Every element is
// checked against the class itself (never read with another class's field identifiers), and
// a null element or a null text is refused with its index.
template <typename Add>
void ReadPairs(JNIEnv* env, jobjectArray array, const PairClass& pair, Add&& add) {
    ValidateArray(array, pair.argument);
    Local type(env, env->FindClass(pair.className));
    CheckPending(env);
    const auto cls = static_cast<jclass>(type.get());
    const jfieldID first = env->GetFieldID(cls, pair.first, "Ljava/lang/String;");
    CheckPending(env);
    const jfieldID second = env->GetFieldID(cls, pair.second, "Ljava/lang/String;");
    CheckPending(env);
    const int count = env->GetArrayLength(array);
    for (int i = 0; i < count; ++i) {
        Local element(env, env->GetObjectArrayElement(array, i));
        CheckPending(env);
        if (element.get() == nullptr)
            throw std::invalid_argument(AtIndex(pair, "name can't be null", i));
        if (!env->IsInstanceOf(element.get(), cls))
            throw std::invalid_argument(
                AtIndex(pair, std::string("is not a ") + (pair.className + 6), i));
        Local a(env, env->GetObjectField(element.get(), first));
        Local b(env, env->GetObjectField(element.get(), second));
        CheckPending(env);
        if (a.get() == nullptr)
            throw std::invalid_argument(
                AtIndex(pair, std::string(pair.first) + " can't be null", i));
        if (b.get() == nullptr)
            throw std::invalid_argument(
                AtIndex(pair, std::string(pair.second) + " can't be null", i));
        const UtfString x(env, static_cast<jstring>(a.get()), pair.first);
        const UtfString y(env, static_cast<jstring>(b.get()), pair.second);
        add(x, y);
    }
}

// A host array of count pairs, element i made of text(i).
template <typename Texts>
jobjectArray WritePairs(JNIEnv* env, const PairClass& pair, int count, Texts&& text) {
    Local type(env, env->FindClass(pair.className));
    CheckPending(env);
    const auto cls = static_cast<jclass>(type.get());
    const jmethodID constructor =
        env->GetMethodID(cls, "<init>", "(Ljava/lang/String;Ljava/lang/String;)V");
    CheckPending(env);
    jobjectArray result = env->NewObjectArray(count, cls, nullptr);
    CheckPending(env);
    for (int i = 0; i < count; ++i) {
        const auto [firstText, secondText] = text(i);
        Local a(env, TextToJava(env, firstText));
        Local b(env, TextToJava(env, secondText));
        Local element(env, env->NewObject(cls, constructor, a.get(), b.get()));
        CheckPending(env);
        env->SetObjectArrayElement(result, i, element.get());
        CheckPending(env);
    }
    return result;
}

jobjectArray UserPropertiesToJava(JNIEnv* env, const QNL_userProperties& list) {
    return WritePairs(env, PropertyClass, list.GetNumberOfProperties(),
                      [&](int i) { return std::pair(list.GetName(i), list.GetValue(i)); });
}

jobjectArray DocumentationToJava(JNIEnv* env, const QNL_documentation& list) {
    return WritePairs(env, DocumentClass, list.GetNumberOfDocuments(),
                      [&](int i) { return std::pair(list.GetTitle(i), list.GetPath(i)); });
}

// The target changes only when every element was accepted.
void UserPropertiesFromJava(JNIEnv* env, jobjectArray array, QNL_userProperties& target) {
    QNL_userProperties list;
    ReadPairs(env, array, PropertyClass, [&](const UtfString& name, const UtfString& value) {
        if (list.FindProperty(name.c_str()) >= 0)
            throw std::invalid_argument("Duplicate property name: " + name.str());
        const int status = list.AddProperty(name.c_str(), value.c_str());
        if (status != 0)
            throw std::runtime_error("Can't add property (" + name.str() + "," + value.str() +
                                     "), error code: " + std::to_string(status));
    });
    target.Assign(list);
}

// Atomic like the properties: a refused element leaves the old list whole.
void DocumentationFromJava(JNIEnv* env, jobjectArray array, QNL_documentation& target) {
    QNL_documentation list;
    ReadPairs(env, array, DocumentClass, [&](const UtfString& title, const UtfString& path) {
        list.AddDocument(title.c_str(), path.c_str());
    });
    target.Assign(list);
}

QNL_network& Net(JNIEnv* env, jobject self) {
    return NetworkOf(env, self);
}

int NodeOf(JNIEnv* env, jobject self, jstring id) {
    return ResolveNodeId(env, Net(env, self), id);
}

QNL_nodeInfo& InfoOf(JNIEnv* env, jobject self, int node) {
    QNL_node* target = ValidateNodeHandle(Net(env, self), node);
    QNL_nodeInfo* info = target->GetInfo();
    if (info == nullptr)
        throw std::runtime_error(std::string("Node '") + NodeIdText(target) + "' has no header");
    return *info;
}

QNL_documentation& OutcomeDocumentationOf(JNIEnv* env, jobject self, int node, int outcome) {
    QNL_node* target = ValidateOutcomeIndex(Net(env, self), node, outcome);
    QNL_extraDefinition* extra = target->GetExtraDefinition();
    QNL_documentation* list = extra != nullptr ? extra->GetOutcomeDocumentation(outcome) : nullptr;
    if (list == nullptr)
        throw std::runtime_error(std::string("Node '") + NodeIdText(target) +
                                 "' keeps no documentation for its outcomes");
    return *list;
}

QNL_doubleArray& CostsOf(JNIEnv* env, jobject self, int node, QNL_node** owner = nullptr) {
    QNL_node* target = ValidateNodeHandle(Net(env, self), node);
    QNL_nodeCost* cost = target->GetCost();
    if (cost == nullptr)
        throw std::runtime_error(std::string("Node '") + NodeIdText(target) + "' has no cost");
    if (owner != nullptr) *owner = target;
    return cost->GetCosts().GetItems();
}

// The core takes a second cost arc between the same two nodes and grows the child's costs by
// the parent twice; a repeated arc is refused here as the core refuses a repeated ordinary one.
void AddCostArcChecked(JNIEnv* env, jobject self, int parent, int child) {
    QNL_network& network = Net(env, self);
    ValidateNodeHandle(network, parent);
    ValidateNodeHandle(network, child);
    if (parent != child && network.GetChildren(parent, 1).IsInList(child)) {
        QNL_errorHandler::Instance().Flush();
        ReportError(env, -2, "AddArc");
    }
    AddArcChecked(env, self, parent, child, 1);
}

} // namespace

// User properties.

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getUserProperties(JNIEnv* env, jobject self) {
    return Guarded(env,
                   [&] { return UserPropertiesToJava(env, Net(env, self).GetUserProperties()); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setUserProperties(JNIEnv* env, jobject self,
                                                            jobjectArray properties) {
    Guarded(env,
            [&] { UserPropertiesFromJava(env, properties, Net(env, self).GetUserProperties()); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getNodeUserProperties__I(JNIEnv* env,
                                                                           jobject self,
                                                                           jint node) {
    return Guarded(env,
                   [&] { return UserPropertiesToJava(env, InfoOf(env, self, node).properties); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getNodeUserProperties__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodeUserProperties__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeUserProperties__I_3Lquarn_UserProperty_2(
    JNIEnv* env, jobject self, jint node, jobjectArray properties) {
    Guarded(env,
            [&] { UserPropertiesFromJava(env, properties, InfoOf(env, self, node).properties); });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setNodeUserProperties__Ljava_lang_String_2_3Lquarn_UserProperty_2(
    JNIEnv* env, jobject self, jstring node, jobjectArray properties) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeUserProperties__I_3Lquarn_UserProperty_2(
            env, self, NodeOf(env, self, node), properties);
    });
}

// Documentation of nodes and outcomes.

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getNodeDocumentation__I(JNIEnv* env, jobject self,
                                                                          jint node) {
    return Guarded(env,
                   [&] { return DocumentationToJava(env, InfoOf(env, self, node).documentation); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getNodeDocumentation__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodeDocumentation__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeDocumentation__I_3Lquarn_DocItemInfo_2(
    JNIEnv* env, jobject self, jint node, jobjectArray items) {
    Guarded(env, [&] { DocumentationFromJava(env, items, InfoOf(env, self, node).documentation); });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setNodeDocumentation__Ljava_lang_String_2_3Lquarn_DocItemInfo_2(
    JNIEnv* env, jobject self, jstring node, jobjectArray items) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeDocumentation__I_3Lquarn_DocItemInfo_2(
            env, self, NodeOf(env, self, node), items);
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getOutcomeDocumentation__II(JNIEnv* env,
                                                                              jobject self,
                                                                              jint node,
                                                                              jint outcome) {
    return Guarded(env, [&] {
        return DocumentationToJava(env, OutcomeDocumentationOf(env, self, node, outcome));
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getOutcomeDocumentation__Ljava_lang_String_2I(
    JNIEnv* env, jobject self, jstring node, jint outcome) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getOutcomeDocumentation__II(env, self, NodeOf(env, self, node),
                                                              outcome);
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getOutcomeDocumentation__ILjava_lang_String_2(
    JNIEnv* env, jobject self, jint node, jstring outcome) {
    return Guarded(env, [&] {
        const int index = ResolveOutcomeId(env, Net(env, self), node, outcome);
        return Java_quarn_Network_getOutcomeDocumentation__II(env, self, node, index);
    });
}

JNIEXPORT jobjectArray JNICALL
Java_quarn_Network_getOutcomeDocumentation__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring outcome) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getOutcomeDocumentation__ILjava_lang_String_2(
            env, self, NodeOf(env, self, node), outcome);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setOutcomeDocumentation__II_3Lquarn_DocItemInfo_2(
    JNIEnv* env, jobject self, jint node, jint outcome, jobjectArray items) {
    Guarded(env, [&] {
        DocumentationFromJava(env, items, OutcomeDocumentationOf(env, self, node, outcome));
    });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setOutcomeDocumentation__Ljava_lang_String_2I_3Lquarn_DocItemInfo_2(
    JNIEnv* env, jobject self, jstring node, jint outcome, jobjectArray items) {
    Guarded(env, [&] {
        Java_quarn_Network_setOutcomeDocumentation__II_3Lquarn_DocItemInfo_2(
            env, self, NodeOf(env, self, node), outcome, items);
    });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setOutcomeDocumentation__ILjava_lang_String_2_3Lquarn_DocItemInfo_2(
    JNIEnv* env, jobject self, jint node, jstring outcome, jobjectArray items) {
    Guarded(env, [&] {
        const int index = ResolveOutcomeId(env, Net(env, self), node, outcome);
        Java_quarn_Network_setOutcomeDocumentation__II_3Lquarn_DocItemInfo_2(env, self, node, index,
                                                                             items);
    });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setOutcomeDocumentation__Ljava_lang_String_2Ljava_lang_String_2_3Lquarn_DocItemInfo_2(
    JNIEnv* env, jobject self, jstring node, jstring outcome, jobjectArray items) {
    Guarded(env, [&] {
        Java_quarn_Network_setOutcomeDocumentation__ILjava_lang_String_2_3Lquarn_DocItemInfo_2(
            env, self, NodeOf(env, self, node), outcome, items);
    });
}

// Cost arcs: layer 1 of the arc routines.

JNIEXPORT void JNICALL Java_quarn_Network_addCostArc__II(JNIEnv* env, jobject self, jint parent,
                                                         jint child) {
    Guarded(env, [&] { AddCostArcChecked(env, self, parent, child); });
}

JNIEXPORT void JNICALL Java_quarn_Network_addCostArc__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring parent, jstring child) {
    Guarded(env, [&] {
        const int c = NodeOf(env, self, child);
        const int p = NodeOf(env, self, parent);
        AddCostArcChecked(env, self, p, c);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteCostArc__II(JNIEnv* env, jobject self, jint parent,
                                                            jint child) {
    Guarded(env, [&] { RemoveArcChecked(env, self, parent, child, 1); });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteCostArc__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring parent, jstring child) {
    Guarded(env, [&] {
        const int c = NodeOf(env, self, child);
        const int p = NodeOf(env, self, parent);
        RemoveArcChecked(env, self, p, c, 1);
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getCostParents__I(JNIEnv* env, jobject self,
                                                                 jint node) {
    return Guarded(env, [&] { return ParentsToJava(env, self, node, 1); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getCostParents__Ljava_lang_String_2(JNIEnv* env,
                                                                                   jobject self,
                                                                                   jstring node) {
    return Guarded(env, [&] { return ParentsToJava(env, self, NodeOf(env, self, node), 1); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getCostParentIds__I(JNIEnv* env, jobject self,
                                                                      jint node) {
    return Guarded(env, [&] { return ParentIdsToJava(env, self, node, 1); });
}

JNIEXPORT jobjectArray JNICALL
Java_quarn_Network_getCostParentIds__Ljava_lang_String_2(JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] { return ParentIdsToJava(env, self, NodeOf(env, self, node), 1); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getCostChildren__I(JNIEnv* env, jobject self,
                                                                  jint node) {
    return Guarded(env, [&] { return ChildrenToJava(env, self, node, 1); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getCostChildren__Ljava_lang_String_2(JNIEnv* env,
                                                                                    jobject self,
                                                                                    jstring node) {
    return Guarded(env, [&] { return ChildrenToJava(env, self, NodeOf(env, self, node), 1); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getCostChildIds__I(JNIEnv* env, jobject self,
                                                                     jint node) {
    return Guarded(env, [&] { return ChildIdsToJava(env, self, node, 1); });
}

JNIEXPORT jobjectArray JNICALL
Java_quarn_Network_getCostChildIds__Ljava_lang_String_2(JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] { return ChildIdsToJava(env, self, NodeOf(env, self, node), 1); });
}

// Observation costs.

JNIEXPORT jdoubleArray JNICALL Java_quarn_Network_getNodeCost__I(JNIEnv* env, jobject self,
                                                                 jint node) {
    return Guarded(env, [&] {
        // A matrix's values are its whole size; the array's count is not kept up for them.
        const QNL_doubleArray& values = CostsOf(env, self, node);
        return DoubleArrayToJava(env, values.Items(), values.GetSize());
    });
}

JNIEXPORT jdoubleArray JNICALL Java_quarn_Network_getNodeCost__Ljava_lang_String_2(JNIEnv* env,
                                                                                   jobject self,
                                                                                   jstring node) {
    return Guarded(
        env, [&] { return Java_quarn_Network_getNodeCost__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeCost__I_3D(JNIEnv* env, jobject self, jint node,
                                                            jdoubleArray costs) {
    Guarded(env, [&] {
        QNL_node* owner = nullptr;
        const int expected = CostsOf(env, self, node, &owner).GetSize();
        ValidateArray(costs, "costs");
        const int got = env->GetArrayLength(costs);
        if (got != expected)
            throw std::invalid_argument(
                std::string("Invalid cost array size for node '") + NodeIdText(owner) +
                "': expected " + std::to_string(expected) + " and got " + std::to_string(got));
        QNL_doubleArray values;
        if (values.SetSize(expected) != 0) throw std::bad_alloc();
        if (expected > 0) env->GetDoubleArrayRegion(costs, 0, expected, values.Items());
        CheckPending(env);
        const int status = owner->GetCost()->SetCosts(values);
        if (status != 0) ReportError(env, status, "SetCosts");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeCost__Ljava_lang_String_2_3D(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring node,
                                                                              jdoubleArray costs) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeCost__I_3D(env, self, NodeOf(env, self, node), costs);
    });
}
