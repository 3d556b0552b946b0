#include "learning/count_tree.h"

#include "model/error_handler.h"

#include <algorithm>

namespace {

// Ints held by nodes, slots and record lists; past this the cached counts are dropped.
constexpr std::size_t kMaxCells = std::size_t{1} << 25;

} // namespace

QNL_adTree::QNL_adTree(std::vector<const int*> columns, std::vector<int> states, int records)
    : columns(std::move(columns)), states(std::move(states)) {
    const std::size_t n = this->columns.size();
    this->states.resize(n, 0);
    for (int& s : this->states) {
        if (s > 0) continue;
        s = 0;
        QNL_errorHandler::Instance().LogError(-1, "adtree: number of states is 0");
    }
    for (int r = 0; r < records; ++r) {
        bool valid = true;
        for (std::size_t v = 0; v < n && valid; ++v) {
            const int cell = this->columns[v][r];
            valid = this->states[v] == 0 || (cell >= 0 && cell < this->states[v]);
        }
        if (valid) rows.push_back(r);
    }
    pool = rows;
    nodes.push_back({static_cast<int>(rows.size()), -1, 0});
}

void QNL_adTree::MakeRoom() {
    if (nodes.size() * 3 + slots.size() + pool.size() <= kMaxCells) return;
    nodes.assign(1, CountNode{static_cast<int>(rows.size()), -1, 0});
    varies.clear();
    slots.clear();
    pool = rows;
}

int QNL_adTree::FindVary(int node, int variable) {
    // The vary node found moves to the front of its list: a pass over the records asks a
    // node for the same variable again and again.
    int previous = -1;
    for (int v = nodes[node].firstVary; v >= 0; previous = v, v = varies[v].next) {
        if (varies[v].variable != variable) continue;
        if (previous >= 0) {
            varies[previous].next = varies[v].next;
            varies[v].next = nodes[node].firstVary;
            nodes[node].firstVary = v;
        }
        return v;
    }
    return -1;
}

int QNL_adTree::AddVary(int node, int variable) {
    const int vary = static_cast<int>(varies.size());
    varies.push_back({variable, nodes[node].firstVary, static_cast<int>(slots.size())});
    slots.resize(slots.size() + states[variable], -1);
    nodes[node].firstVary = vary;
    return vary;
}

void QNL_adTree::Build(const std::vector<int>& sequence) {
    // Levels are counted all or nothing: a level is split for every node of the level above,
    // so the first record's own path tells how deep the sequence is already counted.
    const std::size_t length = sequence.size();
    if (rows.empty()) return;
    for (const int variable : sequence)
        if (states[variable] == 0) return; // no record matches such a variable
    std::size_t built = 0;
    for (int node = 0; built < length; ++built) {
        const int variable = sequence[built];
        const int vary = FindVary(node, variable);
        if (vary < 0) break;
        node = slots[varies[vary].firstSlot + columns[variable][rows[0]]];
    }
    if (built == length) return;

    // The nodes of the deepest counted level, then each further level split from the records
    // each node holds (a counting sort into ranges of the record pool).
    std::vector<int> frontier{0}, next;
    for (std::size_t level = 0; level < built; ++level) {
        next.clear();
        for (const int node : frontier) {
            const VaryNode& v = varies[FindVary(node, sequence[level])];
            for (int s = 0; s < states[v.variable]; ++s)
                if (slots[v.firstSlot + s] >= 0) next.push_back(slots[v.firstSlot + s]);
        }
        frontier.swap(next);
    }
    std::vector<int> fill;
    for (std::size_t level = built; level < length; ++level) {
        const int variable = sequence[level];
        const int* column = columns[variable];
        const int k = states[variable];
        next.clear();
        for (const int node : frontier) {
            const int vary = AddVary(node, variable);
            const int first = nodes[node].firstRecord;
            const int count = nodes[node].count;
            fill.assign(k, 0);
            for (int i = first; i < first + count; ++i)
                ++fill[column[pool[i]]];
            int start = static_cast<int>(pool.size());
            for (int s = 0; s < k; ++s) {
                if (fill[s] == 0) continue;
                slots[varies[vary].firstSlot + s] = static_cast<int>(nodes.size());
                next.push_back(static_cast<int>(nodes.size()));
                nodes.push_back({fill[s], -1, start});
                const int end = start + fill[s];
                fill[s] = start;
                start = end;
            }
            pool.resize(static_cast<std::size_t>(start));
            for (int i = first; i < first + count; ++i) {
                const int record = pool[i];
                pool[fill[column[record]]++] = record;
            }
        }
        frontier.swap(next);
    }
}

int QNL_adTree::Count(std::vector<std::pair<int, int>> query) {
    std::sort(query.begin(), query.end());
    std::vector<int> sequence;
    for (std::size_t i = 0; i < query.size(); ++i) {
        const auto [variable, state] = query[i];
        if (variable < 0 || variable >= GetNumberOfVariables()) return 0;
        if (state < 0 || state >= states[variable]) return 0;
        if (i > 0 && query[i - 1].first == variable) {
            if (query[i - 1].second != state) return 0;
            continue;
        }
        sequence.push_back(variable);
    }
    MakeRoom();
    Build(sequence);
    int node = 0;
    std::size_t level = 0;
    for (std::size_t i = 0; i < query.size(); ++i) {
        if (i > 0 && query[i - 1].first == query[i].first) continue;
        const int vary = FindVary(node, sequence[level++]);
        if (vary < 0) return 0;
        node = slots[varies[vary].firstSlot + query[i].second];
        if (node < 0) return 0;
    }
    return nodes[node].count;
}
