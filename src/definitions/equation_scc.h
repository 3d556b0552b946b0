#pragma once

#include "definitions/equation.h"

#include <set>
#include <string>
#include <vector>

class QNL_stringArray;

// The definition of a node whose equation holds together with those of other nodes: the
// members of its set of simultaneous equations, named by identifier and kept sorted. Members
// are not linked by arcs; the equation may name the node, its parents and its members, and
// the solver finds the values that satisfy the whole set at once.
class QNL_equationSCC : public QNL_equation {
public:
    QNL_equationSCC(int handle, QNL_network* network);
    QNL_equationSCC(const QNL_equationSCC& other);
    QNL_equationSCC& operator=(const QNL_equationSCC&) = delete;
    ~QNL_equationSCC() override = default;

    QNL_nodeDefinition* CreateCopy() const override;
    int GetType() const override { return QNL_TYPE_EQUATION_SCC; }
    const char* GetTypeName() const override { return "EQUATION_SCC"; }

    // Renames the variable and a member of that identifier.
    void ParentIdChanged(int parent, const char* oldId, const char* newId) override;
    int Assign(const QNL_nodeDefinition& other) override;

    // Checks that the text parses and names only the node, its parents and its members; the
    // arcs are not changed. A refusal is logged with -2 and changes nothing.
    int SetEquation(const std::string& text, QNL_variableValidator* validator,
                    std::string* error) override;

    // The other members of the node's set. Each must name another node of the network with a
    // set of equations, and the equation must not name a variable the new set no longer
    // allows; -2 otherwise (logged), the set unchanged.
    const std::set<std::string>& GetMembers() const { return members; }
    int SetMembers(const QNL_stringArray& ids);

    // The node is about to be deleted, or its type no longer holds a set of equations: when it
    // is a member, it leaves the set and its variable becomes 0 in the equation, as a deleted
    // parent's does.
    int MemberLeaves(int member);

    // Tells the network every member identifier the set names, so a member's rename finds the
    // set; done whenever the set gains members or a network.
    void NoteMembers() const;

private:
    // The first variable of the equation that is neither the node, a parent nor a member.
    bool FindStranger(const QNL_parsedEquation& candidate, const std::set<std::string>& allowed,
                      std::string& stranger) const;

    std::set<std::string> members;
};
