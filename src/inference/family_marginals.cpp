#include "inference/family_marginals.h"

#include "inference/clique_table.h"

#include <cstdint>
#include <vector>

namespace quarn::detail {

bool FamilyMarginals::Propagate() {
    if (!tree.Build(0) || !tree.PropagateAll()) return false;
    tree.Collect();
    tree.Distribute();
    compared = 0;
    // The members as the propagation left them (observed ones are dropped): what AddJoint
    // matches families against.
    const int records = view.GetNumberOfRecords();
    const int cliques = tree.GetNumberOfCliques();
    holderStart.assign(static_cast<std::size_t>(records) + 1, 0);
    for (int position = 0; position < cliques; ++position) {
        const QNL_clique& clique = tree.GetClique(position);
        for (int m = 0; m < clique.memberCount; ++m)
            ++holderStart[static_cast<std::size_t>(clique.members[m]) + 1];
    }
    for (std::size_t r = 0; r < static_cast<std::size_t>(records); ++r)
        holderStart[r + 1] += holderStart[r];
    holders.resize(static_cast<std::size_t>(holderStart.back()));
    std::vector<int> fill(holderStart.begin(), holderStart.end() - 1);
    for (int position = 0; position < cliques; ++position) {
        const QNL_clique& clique = tree.GetClique(position);
        for (int m = 0; m < clique.memberCount; ++m)
            holders[static_cast<std::size_t>(fill[static_cast<std::size_t>(clique.members[m])]++)] =
                position;
    }
    return true;
}

ScaledValue FamilyMarginals::EvidenceProbability() const {
    if (tree.GetNumberOfCliques() == 0) return ScaledValue();
    const QNL_clique& first = tree.GetClique(0);
    return ScaledValue(SumTable(first.potential.Cells(), first.potential.Size()), first.scale);
}

int FamilyMarginals::FirstHolder(const std::vector<std::pair<int, int>>& members) const {
    if (members.empty()) return tree.GetNumberOfCliques() > 0 ? 0 : -1;
    if (holderStart.size() != static_cast<std::size_t>(view.GetNumberOfRecords()) + 1) return -1;
    // Every clique holding them all holds the member held by the fewest.
    std::size_t rarest = 0;
    const auto count = [this](int record) {
        return holderStart[static_cast<std::size_t>(record) + 1] -
               holderStart[static_cast<std::size_t>(record)];
    };
    for (std::size_t i = 1; i < members.size(); ++i)
        if (count(members[i].first) < count(members[rarest].first)) rarest = i;
    const int record = members[rarest].first;
    for (int h = holderStart[static_cast<std::size_t>(record)];
         h < holderStart[static_cast<std::size_t>(record) + 1]; ++h) {
        const int position = holders[static_cast<std::size_t>(h)];
        const QNL_clique& clique = tree.GetClique(position);
        ++compared;
        std::size_t found = 0;
        for (int m = 0; m < clique.memberCount && found < members.size(); ++m)
            if (members[found].first == clique.members[m]) ++found;
        if (found == members.size()) return position;
    }
    return -1;
}

bool FamilyMarginals::AddJoint(const std::vector<std::pair<int, int>>& members, double weight,
                               double* counts) const {
    for (const auto& member : members)
        if (member.first < 0 || member.first >= view.GetNumberOfRecords()) return false;
    const int position = FirstHolder(members);
    if (position < 0) return false;
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
    const double* cells = clique.potential.Cells();
    const double sum = SumTable(cells, clique.potential.Size());
    if (!(sum > 0.0)) return false;
    StrideAxis axes[MAX_STRIDE_AXES];
    const Strides onto{axes, BuildStrideAxes(sizes, strides, clique.memberCount, axes), 0};
    AccumulateScaled(counts, cells, sum / weight, onto);
    return true;
}

} // namespace quarn::detail
