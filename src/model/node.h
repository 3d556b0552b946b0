#pragma once

#include "model/object.h"

class QNL_network;
class QNL_nodeInfo;
class QNL_nodeDefinition;
class QNL_nodeValue;
class QNL_nodeCost;
class QNL_extraDefinition;
class QNL_intArray;

// One variable of a network. It owns its information, its definition (the local model),
// its value (the result of inference), its observation costs and its diagnostic annotations
// (from its first definition on); the network owns the node and addresses it by handle. A
// node in a network always has a definition and a value.
class QNL_node : public QNL_object {
public:
    static constexpr int MAIN_SUBMODEL = 0x4000;

    // With a null network an empty node without parts; otherwise a node with information,
    // costs and the definition and value of the type.
    QNL_node(int type, int handle, QNL_network* network);
    // Full copy of a valid source (information, definition, value, costs, diagnostic
    // annotations); an invalid source gives an empty node.
    QNL_node(const QNL_node& source);
    QNL_node& operator=(const QNL_node&) = delete;
    ~QNL_node() override;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;
    int CheckReadiness(int deep = 1) override;

    // The node's identifier; SetId refuses an invalid or taken one.
    const char* GetId() const;
    int SetId(const char* text);

    // The parts of the node: header and screen information, definition, value and cost.
    QNL_nodeInfo* GetInfo() const { return info; }
    QNL_nodeDefinition* GetDefinition() const { return definition; }
    QNL_nodeValue* GetValue() const { return value; }
    QNL_nodeCost* GetCost() const { return cost; }
    QNL_extraDefinition* GetExtraDefinition() const { return extra; }
    QNL_network* GetNetwork() const { return network; }
    int GetHandle() const { return handle; }
    int GetSubmodel() const { return submodel; }
    // The definition's type code, 0 without a definition.
    int GetType() const;

    // The node's parents and children, in the order the network keeps them.
    QNL_intArray& GetParents() const;
    QNL_intArray& GetChildren() const;

    // The network the node belongs to.
    int SetNetwork(QNL_network* newNetwork);
    // Moves the node into the network (and slot) given; used when a network is copied.
    void Rebind(QNL_network* newNetwork, int newHandle);
    int SetSubmodel(int submodelHandle);
    int SetSubmodel(const char* submodelId);
    int MergeScreenInfo();

    // Makes or copies the definition and value of a type.
    int CreateDefinition(int type);
    int CreateValue(int type);
    int CopyDefinition(const QNL_nodeDefinition* source);
    int CopyValue(const QNL_nodeValue* source);
    int SetType(int type);
    int SetType(const char* keyword);

    // Type code of a definition keyword; -2 for an unknown one.
    static int TypeFromKeyword(const char* keyword);
    // Value type code that goes with a definition type; -2 for an unknown type.
    static int ValueTypeOf(int definitionType);

private:
    QNL_nodeInfo* info = nullptr;
    QNL_nodeDefinition* definition = nullptr;
    QNL_nodeValue* value = nullptr;
    QNL_nodeCost* cost = nullptr;
    QNL_extraDefinition* extra = nullptr;
    QNL_network* network = nullptr;
    int handle = -1;
    int submodel = MAIN_SUBMODEL;
};

namespace quarn::detail {

// Definition classes register here under their type code; the node's definition factory
// creates through this table, so a type whose class is not built yet is refused.
using DefinitionCreator = QNL_nodeDefinition* (*)(int handle, QNL_network* network);
void RegisterDefinitionClass(int type, DefinitionCreator creator);
DefinitionCreator FindDefinitionClass(int type);

} // namespace quarn::detail
