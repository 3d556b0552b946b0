#include "definitions/equation_scc.h"

#include "definitions/definition_support.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"

#include <utility>
#include <vector>

namespace detail = quarn::detail;

QNL_equationSCC::QNL_equationSCC(int handle, QNL_network* network)
    : QNL_equation(handle, network) {}

QNL_equationSCC::QNL_equationSCC(const QNL_equationSCC& other)
    : QNL_equation(other), members(other.members) {}

QNL_nodeDefinition* QNL_equationSCC::CreateCopy() const {
    return detail::CopyOrNull(*this);
}

void QNL_equationSCC::ParentIdChanged(int parent, const char* oldId, const char* newId) {
    QNL_equation::ParentIdChanged(parent, oldId, newId);
    if (oldId == nullptr || newId == nullptr || members.erase(oldId) == 0) return;
    try {
        members.insert(newId);
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return;
    }
    if (network != nullptr) network->NoteSetMember(newId, handle);
}

void QNL_equationSCC::NoteMembers() const {
    if (network == nullptr) return;
    for (const std::string& member : members)
        network->NoteSetMember(member.c_str(), handle);
}

int QNL_equationSCC::Assign(const QNL_nodeDefinition& other) {
    const auto* source = dynamic_cast<const QNL_equationSCC*>(&other);
    if (source == nullptr || &other == this) return QNL_equation::Assign(other);
    return detail::Guarded([&] {
        std::set<std::string> copy(source->members);
        const int result = QNL_equation::Assign(other);
        if (result == 0) {
            members.swap(copy);
            NoteMembers();
        }
        return result;
    });
}

int QNL_equationSCC::MemberLeaves(int member) {
    const QNL_node* node = network != nullptr ? network->GetNode(member) : nullptr;
    if (node == nullptr || node->GetId() == nullptr || member == handle) return 0;
    const auto named = members.find(node->GetId());
    if (named == members.end()) return 0;
    return detail::Guarded([&] {
        SubstituteZero(member);
        members.erase(named);
        InvalidateDependents();
        return 0;
    });
}

bool QNL_equationSCC::FindStranger(const QNL_parsedEquation& candidate,
                                   const std::set<std::string>& allowed,
                                   std::string& stranger) const {
    std::vector<std::string> names;
    candidate.GetVariables(names);
    const std::string own = OwnId();
    for (const std::string& name : names) {
        if (name == own || allowed.count(name) != 0) continue;
        const int h = network != nullptr ? network->FindNode(name.c_str()) : -1;
        if (h >= 0 && network->GetParents(handle).IsInList(h)) continue;
        stranger = name;
        return true;
    }
    return false;
}

int QNL_equationSCC::SetEquation(const std::string& text, QNL_variableValidator* validator,
                                 std::string* error) {
    if (!IsValid()) return -567;
    return detail::Guarded([&] {
        QNL_parsedEquation scratch;
        std::string message;
        if (ParseChecked(text, validator, scratch, message) != 0) {
            // Only the empty text keeps its own message here.
            if (message != "Equation cannot be empty.") message = "Equation syntax error";
            return Refuse(message, error);
        }
        std::string stranger;
        if (network != nullptr && network->IsValidNodeHandle(handle) &&
            FindStranger(scratch, members, stranger))
            return Refuse("Equation contains a variable (" + stranger +
                              ") which is not ID of this node, one of its parents, or one of its "
                              "scc varaibles.",
                          error);
        equation = std::move(scratch);
        InvalidateDependents();
        return 0;
    });
}

int QNL_equationSCC::SetMembers(const QNL_stringArray& ids) {
    if (!IsValid()) return -567;
    return detail::Guarded([&] {
        std::set<std::string> fresh;
        const std::string own = OwnId();
        for (int i = 0; i < ids.GetCount(); ++i) {
            const char* id = ids.GetString(i);
            const int member = id != nullptr && network != nullptr ? network->FindNode(id) : -1;
            // The solver takes a set's members together; a node without a set of equations
            // can't be solved with them.
            if (id == nullptr || own == id ||
                (network != nullptr && detail::TypeAt(network, member) != QNL_TYPE_EQUATION_SCC))
                return QNL_errorHandler::Instance().LogError(
                    -2, (std::string("Not a member for the equation set of ") + own + ": " +
                         (id != nullptr ? id : ""))
                            .c_str());
            fresh.insert(id);
        }
        std::string stranger;
        if (FindStranger(equation, fresh, stranger))
            return Refuse("Equation contains a variable (" + stranger +
                              ") which is not ID of this node, one of its parents, or one of its "
                              "scc varaibles.",
                          nullptr);
        members.swap(fresh);
        NoteMembers();
        InvalidateDependents();
        return 0;
    });
}
