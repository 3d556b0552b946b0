#include "support/table_cells.h"

namespace quarn_test {

Cells ReadCells(const QNL_network& network, int node) {
    Cells cells;
    QNL_nodeDefinition* definition = network.GetNode(node)->GetDefinition();
    const QNL_Dmatrix* m = definition->GetMatrix();
    const QNL_intArray& parents = network.GetParents(node);
    const QNL_idArray* own = definition->GetOutcomeIds();
    const int n = parents.GetCount();
    EXPECT_EQ(m->GetNumberOfDimensions(), n + 1);
    if (m->GetNumberOfDimensions() != n + 1) return cells;
    for (int p = 0; p < n; ++p)
        EXPECT_EQ(m->GetSizeOfDimension(p),
                  network.GetNode(parents[p])->GetDefinition()->GetNumberOfOutcomes())
            << "dimension " << p;
    EXPECT_EQ(m->GetSizeOfDimension(n), own != nullptr ? definition->GetNumberOfOutcomes() : 1);
    QNL_intArray at;
    for (int i = 0; i < m->GetSize(); ++i) {
        m->CoordinatesFromIndex(i, at);
        Key key;
        for (int p = 0; p < n; ++p) {
            const QNL_node* parent = network.GetNode(parents[p]);
            key[parent->GetId()] = parent->GetDefinition()->GetOutcomeIds()->GetString(at[p]);
        }
        if (own != nullptr) key[network.GetNode(node)->GetId()] = own->GetString(at[n]);
        cells[key] = m->Subscript(i);
    }
    return cells;
}

Key Without(Key key, const std::string& node) {
    key.erase(node);
    return key;
}

Key With(Key key, const std::string& node, const std::string& outcome) {
    key[node] = outcome;
    return key;
}

} // namespace quarn_test
