#include "inference/family_marginals.h"

#include "inference/clique_table.h"

#include <cstdint>

namespace quarn::detail {

bool FamilyMarginals::Propagate() {
    propagated = false;
    if (!tree.Build(0) || !tree.PropagateAll()) return false;
    tree.Collect();
    tree.Distribute();
    compared = 0;
    propagated = true;
    return true;
}

ScaledValue FamilyMarginals::EvidenceProbability() const {
    if (tree.GetNumberOfCliques() == 0) return ScaledValue();
    const QNL_clique& first = tree.GetClique(0);
    return ScaledValue(SumTable(first.potential.Cells(), first.potential.Size()), first.scale);
}

// The members are unobserved records, so the cliques that held them when the tree was built
// hold them still.
const QNL_clique*
FamilyMarginals::FirstHolder(const std::vector<std::pair<int, int>>& members) const {
    if (!propagated || tree.GetNumberOfCliques() == 0) return nullptr;
    if (members.empty()) return &tree.GetClique(0);
    // Every clique holding them all holds the member held by the fewest.
    std::size_t rarest = 0;
    for (std::size_t i = 1; i < members.size(); ++i)
        if (tree.GetNumberOfHolders(members[i].first) <
            tree.GetNumberOfHolders(members[rarest].first))
            rarest = i;
    const int record = members[rarest].first;
    for (int h = 0; h < tree.GetNumberOfHolders(record); ++h) {
        const QNL_clique& clique = tree.GetStore()[tree.GetHolder(record, h)];
        ++compared;
        std::size_t found = 0;
        for (int m = 0; m < clique.memberCount && found < members.size(); ++m)
            if (members[found].first == clique.members[m]) ++found;
        if (found == members.size()) return &clique;
    }
    return nullptr;
}

bool FamilyMarginals::AddJoint(const std::vector<std::pair<int, int>>& members, double weight,
                               double* counts) const {
    for (const auto& member : members)
        if (member.first < 0 || member.first >= view.GetNumberOfRecords()) return false;
    const QNL_clique* holder = FirstHolder(members);
    if (holder == nullptr) return false;
    const QNL_clique& clique = *holder;
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
    const double* cells = clique.potential.Cells();
    const double sum = SumTable(cells, clique.potential.Size());
    if (!(sum > 0.0)) return false;
    StrideAxis axes[MAX_STRIDE_AXES];
    const Strides onto{axes, BuildStrideAxes(sizes, strides, clique.memberCount, axes), 0};
    AccumulateScaled(counts, cells, sum / weight, onto);
    return true;
}

} // namespace quarn::detail
