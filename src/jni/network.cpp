#include "jni/glue.h"
#include "jni/relations.h"

#include "quarn_Network.h"

#include "definitions/node_value.h"
#include "definitions/noisy_max.h"
#include "model/double_array.h"
#include "model/error_handler.h"
#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/string_array.h"
#include "model/submodel.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

using namespace quarn::detail;

namespace {

std::string Quoted(const QNL_node* node) {
    return std::string("'") + NodeIdText(node) + "'";
}

// The handle of the node a host identifier names.
int NodeOf(JNIEnv* env, jobject self, jstring id) {
    return ResolveNodeId(env, NetworkOf(env, self), id);
}

// Logs why a definition refused to name one of its outcomes `id`.
void ExplainRefusedOutcomeId(const QNL_nodeDefinition& definition, const QNL_node* node,
                             int outcome, const std::string& id) {
    const QNL_idArray* ids = definition.GetOutcomeIds();
    const int holder = ids != nullptr ? ids->FindPosition(id.c_str()) : -1;
    if (!IsValidId(id.c_str()))
        QNL_errorHandler::Instance().LogError(
            -2, "Identifier '" + id +
                    "' is invalid - it should start with an ASCII letter and contain only ASCII "
                    "letters, digits and underscores");
    else if (holder >= 0 && holder != outcome)
        QNL_errorHandler::Instance().LogError(-2, "Identifier '" + id + "' is already outcome " +
                                                      std::to_string(holder) + " of node " +
                                                      Quoted(node));
}

QNL_nodeDefinition& DefinitionOf(const QNL_node* node) {
    QNL_nodeDefinition* definition = node->GetDefinition();
    if (definition == nullptr)
        throw std::runtime_error("Node " + Quoted(node) + " has no definition");
    return *definition;
}

QNL_nodeValue& ValueOf(const QNL_node* node) {
    QNL_nodeValue* value = node->GetValue();
    if (value == nullptr) throw std::runtime_error("Node " + Quoted(node) + " has no value");
    return *value;
}

QNL_header& HeaderOf(const QNL_node* node) {
    QNL_nodeInfo* info = node->GetInfo();
    if (info == nullptr) throw std::runtime_error("Node " + Quoted(node) + " has no header");
    return info->header;
}

QNL_header& HeaderOf(const QNL_network& network) {
    QNL_header* header = network.GetHeader();
    if (header == nullptr) throw std::runtime_error("The network has no header");
    return *header;
}

// Hands the host string to one setter of the target; a refusal goes to the error bridge.
template <typename Target>
void SetStringAttribute(JNIEnv* env, jstring value, Target& target,
                        int (Target::*setter)(const char*), const char* operation,
                        const char* argument) {
    const UtfString text(env, value, argument);
    const int status = (target.*setter)(text.c_str());
    if (status != 0) ReportError(env, status, operation);
}

} // namespace

namespace quarn::detail {

void AddArcChecked(JNIEnv* env, jobject self, int parent, int child, int layer) {
    QNL_network& network = NetworkOf(env, self);
    ValidateNodeHandle(network, parent);
    ValidateNodeHandle(network, child);
    QNL_errorHandler::Instance().Flush();
    const int status = network.AddArc(parent, child, layer);
    if (status != 0) ReportError(env, status, "AddArc");
}

void RemoveArcChecked(JNIEnv* env, jobject self, int parent, int child, int layer) {
    QNL_network& network = NetworkOf(env, self);
    ValidateNodeHandle(network, parent);
    ValidateNodeHandle(network, child);
    const int status = network.RemoveArc(parent, child, layer);
    if (status != 0) ReportError(env, status, "RemoveArc");
}

jintArray ParentsToJava(JNIEnv* env, jobject self, int node, int layer) {
    QNL_network& network = NetworkOf(env, self);
    ValidateNodeHandle(network, node);
    return IntArrayToJava(env, network.GetParents(node, layer));
}

jintArray ChildrenToJava(JNIEnv* env, jobject self, int node, int layer) {
    QNL_network& network = NetworkOf(env, self);
    ValidateNodeHandle(network, node);
    return IntArrayToJava(env, network.GetChildren(node, layer));
}

jobjectArray ParentIdsToJava(JNIEnv* env, jobject self, int node, int layer) {
    QNL_network& network = NetworkOf(env, self);
    ValidateNodeHandle(network, node);
    return NodeIdsToJava(env, network, network.GetParents(node, layer));
}

jobjectArray ChildIdsToJava(JNIEnv* env, jobject self, int node, int layer) {
    QNL_network& network = NetworkOf(env, self);
    ValidateNodeHandle(network, node);
    return NodeIdsToJava(env, network, network.GetChildren(node, layer));
}

} // namespace quarn::detail

