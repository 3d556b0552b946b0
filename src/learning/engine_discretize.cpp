// Discretization of the engine's continuous data: the values cut into intervals by equal
// frequency, equal width or merging, the intervals named by their bounds, and the discrete
// column of interval indices.

#include "learning/engine_network.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <queue>
#include <set>
#include <sstream>

using namespace QNL_learnOption;

namespace {

int LogFailure(int code, const std::string& message) {
    return QNL_errorHandler::Instance().LogError(code, "learning: " + message);
}

// A run [first, last] of the sorted values.
struct Group {
    std::size_t first;
    std::size_t last;
};

// Adjacent groups are merged, the two whose means lie closest first (the leftmost pair on a
// tie), until `levels` remain: a heap of neighbour gaps, each checked against the groups it
// was made from when it comes up. The groups start as the runs of equal values, so a tie is
// never split however many levels are asked for.
std::vector<Group> MergeGroups(const std::vector<double>& values, const std::vector<Group>& runs,
                               std::size_t levels) {
    const std::size_t n = runs.size();
    std::vector<double> sum(n, 0.0);
    std::vector<double> count(n);
    std::vector<std::size_t> last(n);
    std::vector<std::size_t> next(n);
    std::vector<std::size_t> previous(n);
    std::vector<unsigned> version(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t v = runs[i].first; v <= runs[i].last; ++v)
            sum[i] += values[v];
        count[i] = static_cast<double>(runs[i].last - runs[i].first + 1);
        last[i] = i;
        next[i] = i + 1;
        previous[i] = i == 0 ? n : i - 1;
    }
    struct Gap {
        double gap;
        std::size_t left;
        unsigned leftVersion;
        unsigned rightVersion;
        bool operator>(const Gap& o) const {
            return gap > o.gap || (gap == o.gap && left > o.left);
        }
    };
    std::priority_queue<Gap, std::vector<Gap>, std::greater<Gap>> heap;
    const auto push = [&](std::size_t left) {
        const std::size_t right = next[left];
        if (right >= n) return;
        heap.push({sum[right] / count[right] - sum[left] / count[left], left, version[left],
                   version[right]});
    };
    for (std::size_t i = 0; i + 1 < n; ++i)
        push(i);
    std::size_t groups = n;
    while (groups > levels && !heap.empty()) {
        const Gap top = heap.top();
        heap.pop();
        const std::size_t left = top.left;
        const std::size_t right = next[left];
        // Groups are known by their first run; a merged-away group has count 0.
        if (count[left] == 0.0 || right >= n || top.leftVersion != version[left] ||
            top.rightVersion != version[right])
            continue;
        sum[left] += sum[right];
        count[left] += count[right];
        count[right] = 0.0;
        last[left] = last[right];
        next[left] = next[right];
        if (next[left] < n) previous[next[left]] = left;
        ++version[left];
        --groups;
        push(left);
        if (previous[left] < n) push(previous[left]);
    }
    std::vector<Group> result;
    for (std::size_t i = 0; i < n; i = next[i])
        result.push_back({runs[i].first, runs[last[i]].last});
    return result;
}

// Equal frequency over whole runs: each group takes its share of the values still left (the
// earlier groups one more while the division leaves some over), then its border moves past
// the run it cuts, but never so far that a later group would be left without a value of its
// own. Without ties these are the groups of n div L values, the first n mod L one larger.
std::vector<Group> EqualFrequencyGroups(const std::vector<Group>& runs, std::size_t levels) {
    const std::size_t distinct = runs.size();
    const std::size_t n = runs.back().last + 1;
    const std::size_t L = std::min(levels, distinct);
    std::vector<Group> groups;
    std::size_t at = 0;
    std::size_t run = 0;
    for (std::size_t k = 0; k < L; ++k) {
        const std::size_t left = L - k;
        const std::size_t end = at + (n - at + left - 1) / left;
        // The first run that starts at or after the border.
        std::size_t next = run + 1;
        while (next < distinct && runs[next].first < end)
            ++next;
        next = std::min(next, distinct - (left - 1));
        groups.push_back({at, runs[next - 1].last});
        at = runs[next - 1].last + 1;
        run = next;
    }
    return groups;
}

