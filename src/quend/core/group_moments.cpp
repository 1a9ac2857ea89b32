#include "core/group_moments.hpp"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "core/pairwise_sum.hpp"

namespace quend {

std::vector<GroupStats> rest_stats(const StridedMatrix& m, const std::vector<std::int64_t>& code,
                                   std::size_t n_groups) {
    const std::size_t n = m.n_items, s = m.n_samples;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<GroupStats> out(n_groups);
    for (GroupStats& r : out) {
        r.count.assign(n, 0.0);
        r.mean.assign(n, nan);
        r.var.assign(n, nan);
    }
    std::vector<double> row(s), vals(s), sq(s);
    auto finish_item = [&](std::size_t i, const double* r) {
        for (std::size_t g = 0; g < n_groups; ++g) {
            const auto gi = static_cast<std::int64_t>(g);
            std::size_t c = 0;
            for (std::size_t k = 0; k < s; ++k) {
                vals[c] = r[k];
                c += (code[k] != gi && !std::isnan(r[k])) ? 1 : 0;
            }
            // As group_stats forms them, so the two routes agree bit for bit.
            GroupStats& o = out[g];
            const double cnt = static_cast<double>(c);
            o.count[i] = cnt;
            if (c == 0) continue;
            const double mean = pairwise_sum(vals.data(), c) / cnt;
            o.mean[i] = mean;
            if (c < 2) continue;
            for (std::size_t k = 0; k < c; ++k) sq[k] = (vals[k] - mean) * (vals[k] - mean);
            o.var[i] = (pairwise_sum(sq.data(), c) / cnt) * (cnt / (cnt - 1.0));
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
