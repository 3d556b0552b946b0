#include "model/node.h"

#include "definitions/equation_scc.h"
#include "definitions/extra_definition.h"
#include "definitions/node_value.h"
#include "definitions/node_values.h"
#include "definitions/value_dependence.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/submodel.h"

#include <cstring>
#include <map>
#include <new>

namespace quarn::detail {

namespace {
std::map<int, DefinitionCreator>& Registry() {
    static std::map<int, DefinitionCreator> registry;
    return registry;
}
} // namespace

void RegisterDefinitionClass(int type, DefinitionCreator creator) {
    if (creator == nullptr)
        Registry().erase(type);
    else
        Registry()[type] = creator;
}

DefinitionCreator FindDefinitionClass(int type) {
    auto found = Registry().find(type);
    return found == Registry().end() ? nullptr : found->second;
}

} // namespace quarn::detail

namespace {

// A set of simultaneous equations that comes into a network or slot tells the network the
// members it names.
void NoteSetMembers(const QNL_nodeDefinition* definition) {
    if (definition == nullptr || definition->GetType() != QNL_TYPE_EQUATION_SCC) return;
    if (const auto* set = dynamic_cast<const QNL_equationSCC*>(definition)) set->NoteMembers();
}

// A new definition of the type for the node, or null with the code in result.
QNL_nodeDefinition* MakeDefinition(int type, int handle, QNL_network* network, int& result) {
    result = 0;
    if (type == 0) return nullptr;
    auto creator = quarn::detail::FindDefinitionClass(type);
    if (creator == nullptr) {
        result = -2;
        return nullptr;
    }
    try {
        QNL_nodeDefinition* definition = creator(handle, network);
        if (definition == nullptr) result = -42;
        return definition;
    } catch (const std::bad_alloc&) {
        result = -42;
        return nullptr;
    }
}

// The diagnostic annotations for a node, sized to the outcomes of its definition.
QNL_extraDefinition* MakeExtraDefinition(int handle, QNL_network* network,
                                         const QNL_nodeDefinition* definition, int& result) {
    result = 0;
    try {
        return new QNL_extraDefinition(handle, network, definition);
    } catch (const std::bad_alloc&) {
        result = -42;
        return nullptr;
    }
}

QNL_nodeValue* MakeValue(int type, int handle, QNL_network* network, int& result) {
    result = 0;
    if (type == 0) return nullptr;
    try {
        switch (QNL_node::ValueTypeOf(type)) {
        case QNL_VALUE_BELIEF_VECTOR:
            return new QNL_beliefVector(network, handle);
        case QNL_VALUE_UTILITY:
            return new QNL_utilityValue(network, handle);
        case QNL_VALUE_DECISION:
            return new QNL_decisionValue(network, handle);
        case QNL_VALUE_MAU:
            return new QNL_mauValue(network, handle);
        case QNL_VALUE_EQUATION:
            return new QNL_equationValue(network, handle);
        case QNL_VALUE_CONTINUOUS:
            return new QNL_continuousValue(network, handle);
        default:
            result = -2;
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        result = -42;
        return nullptr;
    }
}

} // namespace

int QNL_node::ValueTypeOf(int definitionType) {
    switch (definitionType) {
    case QNL_TYPE_EQUATION:
    case QNL_TYPE_EQUATION_SCC:
        return QNL_VALUE_EQUATION;
    case QNL_TYPE_TABLE:
        return QNL_VALUE_UTILITY;
    case QNL_TYPE_LIST:
        return QNL_VALUE_DECISION;
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_CAST:
    case QNL_TYPE_DEMORGAN:
    case QNL_TYPE_NOISY_MAX:
    case QNL_TYPE_NOISY_ADDER:
    case QNL_TYPE_DCHILDHPARENT:
        return QNL_VALUE_BELIEF_VECTOR;
    case QNL_TYPE_MAU:
        return QNL_VALUE_MAU;
    case QNL_TYPE_DISTRIBUTION:
    case QNL_TYPE_HEQUATION:
        return QNL_VALUE_CONTINUOUS;
    default:
        return -2;
    }
}

// Equation nodes are made through their type code only: the text format has no statements
// for them, so no keyword names them.
int QNL_node::TypeFromKeyword(const char* keyword) {
    static const struct {
        const char* keyword;
        int type;
    } keywords[] = {{"CPT", QNL_TYPE_CPT},
                    {"TRUTHTABLE", QNL_TYPE_TRUTHTABLE},
                    {"LIST", QNL_TYPE_LIST},
                    {"TABLE", QNL_TYPE_TABLE},
                    {"NOISY_MAX", QNL_TYPE_NOISY_MAX},
                    {"NOISY_ADDER", QNL_TYPE_NOISY_ADDER},
                    {"MAU", QNL_TYPE_MAU},
                    {"CAST", QNL_TYPE_CAST},
                    {"DEMORGAN", QNL_TYPE_DEMORGAN},
                    {"DCHILDHPARENT", QNL_TYPE_DCHILDHPARENT},
                    {"DISTRIBUTION", QNL_TYPE_DISTRIBUTION},
                    {"HEQUATION", QNL_TYPE_HEQUATION}};
    if (keyword == nullptr) return -2;
    for (const auto& entry : keywords)
        if (std::strcmp(keyword, entry.keyword) == 0) return entry.type;
    return -2;
}

QNL_node::QNL_node(int type, int handle, QNL_network* network) {
    status = STATUS_READY;
    if (network == nullptr) {
        status |= STATUS_VALID;
        return;
    }
    this->network = network;
    this->handle = handle;
    try {
        info = new QNL_nodeInfo();
        info->header.SetOwner(this);
        cost = new QNL_nodeCost(handle, network);
    } catch (const std::bad_alloc&) {
        return;
    }
    CreateDefinition(type);
    CreateValue(type);
    CheckConsistency(0);
}

QNL_node::QNL_node(const QNL_node& source) : QNL_object() {
    status = STATUS_READY;
    if (!source.IsValid()) return;
    network = source.network;
    handle = source.handle;
    submodel = source.submodel;
    try {
        if (source.info != nullptr) {
            info = new QNL_nodeInfo(*source.info);
            info->header.SetOwner(this);
        }
        if (source.cost != nullptr) cost = new QNL_nodeCost(*source.cost);
        if (source.extra != nullptr) {
            extra = new QNL_extraDefinition(*source.extra);
            extra->SetNetwork(network, handle);
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    if (CopyDefinition(source.definition) != 0) return;
    if (source.value != nullptr && CopyValue(source.value) != 0) return;
    CheckConsistency(0);
}

QNL_node::~QNL_node() {
    delete info;
    delete definition;
    delete value;
    delete cost;
    delete extra;
}

int QNL_node::CleanUp(int deep) {
    if (deep) {
        if (info != nullptr) info->CleanUp(deep);
        if (definition != nullptr) definition->CleanUp(deep);
        if (value != nullptr) value->CleanUp(deep);
        if (cost != nullptr) cost->CleanUp(deep);
        if (extra != nullptr) extra->CleanUp(deep);
    }
    delete info;
    delete definition;
    delete value;
    delete cost;
    delete extra;
    info = nullptr;
    definition = nullptr;
    value = nullptr;
    cost = nullptr;
    extra = nullptr;
    return 0;
}

int QNL_node::CheckConsistency(int deep) {
    if (deep) {
        if (info != nullptr) info->CheckConsistency(deep);
        if (definition != nullptr) definition->CheckConsistency(deep);
        if (value != nullptr) value->CheckConsistency(deep);
    }
    const bool valid = info != nullptr && definition != nullptr && value != nullptr &&
                       info->IsValid() && definition->IsValid() && value->IsValid();
    status = valid ? (status | STATUS_VALID) : (status & ~STATUS_VALID);
    return 0;
}

int QNL_node::CheckReadiness(int deep) {
    if (deep) {
        if (info != nullptr) info->CheckReadiness(deep);
        if (definition != nullptr) definition->CheckReadiness(deep);
        if (value != nullptr) value->CheckReadiness(deep);
    }
    const bool ready = info != nullptr && definition != nullptr && value != nullptr &&
                       info->IsReady() && definition->IsReady() && value->IsReady();
    status = ready ? (status | STATUS_READY) : (status & ~STATUS_READY);
    return 0;
}

const char* QNL_node::GetId() const { return info != nullptr ? info->header.GetId() : nullptr; }

int QNL_node::SetId(const char* text) {
    if (info == nullptr) return -2;
    return info->header.SetId(text);
}

int QNL_node::GetType() const { return definition != nullptr ? definition->GetType() : 0; }

QNL_intArray& QNL_node::GetParents() const { return network->GetParents(handle); }

QNL_intArray& QNL_node::GetChildren() const { return network->GetChildren(handle); }

int QNL_node::SetNetwork(QNL_network* newNetwork) {
    if (newNetwork == nullptr) return -2;
    if (!newNetwork->IsValid()) return -567;
    Rebind(newNetwork, handle);
    return 0;
}

void QNL_node::Rebind(QNL_network* newNetwork, int newHandle) {
    network = newNetwork;
    handle = newHandle;
    if (definition != nullptr) definition->SetNetwork(newNetwork, newHandle);
    NoteSetMembers(definition);
    if (value != nullptr) value->SetNetwork(newNetwork, newHandle);
    if (cost != nullptr) cost->SetNetwork(newNetwork, newHandle);
    if (extra != nullptr) extra->SetNetwork(newNetwork, newHandle);
}

int QNL_node::SetSubmodel(int submodelHandle) {
    if (network == nullptr ||
        network->GetSubmodelHandler().GetSubmodel(submodelHandle) == nullptr)
        return -2;
    submodel = submodelHandle | QNL_network::SUBMODEL_FLAG;
    return 0;
}

int QNL_node::SetSubmodel(const char* submodelId) {
    if (submodelId == nullptr || network == nullptr) return -2;
    const int found = network->GetSubmodelHandler().FindSubmodel(submodelId);
    if (found < 0) return QNL_errorHandler::Instance().LogError(-1000, "Unknown submodel");
    return SetSubmodel(found);
}

int QNL_node::MergeScreenInfo() {
    if (info == nullptr || network == nullptr) return -2;
    return info->screen.Merge(network->GetSubmodelHandler().GetDefaultNodeScreenInfo());
}

// A node never loses its definition or value to "none": a node in a network is used on
// the assumption that it has both, so only a node still being built may lack them.
int QNL_node::CreateDefinition(int type) {
    if (type == 0 && definition != nullptr) return -2;
    int result;
    QNL_nodeDefinition* created = MakeDefinition(type, handle, network, result);
    if (result != 0) return result;
    if (created != nullptr && extra == nullptr) {
        extra = MakeExtraDefinition(handle, network, created, result);
        if (result != 0) {
            delete created;
            return result;
        }
    }
    delete definition;
    definition = created;
    return 0;
}

int QNL_node::CreateValue(int type) {
    if (type == 0 && value != nullptr) return -2;
    int result;
    QNL_nodeValue* created = MakeValue(type, handle, network, result);
    if (result != 0) return result;
    delete value;
    value = created;
    return 0;
}

int QNL_node::CopyDefinition(const QNL_nodeDefinition* source) {
    if (source == nullptr && definition != nullptr) return -2;
    QNL_nodeDefinition* copy = nullptr;
    if (source != nullptr) {
        try {
            copy = source->CreateCopy();
        } catch (const std::bad_alloc&) {
        }
        if (copy == nullptr) return -42;
        copy->SetNetwork(network, handle);
        NoteSetMembers(copy);
    }
    delete definition;
    definition = copy;
    return 0;
}

int QNL_node::CopyValue(const QNL_nodeValue* source) {
    if (source == nullptr) return value != nullptr ? -2 : 0;
    if (!source->IsValid()) return -567;
    QNL_nodeValue* copy = nullptr;
    try {
        copy = source->CreateCopy();
    } catch (const std::bad_alloc&) {
    }
    if (copy == nullptr) return -42;
    copy->SetNetwork(network, handle);
    delete value;
    value = copy;
    return 0;
}

// The new definition and value are made and filled before the old ones go, so a type that
// cannot be created, or a definition that cannot be converted, leaves the node as it was
// (a conversion that drops the node's arcs has dropped them by then). The new definition is
// in place while the value converts, since a value sizes itself by the node's outcomes. A
// code that names no definition (0 among them) is refused like any unknown one.
int QNL_node::SetType(int type) {
    const int previous = GetType();
    if (type == previous) return 0;
    if (quarn::detail::FindDefinitionClass(type) == nullptr || ValueTypeOf(type) < 0) return -2;
    // Findings waiting for their walk are walked from under the node's old type.
    if (network != nullptr) network->SettleEvidenceWalk();
    int result;
    QNL_nodeDefinition* newDefinition = MakeDefinition(type, handle, network, result);
    if (result != 0) return result;
    QNL_nodeValue* newValue = MakeValue(type, handle, network, result);
    if (result != 0) {
        delete newDefinition;
        return result;
    }
    auto abandon = [&](int code) {
        delete newDefinition;
        delete newValue;
        return code;
    };
    if (newDefinition != nullptr && definition != nullptr &&
        (result = newDefinition->Assign(*definition)) != 0)
        return abandon(result);
    // The sets of equations the node's value reaches are found while the old definition still
    // names its partners.
    const quarn::detail::TypeChangeReach reach(network, handle, previous, type);
    // Only a node with outcomes can be a cost parent; one that loses them leaves its cost
    // children first, while its old type still names the dimension their costs give it.
    if (network != nullptr && QNL_IsTableParentType(previous) && !QNL_IsTableParentType(type)) {
        const QNL_intArray costChildren(network->GetChildren(handle, 1));
        for (int i = 0; i < costChildren.GetCount(); ++i)
            if ((result = network->RemoveArc(handle, costChildren[i], 1)) != 0)
                return abandon(result);
    }
    QNL_nodeDefinition* oldDefinition = definition;
    definition = newDefinition;
    if (newValue != nullptr && value != nullptr) result = newValue->Assign(*value);
    // The annotations keep their texts while the outcome count stays; a new outcome set gets
    // fresh ones, so they never name outcomes the node no longer has.
    if (result == 0 && newDefinition != nullptr) {
        if (extra == nullptr)
            extra = MakeExtraDefinition(handle, network, newDefinition, result);
        else if (extra->GetNumberOfOutcomes() != QNL_extraDefinition::OutcomesOf(newDefinition))
            result = extra->ResizeToOutcomes(newDefinition);
    }
    if (result != 0) {
        definition = oldDefinition;
        return abandon(result);
    }
    delete oldDefinition;
    delete value;
    value = newValue;
    if (network == nullptr) return 0;
    if (definition != nullptr) definition->RemoveInvalidParents();
    const QNL_intArray children(network->GetChildren(handle));
    for (int i = 0; i < children.GetCount(); ++i) {
        QNL_node* child = network->GetNode(children[i]);
        if (child != nullptr && child->definition != nullptr)
            child->definition->RemoveInvalidParents();
    }
    reach.Invalidate(*network);
    network->NodeTypeChanged(handle, previous);
    return 0;
}

int QNL_node::SetType(const char* keyword) {
    const int type = TypeFromKeyword(keyword);
    return type < 0 ? type : SetType(type);
}