// Groups by count alone: n div L values each, the first n mod L one more.
std::vector<Group> CountGroups(std::size_t n, std::size_t levels) {
    std::vector<Group> groups;
    for (std::size_t k = 0, at = 0; k < levels; ++k) {
        const std::size_t size = n / levels + (k < n % levels ? 1 : 0);
        groups.push_back({at, at + size - 1});
        at += size;
    }
    return groups;
}

std::vector<Group> EqualWidthGroups(const std::vector<double>& values, std::size_t levels) {
    const std::size_t n = values.size();
    const double width = (values.back() - values.front()) / static_cast<double>(levels);
    std::vector<Group> groups;
    std::size_t at = 0;
    for (std::size_t k = 0; k < levels; ++k) {
        std::size_t end = at;
        if (k + 1 == levels)
            end = n;
        else
            while (end < n && values[end] <= values.front() + (k + 1.0) * width)
                ++end;
        // An interval without values gets no state, so the states and the bounds always agree.
        if (end > at) groups.push_back({at, end - 1});
        at = end;
    }
    return groups;
}

// A bound between two neighbouring values that takes the lower one and not the upper; the
// plain midpoint of adjacent doubles can round onto the upper one, and of huge ones overflow.
double BoundBetween(double low, double high) {
    const double middle = (low + high) * 0.5;
    if (middle >= low && middle < high) return middle;
    const double halves = low * 0.5 + high * 0.5;
    return halves >= low && halves < high ? halves : low;
}

} // namespace

bool QNL_learnNode::NeedsDiscretization() const {
    if (discrete.Empty()) return true;
    if (continuous.Empty()) return false;
    return discreteMethod != madeMethod || discLevels != madeLevels;
}

int QNL_learnNode::ComputeIntervals(std::vector<int>& column) {
    const int method = discreteMethod;
    const int levels = discLevels;
    std::vector<double> values;
    for (int r = 0; r < continuous.Size(); ++r) {
        const double x = continuous[r];
        if (x != QNL_learnNetwork::MISSING_CONTINUOUS && std::isfinite(x)) values.push_back(x);
    }
    if (values.empty()) return -2;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const auto fail = [&](const std::string& why) {
        return LogFailure(-1, "node " + name + " cannot be discretized: " + why);
    };
    // Equal values always share a group, so a value's state is the one its group's bounds
    // give it; a column with fewer distinct values than levels has one state per value.
    std::vector<Group> runs;
    for (std::size_t i = 0; i < n; ++i)
        if (i == 0 || values[i] != values[i - 1])
            runs.push_back({i, i});
        else
            runs.back().last = i;
    // A constant column has no tie to split: it keeps the states it always had, every record
    // in the first, rather than failing a whole learning run over one column.
    const bool constant = runs.size() == 1;
    std::vector<Group> groups;
    if (method == 0 || method == 1) {
        if (levels < 2 || n / static_cast<std::size_t>(levels) < 1)
            return fail(std::to_string(n) + " values cannot fill " + std::to_string(levels) +
                        " intervals");
        const auto L = static_cast<std::size_t>(levels);
        groups = method == 1 ? EqualWidthGroups(values, L)
                 : constant  ? CountGroups(n, L)
                             : EqualFrequencyGroups(runs, L);
    } else if (method == 2) {
        if (levels < 2 || static_cast<std::size_t>(levels) >= n)
            return fail("merging " + std::to_string(n) + " values into " + std::to_string(levels) +
                        " intervals");
        groups = constant ? CountGroups(n, static_cast<std::size_t>(levels))
                          : MergeGroups(values, runs, static_cast<std::size_t>(levels));
    } else {
        return fail("there is no method " + std::to_string(method));
    }
    if (groups.size() < 2) return fail("its values leave fewer than two intervals");
    const std::size_t L = groups.size();
    std::vector<double> cuts(L + 1);
    std::vector<double> centres(L);
    cuts[0] = values[groups[0].first];
    for (std::size_t k = 0; k < L; ++k) {
        double sum = 0.0;
        for (std::size_t i = groups[k].first; i <= groups[k].last; ++i)
            sum += values[i];
        centres[k] = sum / static_cast<double>(groups[k].last - groups[k].first + 1);
        cuts[k + 1] = k + 1 < L ? BoundBetween(values[groups[k].last], values[groups[k + 1].first])
                                : values[groups[k].last] * 1.0000001;
    }
    column.assign(static_cast<std::size_t>(continuous.Size()), QNL_learnNetwork::MISSING);
    for (int r = 0; r < continuous.Size(); ++r) {
        const double x = continuous[r];
        if (x == QNL_learnNetwork::MISSING_CONTINUOUS || !std::isfinite(x)) continue;
        // The first bound from b[1] on that is not below x; past every bound, the last state.
        const auto at = std::lower_bound(cuts.begin() + 1, cuts.end(), x);
        column[static_cast<std::size_t>(r)] =
            at == cuts.end() ? static_cast<int>(L) - 1 : static_cast<int>(at - cuts.begin()) - 1;
    }
    bounds = std::move(cuts);
    means = std::move(centres);
    madeMethod = method;
    madeLevels = levels;
    return 0;
}

