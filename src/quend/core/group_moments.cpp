#include "core/group_moments.hpp"

#include <algorithm>
#include <cmath>

#include "core/moments.hpp"

namespace quend {

std::vector<GroupStats> rest_stats(const StridedMatrix& m, const std::vector<std::int64_t>& code, std::size_t n_groups,
                                   std::vector<GroupStats>* groups) {
    const std::size_t n = m.n_items, s = m.n_samples;
    std::vector<GroupStats> out(n_groups, unset_stats(n));
    if (groups) groups->assign(n_groups, unset_stats(n));
    std::vector<double> vals(s), sq(s);
    // Each group's values packed in sample order: one run of s per group.
    std::vector<double> own(groups ? n_groups * s : 0);
    std::vector<std::size_t> own_n(n_groups);
    const auto every_sample = [](std::size_t k) { return k; };
    walk_items(m, s, every_sample, [&](std::size_t i, const auto& r) {
        if (groups) {
            std::fill(own_n.begin(), own_n.end(), 0);
            for (std::size_t k = 0; k < s; ++k) {
                const std::int64_t g = code[k];
                if (g < 0 || static_cast<std::size_t>(g) >= n_groups || std::isnan(r[k])) continue;
                own[static_cast<std::size_t>(g) * s + own_n[g]++] = r[k];
            }
            for (std::size_t g = 0; g < n_groups; ++g) set_moments((*groups)[g], i, &own[g * s], own_n[g], sq.data());
        }
        for (std::size_t g = 0; g < n_groups; ++g) {
            const auto gi = static_cast<std::int64_t>(g);
            const std::size_t c = pack_present(r, s, [&](std::size_t k) { return code[k] != gi; }, vals.data());
            set_moments(out[g], i, vals.data(), c, sq.data());
        }
    });
    return out;
}

}  // namespace quend
