#include "inference/family_marginals.h"

#include "inference/clique_table.h"

#include <cstdint>

namespace quarn::detail {

bool FamilyMarginals::Propagate() {
    if (!tree.Build(0) || !tree.PropagateAll()) return false;
    tree.Collect();
    tree.Distribute();
    return true;
}

ScaledValue FamilyMarginals::EvidenceProbability() const {
    if (tree.GetNumberOfCliques() == 0) return ScaledValue();
    const QNL_clique& first = tree.GetClique(0);
    return ScaledValue(SumTable(first.potential.Cells(), first.potential.Size()), first.scale);
}

bool FamilyMarginals::AddJoint(const std::vector<std::pair<int, int>>& members, double weight,
                               double* counts) const {
    for (int position = 0; position < tree.GetNumberOfCliques(); ++position) {
        const QNL_clique& clique = tree.GetClique(position);
        std::int64_t sizes[QNL_clique::MAX_MEMBERS];
        std::int64_t strides[QNL_clique::MAX_MEMBERS];
        std::size_t found = 0;
        for (int m = 0; m < clique.memberCount; ++m) {
            const int record = clique.members[m];
            sizes[m] = view.GetNumberOfOutcomes(record);
            strides[m] = 0;
            if (found < members.size() && members[found].first == record)
                strides[m] = members[found++].second;
        }
        if (found < members.size()) continue;
        const double* cells = clique.potential.Cells();
        const double sum = SumTable(cells, clique.potential.Size());
        if (!(sum > 0.0)) return false;
        StrideAxis axes[MAX_STRIDE_AXES];
        const Strides onto{axes, BuildStrideAxes(sizes, strides, clique.memberCount, axes), 0};
        AccumulateScaled(counts, cells, sum / weight, onto);
        return true;
    }
    return false;
}

} // namespace quarn::detail