std::string QNL_learnNode::MakeIntervalStateName(double low, double high) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << (low > 0.0 ? "p" : "") << low << "_TO_" << (high > 0.0 ? "p" : "") << high;
    std::string text = out.str();
    for (char& c : text) {
        if (c == '.') c = '_';
        if (c == '-') c = 'm';
    }
    return text;
}

std::vector<std::string> QNL_learnNode::MakeIntervalStates() const {
    std::vector<std::string> names;
    std::set<std::string> used;
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        // Bounds equal in six digits would name two states alike.
        std::string name = MakeIntervalStateName(bounds[k], bounds[k + 1]);
        while (!used.insert(name).second)
            name += "_" + std::to_string(k);
        names.push_back(std::move(name));
    }
    return names;
}

int QNL_learnNode::RefuseInfinity() const {
    for (int r = 0; r < continuous.Size(); ++r)
        if (std::isinf(continuous[r]))
            return LogFailure(-1, "node " + name + " holds " +
                                      (continuous[r] > 0 ? "inf" : "-inf") + " in record " +
                                      std::to_string(r) + ", which is no value to learn from");
    return 0;
}

int QNL_learnNode::Discretize() {
    if (!NeedsDiscretization()) return -2;
    if (RefuseInfinity() != 0) return -1;
    std::vector<int> column;
    if (const int code = ComputeIntervals(column)) return code;
    const bool unobserved =
        std::find(column.begin(), column.end(), QNL_learnNetwork::MISSING) != column.end();
    SetDiscreteData(MakeIntervalStates(), QNL_dataColumn<int>(std::move(column)));
    // Parameters of data with missing values are learned by EM, as for a missing cell.
    if (unobserved) network->dataIncomplete = true;
    return 0;
}

int QNL_learnNode::SetIntParam(int which, int value) {
    if (which == DISCRETE_METHOD)
        discreteMethod = value;
    else if (which == NUM_DISC_LEVELS)
        discLevels = value;
    else
        return -1;
    return 0;
}

int QNL_learnNetwork::DiscretizeAll(std::vector<int>* done) {
    // An infinity is refused before any node is cut, so the refusal changes nothing.
    for (const auto& node : nodes)
        if (node->active && node->NeedsDiscretization() && node->RefuseInfinity() != 0) return -1;
    for (int i = -1; NextNode(i) == 0;) {
        const int code = nodes[static_cast<std::size_t>(i)]->Discretize();
        if (code == -1) return -1;
        if (code == 0 && done != nullptr) done->push_back(i);
    }
    return 0;
}

int QNL_learnNetwork::DiscretizeForTarget(const QNL_learnHandleMap& target,
                                          QNL_learnHandleMap& rebuilt,
                                          const QNL_learnHandleMap*& map) {
    std::vector<int> done;
    if (DiscretizeAll(&done) != 0) return -1;
    QNL_network& network = *target.GetNetwork();
    bool changed = false;
    for (const int i : done) {
        const int handle = target.GetHandle(i);
        if (handle < 0) continue;
        QNL_nodeDefinition* definition = network.GetNode(handle)->GetDefinition();
        if (definition == nullptr) continue;
        if (const int code = SetOutcomesOf(i, *definition))
            return LogFailure(code, "node " + nodes[static_cast<std::size_t>(i)]->name +
                                        " cannot take its intervals as outcomes");
        changed = true;
    }
    if (changed) {
        rebuilt.Build(*this, network);
        map = &rebuilt;
    }
    return 0;
}