namespace {

// Reads a network path, clears the log and runs one file operation on it.
void FileOperation(JNIEnv* env, jobject self, jstring path,
                   int (QNL_network::*operation)(const char*, int, int), const char* name) {
    QNL_network& network = NetworkOf(env, self);
    const UtfString text(env, path, "path");
    QNL_errorHandler::Instance().Flush();
    const int status = (network.*operation)(text.c_str(), 0, 0);
    if (status != 0) ReportError(env, status, name);
}

// A copy of the numbers of a node's definition, as the definition methods read and write
// them: a noisy-MAX node's parameters (constrained columns included), every other node's
// table; a definition without such numbers is refused with the host's message.
template <typename Refusal> QNL_doubleArray DefinitionArray(const QNL_node* node) {
    QNL_nodeDefinition& definition = DefinitionOf(node);
    QNL_doubleArray numbers;
    bool available;
    if (auto* gate = dynamic_cast<QNL_noisyMAX*>(&definition)) {
        available = numbers.Assign(gate->GetParameters()->GetItems()) == 0;
        numbers.SetCount(numbers.GetSize());
    } else {
        available = definition.GetDefinition(numbers) == 0;
    }
    if (!available) {
        const char* keyword = definition.GetTypeName();
        throw Refusal(std::string("Cannot get node definition '") + (keyword ? keyword : "") +
                      "' of node " + Quoted(node) + " as an array of doubles");
    }
    return numbers;
}

// The noisy-MAX definition of a node, or the host's refusal.
QNL_noisyMAX& ValidateNoisyMaxNode(const QNL_network& network, int node) {
    QNL_node* chosen = ValidateNodeHandle(network, node);
    auto* gate = dynamic_cast<QNL_noisyMAX*>(chosen->GetDefinition());
    if (gate == nullptr)
        throw std::invalid_argument("Node " + Quoted(chosen) + " is not of NoisyMax type");
    return *gate;
}

// The position of a parent among the node's parents, by identifier. The identifier is matched
// against the parents' own identifiers, byte for byte, not looked up among all nodes: a name
// that differs in case, or names no node at all, is simply not a parent.
int ResolveParentOfChild(JNIEnv* env, const QNL_network& network, int node, jstring parent) {
    const QNL_node* child = ValidateNodeHandle(network, node);
    const QNL_intArray& parents = network.GetParents(node);
    const UtfString text(env, parent, "parent id");
    for (int i = 0; i < parents.GetCount(); ++i)
        if (text.str() == NodeIdText(network.GetNode(parents[i]))) return i;
    throw std::invalid_argument("Node " + Quoted(child) + " is not a child of node '" + text.str() +
                                "'");
}

// The strength order of the parent at a position; a position outside the parent list never
// reaches the definition.
int StrengthBlock(const QNL_network& network, int node, const QNL_noisyMAX& gate, int position) {
    const QNL_intArray& parents = network.GetParents(node);
    if (position < 0 || position >= parents.GetCount()) {
        std::string message =
            "Invalid parent position for node " + Quoted(network.GetNode(node)) + ": ";
        AppendInt(message, position);
        throw std::invalid_argument(message);
    }
    for (int b = 0; b < gate.GetNumberOfBlocks(); ++b)
        if (gate.GetBlockParent(b) == parents[position]) return b;
    throw std::invalid_argument("Node " + Quoted(network.GetNode(parents[position])) +
                                " has no strengths at node " + Quoted(network.GetNode(node)));
}

jintArray NoisyStrengths(JNIEnv* env, jobject self, int node, int position) {
    QNL_network& network = NetworkOf(env, self);
    QNL_noisyMAX& gate = ValidateNoisyMaxNode(network, node);
    return IntArrayToJava(
        env, *gate.GetParentOutcomeStrengths(StrengthBlock(network, node, gate, position)));
}

// Strengths that are not a permutation of the parent's outcomes are refused before they
// reach the definition, where they would be used as indices; the values that depend on
// the node are no longer valid afterwards.
void SetNoisyStrengths(JNIEnv* env, jobject self, int node, int position, jintArray strengths) {
    QNL_network& network = NetworkOf(env, self);
    QNL_noisyMAX& gate = ValidateNoisyMaxNode(network, node);
    const int block = StrengthBlock(network, node, gate, position);
    ValidateArray(strengths, "strengths");
    const int count = gate.GetBlockSize(block);
    const jsize length = env->GetArrayLength(strengths);
    if (length != count) {
        std::string message = "Invalid parent strength array size for node " +
                              Quoted(network.GetNode(node)) + ": expected ";
        AppendInt(message, count);
        message += " and got ";
        AppendInt(message, length);
        throw std::invalid_argument(message);
    }
    QNL_intArray order;
    if (order.SetSize(count) != 0) throw std::bad_alloc();
    if (count > 0) {
        env->GetIntArrayRegion(strengths, 0, count, reinterpret_cast<jint*>(order.Items()));
        CheckPending(env);
    }
    order.SetCount(count);
    if (gate.SetParentOutcomeStrengths(block, order) != 0)
        throw std::invalid_argument("Invalid parent strengths for node " +
                                    Quoted(network.GetNode(node)) +
                                    ": not a permutation of the parent's outcomes");
    gate.CalculateCpt();
    network.NotifyChange(node, QNL_network::CHANGE_VALUES);
    if (QNL_nodeValue* value = network.GetNode(node)->GetValue()) value->SetValidFlag(false);
}

} // namespace

