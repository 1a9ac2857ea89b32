#include "core/group_keys.hpp"

#include <stdexcept>
#include <unordered_map>

namespace quend {

namespace {

// Renumbers non-negative values by first appearance; `bound` exceeds every
// value. A table when it is small, else a hash map.
std::size_t renumber(std::vector<std::int64_t>& v, std::uint64_t bound) {
    std::int64_t next = 0;
    if (bound <= 4 * static_cast<std::uint64_t>(v.size()) + 1024) {
        std::vector<std::int64_t> id(static_cast<std::size_t>(bound), -1);
        for (std::int64_t& c : v) {
            if (c < 0) continue;
            std::int64_t& slot = id[static_cast<std::size_t>(c)];
            if (slot < 0) slot = next++;
            c = slot;
        }
    } else {
        std::unordered_map<std::int64_t, std::int64_t> id;
        for (std::int64_t& c : v) {
            if (c < 0) continue;
            const auto at = id.try_emplace(c, next);
            if (at.second) ++next;
            c = at.first->second;
        }
    }
    return static_cast<std::size_t>(next);
}

}  // namespace

CellGroups combine_keys(const std::vector<const std::int64_t*>& keys, const std::vector<std::size_t>& n_labels,
                        std::size_t n_cells) {
    if (keys.empty() || keys.size() != n_labels.size()) throw std::invalid_argument("one label count per key");
    CellGroups g;
    g.codes.assign(n_cells, 0);
    // Mixed radix, one key at a time; renumbering after each key keeps the
    // running code below n_cells, so the product cannot overflow.
    std::size_t n_groups = 1;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const auto radix = static_cast<std::int64_t>(n_labels[k]);
        for (std::size_t i = 0; i < n_cells; ++i) {
            const std::int64_t c = keys[k][i];
            if (c >= radix) throw std::invalid_argument("key code out of range");
            std::int64_t& out = g.codes[i];
            out = out < 0 || c < 0 ? -1 : out * radix + c;
        }
        n_groups = renumber(g.codes, static_cast<std::uint64_t>(n_groups) * n_labels[k]);
    }
    g.first.assign(n_groups, -1);
    g.size.assign(n_groups, 0);
    for (std::size_t i = 0; i < n_cells; ++i) {
        const std::int64_t c = g.codes[i];
        if (c < 0) continue;
        if (g.first[static_cast<std::size_t>(c)] < 0)
            g.first[static_cast<std::size_t>(c)] = static_cast<std::int64_t>(i);
        ++g.size[static_cast<std::size_t>(c)];
    }
    return g;
}

void keep_groups_of_at_least(CellGroups& g, std::int64_t min_cells) {
    std::vector<std::int64_t> id(g.size.size(), -1);
    std::size_t kept = 0;
    for (std::size_t p = 0; p < g.size.size(); ++p) {
        if (g.size[p] < min_cells) continue;
        id[p] = static_cast<std::int64_t>(kept);
        g.first[kept] = g.first[p];
        g.size[kept] = g.size[p];
        ++kept;
    }
    if (kept == g.size.size()) return;
    g.first.resize(kept);
    g.size.resize(kept);
    for (std::int64_t& c : g.codes)
        if (c >= 0) c = id[static_cast<std::size_t>(c)];
}

bool constant_within(const std::int64_t* values, const CellGroups& g) {
    for (std::size_t i = 0; i < g.codes.size(); ++i) {
        const std::int64_t c = g.codes[i];
        if (c >= 0 && values[i] != values[g.first[static_cast<std::size_t>(c)]]) return false;
    }
    return true;
}

}  // namespace quend
