#include "core/group_moments.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/pairwise_sum.hpp"

namespace quend {

namespace {

std::vector<GroupStats> empty_stats(std::size_t n_groups, std::size_t n) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<GroupStats> out(n_groups);
    for (GroupStats& r : out) {
        r.count.assign(n, 0.0);
        r.mean.assign(n, nan);
        r.var.assign(n, nan);
    }
    return out;
}

// As group_stats forms them from the packed values, so the routes agree bit
// for bit.
void set_moments(GroupStats& o, std::size_t i, const double* vals, std::size_t c, double* sq) {
    const double cnt = static_cast<double>(c);
    o.count[i] = cnt;
    if (c == 0) return;
    const double mean = pairwise_sum(vals, c) / cnt;
    o.mean[i] = mean;
    if (c < 2) return;
    for (std::size_t k = 0; k < c; ++k) sq[k] = (vals[k] - mean) * (vals[k] - mean);
    o.var[i] = (pairwise_sum(sq, c) / cnt) * (cnt / (cnt - 1.0));
}

}  // namespace

std::vector<GroupStats> rest_stats(const StridedMatrix& m, const std::vector<std::int64_t>& code, std::size_t n_groups,
                                   std::vector<GroupStats>* groups) {
    const std::size_t n = m.n_items, s = m.n_samples;
    std::vector<GroupStats> out = empty_stats(n_groups, n);
    if (groups) *groups = empty_stats(n_groups, n);
    std::vector<double> row(s), vals(s), sq(s);
    // Each group's values packed in sample order: one run of s per group.
    std::vector<double> own(groups ? n_groups * s : 0);
    std::vector<std::size_t> own_n(n_groups);
    auto finish_item = [&](std::size_t i, const double* r) {
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
            std::size_t c = 0;
            for (std::size_t k = 0; k < s; ++k) {
                vals[c] = r[k];
                c += (code[k] != gi && !std::isnan(r[k])) ? 1 : 0;
            }
            set_moments(out[g], i, vals.data(), c, sq.data());
        }
    };
    if (std::llabs(m.item_stride) >= std::llabs(m.sample_stride)) {
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < s; ++k) row[k] = m.at(i, k);
            finish_item(i, row.data());
        }
        return out;
    }
    // Item-contiguous memory: tiles of items copied item-major, reading each
    // sample's run contiguously.
    const std::size_t tile = std::max<std::size_t>(1, std::min<std::size_t>(512, 65536 / std::max<std::size_t>(s, 1)));
    std::vector<double> buf(tile * s);
    for (std::size_t i0 = 0; i0 < n; i0 += tile) {
        const std::size_t i1 = std::min(n, i0 + tile);
        for (std::size_t k = 0; k < s; ++k)
            for (std::size_t i = i0; i < i1; ++i) buf[(i - i0) * s + k] = m.at(i, k);
        for (std::size_t i = i0; i < i1; ++i) finish_item(i, &buf[(i - i0) * s]);
    }
    return out;
}

}  // namespace quend