extern "C" {

// ---------------------------------------------------------------------------------------
// Network-level methods.

JNIEXPORT jlong JNICALL Java_quarn_Network_createNative(JNIEnv* env, jobject, jobject) {
    return Guarded(env, [&] {
        auto* network = new QNL_network();
        if (!network->IsValid()) {
            delete network;
            throw std::bad_alloc();
        }
        return reinterpret_cast<jlong>(network);
    });
}

// The check for users, the taking of the address and the deletion happen here, under the
// lock, so that no object created on another thread comes to hold a network that is being
// deleted, and two closes from two threads delete it once.
JNIEXPORT void JNICALL Java_quarn_Network_deleteNative(JNIEnv* env, jobject self, jlong address) {
    Guarded(env, [&] {
        if (self != nullptr) {
            if (NetworkUsers(env, self) > 0)
                throw std::runtime_error("The network is used by a ValueOfInfo or DiagNetwork "
                                         "object");
            if (!TakeNativePointer(env, self, address)) return;
        }
        delete reinterpret_cast<QNL_network*>(address);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_readFile(JNIEnv* env, jobject self, jstring path) {
    Guarded(env, [&] {
        NetworkOf(env, self);
        RefuseWhileHeld(env, self, "reading a file");
        FileOperation(env, self, path, &QNL_network::ReadFile, "ReadFile");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_writeFile(JNIEnv* env, jobject self, jstring path) {
    Guarded(env, [&] { FileOperation(env, self, path, &QNL_network::WriteFile, "WriteFile"); });
}

JNIEXPORT void JNICALL Java_quarn_Network_updateBeliefs(JNIEnv* env, jobject self) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        QNL_errorHandler::Instance().Flush();
        const int status = network.UpdateBeliefs();
        if (status != 0) ReportError(env, status, "UpdateBeliefs");
    });
}

JNIEXPORT jdouble JNICALL Java_quarn_Network_probEvidence(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        double result = 0.0;
        // The network's own code is not passed on: the host always sees -1 here.
        if (!NetworkOf(env, self).CalcPropEvidence(result, false))
            ReportError(env, -1, "CalcPropEvidence");
        return result;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getSampleCount(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return NetworkOf(env, self).GetNumberOfSamples(); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setSampleCount(JNIEnv* env, jobject self, jint count) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        // The samplers divide by the number of samples.
        if (count < 1) {
            std::string message = "Invalid sample count: ";
            AppendInt(message, count);
            throw std::invalid_argument(message + " - it should be at least 1");
        }
        network.SetNumberOfSamples(count);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getId(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return TextToJava(env, HeaderOf(NetworkOf(env, self)).GetId()); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setId(JNIEnv* env, jobject self, jstring id) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        QNL_header& header = HeaderOf(network);
        ValidateIdentifier(env, id);
        const UtfString text(env, id, "id");
        RefuseUsedSubmodelId(env, network, text.c_str(),
                             network.GetSubmodelHandler().GetSubmodel(QNL_network::SUBMODEL_FLAG),
                             -2, "SetId");
        SetStringAttribute(env, id, header, &QNL_header::SetId, "SetId", "id");
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getName(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return TextToJava(env, HeaderOf(NetworkOf(env, self)).GetName()); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setName(JNIEnv* env, jobject self, jstring name) {
    Guarded(env, [&] {
        QNL_header& header = HeaderOf(NetworkOf(env, self));
        SetStringAttribute(env, name, header, &QNL_header::SetName, "SetName", "name");
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getDescription(JNIEnv* env, jobject self) {
    return Guarded(env,
                   [&] { return TextToJava(env, HeaderOf(NetworkOf(env, self)).GetComment()); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setDescription(JNIEnv* env, jobject self, jstring text) {
    Guarded(env, [&] {
        QNL_header& header = HeaderOf(NetworkOf(env, self));
        SetStringAttribute(env, text, header, &QNL_header::SetComment, "SetComment", "description");
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getBayesianAlgorithm(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return NetworkOf(env, self).GetDefaultBNAlgorithm(); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setBayesianAlgorithm(JNIEnv* env, jobject self, jint id) {
    Guarded(env, [&] { NetworkOf(env, self).SetDefaultBNAlgorithm(id); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getInfluenceDiagramAlgorithm(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return NetworkOf(env, self).GetDefaultIDAlgorithm(); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setInfluenceDiagramAlgorithm(JNIEnv* env, jobject self,
                                                                       jint id) {
    Guarded(env, [&] { NetworkOf(env, self).SetDefaultIDAlgorithm(id); });
}

// ---------------------------------------------------------------------------------------
// Node enumeration and lookup.

JNIEXPORT jint JNICALL Java_quarn_Network_getNodeCount(JNIEnv* env, jobject self) {
    return Guarded(env, [&] { return NetworkOf(env, self).GetNumberOfNodes(); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getFirstNode(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        const int handle = NetworkOf(env, self).GetFirstNode();
        return handle < 0 ? -1 : handle;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNextNode(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        // A handle at or past the table's end is the end; the network would count past it.
        if (node >= network.GetTableSize()) return -1;
        const int handle = network.GetNextNode(node);
        return handle < 0 ? -1 : handle;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNode(JNIEnv* env, jobject self, jstring id) {
    return Guarded(env, [&] { return NodeOf(env, self, id); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getAllNodes(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        QNL_intArray nodes;
        if (NetworkOf(env, self).GetAllNodes(nodes) != 0) throw std::bad_alloc();
        return IntArrayToJava(env, nodes);
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getAllNodeIds(JNIEnv* env, jobject self) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        QNL_intArray nodes;
        if (network.GetAllNodes(nodes) != 0) throw std::bad_alloc();
        return NodeIdsToJava(env, network, nodes);
    });
}

// ---------------------------------------------------------------------------------------
// Nodes.

JNIEXPORT jint JNICALL Java_quarn_Network_addNode__ILjava_lang_String_2(JNIEnv* env, jobject self,
                                                                        jint type, jstring id) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        int result;
        if (id == nullptr) {
            result = network.AddNode(type, nullptr);
        } else {
            ValidateIdentifier(env, id);
            const UtfString text(env, id, "id");
            result = network.AddNode(type, text.c_str());
        }
        if (result < 0) ThrowQuarnError(env, result, "AddNode");
        return result;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_addNode__I(JNIEnv* env, jobject self, jint type) {
    return Guarded(env, [&] {
        return Java_quarn_Network_addNode__ILjava_lang_String_2(env, self, type, nullptr);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteNode__I(JNIEnv* env, jobject self, jint node) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        ValidateNodeHandle(network, node);
        RefuseWhileHeld(env, self, "deleting a node");
        network.DeleteNode(node);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteNode__Ljava_lang_String_2(JNIEnv* env, jobject self,
                                                                          jstring node) {
    Guarded(env, [&] { Java_quarn_Network_deleteNode__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNodeType__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] { return ValidateNodeHandle(NetworkOf(env, self), node)->GetType(); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getNodeType__Ljava_lang_String_2(JNIEnv* env,
                                                                           jobject self,
                                                                           jstring node) {
    return Guarded(
        env, [&] { return Java_quarn_Network_getNodeType__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeType__II(JNIEnv* env, jobject self, jint node,
                                                          jint type) {
    Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        RefuseWhileHeld(env, self, "changing a node's type");
        const int status = target->SetType(type);
        if (status != 0) ReportError(env, status, "setNodeType");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeType__Ljava_lang_String_2I(JNIEnv* env,
                                                                            jobject self,
                                                                            jstring node,
                                                                            jint type) {
    Guarded(env,
            [&] { Java_quarn_Network_setNodeType__II(env, self, NodeOf(env, self, node), type); });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getNodeId(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        return TextToJava(env, NodeIdText(ValidateNodeHandle(NetworkOf(env, self), node)));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeId__ILjava_lang_String_2(JNIEnv* env, jobject self,
                                                                          jint node, jstring id) {
    Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        ValidateIdentifier(env, id);
        SetStringAttribute(env, id, HeaderOf(target), &QNL_header::SetId, "SetId", "id");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeId__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring id) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeId__ILjava_lang_String_2(env, self, NodeOf(env, self, node), id);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getNodeName__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        return TextToJava(env, HeaderOf(ValidateNodeHandle(NetworkOf(env, self), node)).GetName());
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getNodeName__Ljava_lang_String_2(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring node) {
    return Guarded(
        env, [&] { return Java_quarn_Network_getNodeName__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeName__ILjava_lang_String_2(JNIEnv* env,
                                                                            jobject self, jint node,
                                                                            jstring name) {
    Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        SetStringAttribute(env, name, HeaderOf(target), &QNL_header::SetName, "SetName", "name");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeName__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring name) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeName__ILjava_lang_String_2(env, self, NodeOf(env, self, node),
                                                             name);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getNodeDescription__I(JNIEnv* env, jobject self,
                                                                   jint node) {
    return Guarded(env, [&] {
        return TextToJava(env,
                          HeaderOf(ValidateNodeHandle(NetworkOf(env, self), node)).GetComment());
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getNodeDescription__Ljava_lang_String_2(JNIEnv* env,
                                                                                     jobject self,
                                                                                     jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodeDescription__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeDescription__ILjava_lang_String_2(JNIEnv* env,
                                                                                   jobject self,
                                                                                   jint node,
                                                                                   jstring text) {
    Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        SetStringAttribute(env, text, HeaderOf(target), &QNL_header::SetComment, "SetComment",
                           "description");
    });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setNodeDescription__Ljava_lang_String_2Ljava_lang_String_2(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring node,
                                                                              jstring text) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeDescription__ILjava_lang_String_2(env, self,
                                                                    NodeOf(env, self, node), text);
    });
}

// ---------------------------------------------------------------------------------------
// Arcs and relations.

JNIEXPORT void JNICALL Java_quarn_Network_addArc__II(JNIEnv* env, jobject self, jint parent,
                                                     jint child) {
    Guarded(env, [&] { AddArcChecked(env, self, parent, child, 0); });
}

// The two-identifier arc methods resolve the child before the parent.
JNIEXPORT void JNICALL Java_quarn_Network_addArc__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring parent, jstring child) {
    Guarded(env, [&] {
        const int c = NodeOf(env, self, child);
        const int p = NodeOf(env, self, parent);
        Java_quarn_Network_addArc__II(env, self, p, c);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteArc__II(JNIEnv* env, jobject self, jint parent,
                                                        jint child) {
    Guarded(env, [&] { RemoveArcChecked(env, self, parent, child, 0); });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteArc__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring parent, jstring child) {
    Guarded(env, [&] {
        const int c = NodeOf(env, self, child);
        const int p = NodeOf(env, self, parent);
        Java_quarn_Network_deleteArc__II(env, self, p, c);
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getParents__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] { return ParentsToJava(env, self, node, 0); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getParents__Ljava_lang_String_2(JNIEnv* env,
                                                                               jobject self,
                                                                               jstring node) {
    return Guarded(env, [&] { return ParentsToJava(env, self, NodeOf(env, self, node), 0); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getParentIds__I(JNIEnv* env, jobject self,
                                                                  jint node) {
    return Guarded(env, [&] { return ParentIdsToJava(env, self, node, 0); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getParentIds__Ljava_lang_String_2(JNIEnv* env,
                                                                                    jobject self,
                                                                                    jstring node) {
    return Guarded(env, [&] { return ParentIdsToJava(env, self, NodeOf(env, self, node), 0); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getChildren__I(JNIEnv* env, jobject self,
                                                              jint node) {
    return Guarded(env, [&] { return ChildrenToJava(env, self, node, 0); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getChildren__Ljava_lang_String_2(JNIEnv* env,
                                                                                jobject self,
                                                                                jstring node) {
    return Guarded(env, [&] { return ChildrenToJava(env, self, NodeOf(env, self, node), 0); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getChildIds__I(JNIEnv* env, jobject self,
                                                                 jint node) {
    return Guarded(env, [&] { return ChildIdsToJava(env, self, node, 0); });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getChildIds__Ljava_lang_String_2(JNIEnv* env,
                                                                                   jobject self,
                                                                                   jstring node) {
    return Guarded(env, [&] { return ChildIdsToJava(env, self, NodeOf(env, self, node), 0); });
}

// ---------------------------------------------------------------------------------------
// Outcomes.

JNIEXPORT jint JNICALL Java_quarn_Network_getOutcomeCount__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        const QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        return DefinitionOf(target).GetNumberOfOutcomes();
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getOutcomeCount__Ljava_lang_String_2(JNIEnv* env,
                                                                               jobject self,
                                                                               jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getOutcomeCount__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_addOutcome__ILjava_lang_String_2(JNIEnv* env,
                                                                           jobject self, jint node,
                                                                           jstring id) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        ValidateIdentifier(env, id);
        QNL_nodeDefinition& definition = DefinitionOf(ValidateNodeHandle(network, node));
        const UtfString text(env, id, "id");
        const int status = definition.AddOutcome(text.c_str());
        if (status != 0) ReportError(env, status, "AddOutcome");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_addOutcome__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring id) {
    Guarded(env, [&] {
        Java_quarn_Network_addOutcome__ILjava_lang_String_2(env, self, NodeOf(env, self, node), id);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_insertOutcome__IILjava_lang_String_2(
    JNIEnv* env, jobject self, jint node, jint position, jstring id) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        ValidateIdentifier(env, id);
        QNL_nodeDefinition& definition = DefinitionOf(ValidateNodeHandle(network, node));
        const UtfString text(env, id, "id");
        RefuseWhileHeld(env, self, "inserting an outcome");
        const int status = definition.InsertOutcome(position, text.c_str());
        if (status != 0) ReportError(env, status, "InsertOutcome");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_insertOutcome__Ljava_lang_String_2ILjava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jint position, jstring id) {
    Guarded(env, [&] {
        Java_quarn_Network_insertOutcome__IILjava_lang_String_2(env, self, NodeOf(env, self, node),
                                                                position, id);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteOutcome__II(JNIEnv* env, jobject self, jint node,
                                                            jint outcome) {
    Guarded(env, [&] {
        QNL_node* target = ValidateOutcomeIndex(NetworkOf(env, self), node, outcome);
        RefuseWhileHeld(env, self, "deleting an outcome");
        const int status = DefinitionOf(target).RemoveOutcome(outcome);
        if (status != 0) ReportError(env, status, "RemoveOutcome");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteOutcome__Ljava_lang_String_2I(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring node,
                                                                              jint outcome) {
    Guarded(env, [&] {
        Java_quarn_Network_deleteOutcome__II(env, self, NodeOf(env, self, node), outcome);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteOutcome__ILjava_lang_String_2(JNIEnv* env,
                                                                              jobject self,
                                                                              jint node,
                                                                              jstring outcome) {
    Guarded(env, [&] {
        const int index = ResolveOutcomeId(env, NetworkOf(env, self), node, outcome);
        Java_quarn_Network_deleteOutcome__II(env, self, node, index);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_deleteOutcome__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring outcome) {
    Guarded(env, [&] {
        Java_quarn_Network_deleteOutcome__ILjava_lang_String_2(env, self, NodeOf(env, self, node),
                                                               outcome);
    });
}

// The new identifier goes to the definition unchecked; the definition decides, and only says
// -2 when it refuses the identifier, so the reason is told here.
JNIEXPORT void JNICALL Java_quarn_Network_setOutcomeId__IILjava_lang_String_2(
    JNIEnv* env, jobject self, jint node, jint outcome, jstring id) {
    Guarded(env, [&] {
        QNL_node* target = ValidateOutcomeIndex(NetworkOf(env, self), node, outcome);
        const UtfString text(env, id, "id");
        QNL_nodeDefinition& definition = DefinitionOf(target);
        const int status = definition.RenameOutcome(outcome, text.c_str());
        if (status == -2) ExplainRefusedOutcomeId(definition, target, outcome, text.str());
        if (status != 0) ReportError(env, status, "RenameOutcome");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setOutcomeId__Ljava_lang_String_2ILjava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jint outcome, jstring id) {
    Guarded(env, [&] {
        Java_quarn_Network_setOutcomeId__IILjava_lang_String_2(env, self, NodeOf(env, self, node),
                                                               outcome, id);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getOutcomeId__II(JNIEnv* env, jobject self, jint node,
                                                              jint outcome) {
    return Guarded(env, [&] {
        QNL_node* target = ValidateOutcomeIndex(NetworkOf(env, self), node, outcome);
        const QNL_idArray* ids = DefinitionOf(target).GetOutcomeIds();
        return TextToJava(env, ids != nullptr ? ids->GetString(outcome) : nullptr);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getOutcomeId__Ljava_lang_String_2I(JNIEnv* env,
                                                                                jobject self,
                                                                                jstring node,
                                                                                jint outcome) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getOutcomeId__II(env, self, NodeOf(env, self, node), outcome);
    });
}

// Equation and continuous nodes keep no outcome list: they answer with an empty array.
JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getOutcomeIds__I(JNIEnv* env, jobject self,
                                                                   jint node) {
    return Guarded(env, [&] {
        const QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        const QNL_idArray* ids = DefinitionOf(target).GetOutcomeIds();
        return ids != nullptr ? StringArrayToJava(env, *ids) : EmptyStringArray(env);
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getOutcomeIds__Ljava_lang_String_2(JNIEnv* env,
                                                                                     jobject self,
                                                                                     jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getOutcomeIds__I(env, self, NodeOf(env, self, node));
    });
}

// ---------------------------------------------------------------------------------------
// Evidence.

JNIEXPORT void JNICALL Java_quarn_Network_setEvidence__II(JNIEnv* env, jobject self, jint node,
                                                          jint outcome) {
    Guarded(env, [&] {
        QNL_node* target = ValidateOutcomeIndex(NetworkOf(env, self), node, outcome);
        const int status = ValueOf(target).SetEvidence(static_cast<int>(outcome));
        if (status != 0) ReportError(env, status, "SetEvidence");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setEvidence__ILjava_lang_String_2(JNIEnv* env,
                                                                            jobject self, jint node,
                                                                            jstring outcome) {
    Guarded(env, [&] {
        const int index = ResolveOutcomeId(env, NetworkOf(env, self), node, outcome);
        Java_quarn_Network_setEvidence__II(env, self, node, index);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setEvidence__Ljava_lang_String_2I(JNIEnv* env,
                                                                            jobject self,
                                                                            jstring node,
                                                                            jint outcome) {
    Guarded(env, [&] {
        Java_quarn_Network_setEvidence__II(env, self, NodeOf(env, self, node), outcome);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setEvidence__Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node, jstring outcome) {
    Guarded(env, [&] {
        Java_quarn_Network_setEvidence__ILjava_lang_String_2(env, self, NodeOf(env, self, node),
                                                             outcome);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_clearEvidence__I(JNIEnv* env, jobject self, jint node) {
    Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        const int status = ValueOf(target).ClearEvidence();
        if (status != 0) ReportError(env, status, "ClearEvidence");
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_clearEvidence__Ljava_lang_String_2(JNIEnv* env,
                                                                             jobject self,
                                                                             jstring node) {
    Guarded(env, [&] { Java_quarn_Network_clearEvidence__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT void JNICALL Java_quarn_Network_clearAllEvidence(JNIEnv* env, jobject self) {
    Guarded(env, [&] { NetworkOf(env, self).ClearAllEvidence(); });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getEvidence__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        const QNL_nodeValue& value = ValueOf(target);
        if (!value.IsObserved())
            throw std::runtime_error("Node " + Quoted(target) + " has no evidence set");
        const int outcome = value.GetEvidence();
        if (outcome < 0) ThrowQuarnError(env, outcome, "GetEvidence");
        return outcome;
    });
}

JNIEXPORT jint JNICALL Java_quarn_Network_getEvidence__Ljava_lang_String_2(JNIEnv* env,
                                                                           jobject self,
                                                                           jstring node) {
    return Guarded(
        env, [&] { return Java_quarn_Network_getEvidence__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getEvidenceId__I(JNIEnv* env, jobject self,
                                                              jint node) {
    return Guarded(env, [&]() -> jstring {
        const int outcome = Java_quarn_Network_getEvidence__I(env, self, node);
        CheckPending(env);
        if (outcome < 0) return nullptr;
        return Java_quarn_Network_getOutcomeId__II(env, self, node, outcome);
    });
}

JNIEXPORT jstring JNICALL Java_quarn_Network_getEvidenceId__Ljava_lang_String_2(JNIEnv* env,
                                                                                jobject self,
                                                                                jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getEvidenceId__I(env, self, NodeOf(env, self, node));
    });
}

namespace {

jboolean ValueFlag(JNIEnv* env, jobject self, jint node, unsigned bits) {
    QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
    return (ValueOf(target).GetFlags() & bits) != 0 ? JNI_TRUE : JNI_FALSE;
}

} // namespace

JNIEXPORT jboolean JNICALL Java_quarn_Network_isEvidence__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        return ValueFlag(env, self, node,
                         QNL_nodeValue::FLAG_EVIDENCE | QNL_nodeValue::FLAG_PROPAGATED);
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isEvidence__Ljava_lang_String_2(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring node) {
    return Guarded(
        env, [&] { return Java_quarn_Network_isEvidence__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isRealEvidence__I(JNIEnv* env, jobject self,
                                                                jint node) {
    return Guarded(env, [&] { return ValueFlag(env, self, node, QNL_nodeValue::FLAG_EVIDENCE); });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isRealEvidence__Ljava_lang_String_2(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_isRealEvidence__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isPropagatedEvidence__I(JNIEnv* env, jobject self,
                                                                      jint node) {
    return Guarded(env, [&] { return ValueFlag(env, self, node, QNL_nodeValue::FLAG_PROPAGATED); });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isPropagatedEvidence__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_isPropagatedEvidence__I(env, self, NodeOf(env, self, node));
    });
}

// ---------------------------------------------------------------------------------------
// Values.

JNIEXPORT jboolean JNICALL Java_quarn_Network_isValueValid__I(JNIEnv* env, jobject self,
                                                              jint node) {
    return Guarded(env, [&] { return ValueFlag(env, self, node, QNL_nodeValue::FLAG_VALID); });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isValueValid__Ljava_lang_String_2(JNIEnv* env,
                                                                                jobject self,
                                                                                jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_isValueValid__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT jdoubleArray JNICALL Java_quarn_Network_getNodeValue__I(JNIEnv* env, jobject self,
                                                                  jint node) {
    return Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        QNL_nodeValue& value = ValueOf(target);
        if (!value.IsValueValid())
            throw std::runtime_error("Value not valid - node " + Quoted(target));
        QNL_Dmatrix* matrix = nullptr;
        const int status = value.GetValue(&matrix);
        if (status != 0) ReportError(env, status, "GetValue");
        if (matrix == nullptr) ReportError(env, QNL_WRONG_NODE_TYPE, "GetValue");
        return DoubleArrayToJava(env, matrix->GetItems().Items(), matrix->GetSize());
    });
}

JNIEXPORT jdoubleArray JNICALL Java_quarn_Network_getNodeValue__Ljava_lang_String_2(JNIEnv* env,
                                                                                    jobject self,
                                                                                    jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodeValue__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getValueIndexingParents__I(JNIEnv* env, jobject self,
                                                                          jint node) {
    return Guarded(env, [&] {
        QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        return IntArrayToJava(env, ValueOf(target).GetIndexingParents());
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getValueIndexingParents__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getValueIndexingParents__I(env, self, NodeOf(env, self, node));
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getValueIndexingParentIds__I(JNIEnv* env,
                                                                               jobject self,
                                                                               jint node) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        QNL_node* target = ValidateNodeHandle(network, node);
        return NodeIdsToJava(env, network, ValueOf(target).GetIndexingParents());
    });
}

JNIEXPORT jobjectArray JNICALL Java_quarn_Network_getValueIndexingParentIds__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getValueIndexingParentIds__I(env, self, NodeOf(env, self, node));
    });
}

// ---------------------------------------------------------------------------------------
// Targets.

JNIEXPORT jboolean JNICALL Java_quarn_Network_isTarget__I(JNIEnv* env, jobject self, jint node) {
    return Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        ValidateNodeHandle(network, node);
        return network.IsTarget(node) > 0 ? JNI_TRUE : JNI_FALSE;
    });
}

JNIEXPORT jboolean JNICALL Java_quarn_Network_isTarget__Ljava_lang_String_2(JNIEnv* env,
                                                                            jobject self,
                                                                            jstring node) {
    return Guarded(
        env, [&] { return Java_quarn_Network_isTarget__I(env, self, NodeOf(env, self, node)); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setTarget__IZ(JNIEnv* env, jobject self, jint node,
                                                        jboolean target) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        const QNL_node* chosen = ValidateNodeHandle(network, node);
        const int status = target ? network.SetTarget(node) : network.UnSetTarget(node);
        if (status != 0)
            throw std::runtime_error("Cannot change target status for node " + Quoted(chosen));
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setTarget__Ljava_lang_String_2Z(JNIEnv* env, jobject self,
                                                                          jstring node,
                                                                          jboolean target) {
    Guarded(env,
            [&] { Java_quarn_Network_setTarget__IZ(env, self, NodeOf(env, self, node), target); });
}

JNIEXPORT void JNICALL Java_quarn_Network_clearAllTargets(JNIEnv* env, jobject self) {
    Guarded(env, [&] { NetworkOf(env, self).ClearAllTargets(); });
}

// ---------------------------------------------------------------------------------------
// Definitions.

JNIEXPORT jdoubleArray JNICALL Java_quarn_Network_getNodeDefinition__I(JNIEnv* env, jobject self,
                                                                       jint node) {
    return Guarded(env, [&] {
        const QNL_node* target = ValidateNodeHandle(NetworkOf(env, self), node);
        return DoubleArrayToJava(env, DefinitionArray<std::runtime_error>(target));
    });
}

JNIEXPORT jdoubleArray JNICALL
Java_quarn_Network_getNodeDefinition__Ljava_lang_String_2(JNIEnv* env, jobject self, jstring node) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNodeDefinition__I(env, self, NodeOf(env, self, node));
    });
}

// The values are written through the definition's own setter, which keeps its table and
// status consistent; then every value the change can reach is marked not valid, not only
// the node's own.
JNIEXPORT void JNICALL Java_quarn_Network_setNodeDefinition__I_3D(JNIEnv* env, jobject self,
                                                                  jint node, jdoubleArray values) {
    Guarded(env, [&] {
        QNL_network& network = NetworkOf(env, self);
        QNL_node* target = ValidateNodeHandle(network, node);
        ValidateArray(values, "definition");
        QNL_doubleArray numbers = DefinitionArray<std::invalid_argument>(target);
        const int count = numbers.GetCount();
        const jsize length = env->GetArrayLength(values);
        QNL_nodeDefinition& definition = DefinitionOf(target);
        const int type = definition.GetType();
        if (length != count) {
            std::string message =
                "Invalid definition array size for node " + Quoted(target) + ": expected ";
            AppendInt(message, count);
            message += " and got ";
            AppendInt(message, length);
            if (type == QNL_TYPE_NOISY_MAX)
                message += "(the type of this node is NoisyMax -- you need to pass noisy weights "
                           "as parameter, including constrained columns)";
            throw std::invalid_argument(message);
        }
        if (count > 0) {
            env->GetDoubleArrayRegion(values, 0, count, numbers.Items());
            CheckPending(env);
        }
        // A noisy adder's and the logic gates' tables are written as they are; the gate
        // computes them again at its next change.
        QNL_Dmatrix* table = definition.GetMatrix();
        if ((type == QNL_TYPE_NOISY_ADDER || type == QNL_TYPE_CAST || type == QNL_TYPE_DEMORGAN) &&
            table != nullptr && table->GetSize() == count) {
            std::copy(numbers.Items(), numbers.Items() + count, table->GetItems().Items());
        } else {
            const int status = definition.SetDefinition(numbers);
            if (status != 0) ReportError(env, status, "SetDefinition");
            if (auto* gate = dynamic_cast<QNL_noisyMAX*>(&definition)) gate->CalculateCpt();
        }
        definition.CheckConsistency(1);
        definition.CheckReadiness(1);
        network.NotifyChange(node, QNL_network::CHANGE_VALUES);
        if (QNL_nodeValue* value = target->GetValue()) value->SetValidFlag(false);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNodeDefinition__Ljava_lang_String_2_3D(
    JNIEnv* env, jobject self, jstring node, jdoubleArray values) {
    Guarded(env, [&] {
        Java_quarn_Network_setNodeDefinition__I_3D(env, self, NodeOf(env, self, node), values);
    });
}

// ---------------------------------------------------------------------------------------
// Noisy-MAX strengths.

JNIEXPORT jintArray JNICALL Java_quarn_Network_getNoisyParentStrengths__II(JNIEnv* env,
                                                                           jobject self, jint node,
                                                                           jint parent) {
    return Guarded(env, [&] { return NoisyStrengths(env, self, node, parent); });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getNoisyParentStrengths__ILjava_lang_String_2(
    JNIEnv* env, jobject self, jint node, jstring parent) {
    return Guarded(env, [&] {
        const int position = ResolveParentOfChild(env, NetworkOf(env, self), node, parent);
        return Java_quarn_Network_getNoisyParentStrengths__II(env, self, node, position);
    });
}

JNIEXPORT jintArray JNICALL Java_quarn_Network_getNoisyParentStrengths__Ljava_lang_String_2I(
    JNIEnv* env, jobject self, jstring node, jint parent) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNoisyParentStrengths__II(env, self, NodeOf(env, self, node),
                                                              parent);
    });
}

JNIEXPORT jintArray JNICALL
Java_quarn_Network_getNoisyParentStrengths__Ljava_lang_String_2Ljava_lang_String_2(JNIEnv* env,
                                                                                   jobject self,
                                                                                   jstring node,
                                                                                   jstring parent) {
    return Guarded(env, [&] {
        return Java_quarn_Network_getNoisyParentStrengths__ILjava_lang_String_2(
            env, self, NodeOf(env, self, node), parent);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNoisyParentStrengths__II_3I(JNIEnv* env, jobject self,
                                                                         jint node, jint parent,
                                                                         jintArray strengths) {
    Guarded(env, [&] { SetNoisyStrengths(env, self, node, parent, strengths); });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNoisyParentStrengths__ILjava_lang_String_2_3I(
    JNIEnv* env, jobject self, jint node, jstring parent, jintArray strengths) {
    Guarded(env, [&] {
        const int position = ResolveParentOfChild(env, NetworkOf(env, self), node, parent);
        Java_quarn_Network_setNoisyParentStrengths__II_3I(env, self, node, position, strengths);
    });
}

JNIEXPORT void JNICALL Java_quarn_Network_setNoisyParentStrengths__Ljava_lang_String_2I_3I(
    JNIEnv* env, jobject self, jstring node, jint parent, jintArray strengths) {
    Guarded(env, [&] {
        Java_quarn_Network_setNoisyParentStrengths__II_3I(env, self, NodeOf(env, self, node),
                                                          parent, strengths);
    });
}

JNIEXPORT void JNICALL
Java_quarn_Network_setNoisyParentStrengths__Ljava_lang_String_2Ljava_lang_String_2_3I(
    JNIEnv* env, jobject self, jstring node, jstring parent, jintArray strengths) {
    Guarded(env, [&] {
        Java_quarn_Network_setNoisyParentStrengths__ILjava_lang_String_2_3I(
            env, self, NodeOf(env, self, node), parent, strengths);
    });
}

} // extern "C"
