#pragma once
// Internal: not part of the public interface.

#include "model/node_info.h"

#include <memory>
#include <vector>

class QNL_network;
class QNL_nodeDefinition;

// Rewrites noisy-MAX nodes into table nodes whose tables are the noisy-MAX parameters, so
// that EM can learn them, and writes the learned tables back. Inhibitor form: one inhibitor
// per parent and a leak pair feed the node, whose table takes the smallest outcome index.
// Ladder form ("QNL_MAXDECOMP" = "LADDER" on the node): the inhibitors feed a chain of
// two-parent nodes instead. The object keeps what it made (handles, form, the original
// definition and properties), so recomposition does not depend on marks or properties that
// may have changed in between. Every decomposed node is recomposed when the object goes.
namespace quarn::detail {

class NoisyMaxDecomposition {
public:
    explicit NoisyMaxDecomposition(QNL_network& network) : network(network) {}
    NoisyMaxDecomposition(const NoisyMaxDecomposition&) = delete;
    NoisyMaxDecomposition& operator=(const NoisyMaxDecomposition&) = delete;
    ~NoisyMaxDecomposition() { RecomposeAll(); }

    // 1 when the node is not a noisy-MAX node (nothing changes), 0 after rewriting it, a
    // negative code when the rewriting failed (the network is then as it was).
    int Decompose(int node);
    // Every noisy-MAX node of the network; on failure the ones done are recomposed.
    int DecomposeAll();
    // Writes the learned tables back into the noisy-MAX parameters and removes what the
    // decomposition added; 0, or the first failure.
    int RecomposeAll();

    // The nodes a decomposition made, for a node decomposed by this object (else null).
    struct Parts {
        int node = -1;
        bool ladder = false;
        std::vector<int> parents;
        std::vector<int> inhibitors;
        std::vector<int> ladders;
        int leakParent = -1;
        int leakChild = -1;
        std::unique_ptr<QNL_nodeDefinition> original;
        std::unique_ptr<QNL_userProperties> properties;
    };
    const Parts* Find(int node) const;
    // Forgets the decomposed nodes without recomposing them (their marks stay).
    void Release() { done.clear(); }

    // Puts a node back from the marks its decomposition left (the leak pair's
    // "QNL_FAKE_LEAK", the ladder form's "QNL_DECOMPTYPE", the inhibitors' "QNL_NOLEARN"),
    // with the tables the auxiliary nodes hold as its parameters. 1 when the marks are not
    // there (nothing changes), 0 after restoring, a negative code on failure.
    static int RecomposeFromMarks(QNL_network& network, int node);

private:
    int Build(Parts& parts);
    int AddAuxiliary(Parts& parts, const char* pattern, const char* parent, bool outcomesOfNode);
    int Recompose(Parts& parts, bool learned);
    static bool FindParts(QNL_network& network, int node, Parts& parts,
                          std::vector<int>& distinguished);

    QNL_network& network;
    std::vector<std::unique_ptr<Parts>> done;
};

} // namespace quarn::detail

