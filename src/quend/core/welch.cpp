#include "core/welch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/pairwise_sum.hpp"
#include "core/student_t.hpp"

namespace quend {

GroupStats group_stats(const StridedMatrix& m, const std::vector<std::size_t>& samples) {
    const std::size_t n = m.n_items;
    const std::size_t g = samples.size();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    GroupStats out;
    out.count.assign(n, 0.0);
    out.mean.assign(n, nan);
    out.var.assign(n, nan);
    // No samples: every item has count 0 and NaN moments; the loops below
    // would index empty buffers.
    if (n == 0 || g == 0) return out;
    std::vector<double> vals(g), sq(g);
    // Per item: the non-missing values packed into `vals` (branch-free), then
    // the two pairwise sums on that contiguous run, as numpy sees it.
    auto finish_item = [&](std::size_t i, std::size_t c) {
        out.count[i] = static_cast<double>(c);
        if (c == 0) return;
        const double cnt = static_cast<double>(c);
        const double mean = pairwise_sum(vals.data(), c) / cnt;
        out.mean[i] = mean;
        if (c < 2) return;
        for (std::size_t k = 0; k < c; ++k) {
            const double d = vals[k] - mean;
            sq[k] = d * d;
        }
        out.var[i] = (pairwise_sum(sq.data(), c) / cnt) * (cnt / (cnt - 1.0));
    };
    const bool samples_outer = std::llabs(m.item_stride) < std::llabs(m.sample_stride);
    if (!samples_outer) {
        for (std::size_t i = 0; i < n; ++i) {
            const double* row = m.data + static_cast<std::ptrdiff_t>(i) * m.item_stride;
            std::size_t c = 0;
            for (std::size_t k = 0; k < g; ++k) {
                const double v = row[static_cast<std::ptrdiff_t>(samples[k]) * m.sample_stride];
                vals[c] = v;
                c += std::isnan(v) ? 0 : 1;
            }
            finish_item(i, c);
        }
        return out;
    }
    // Item-contiguous memory (a pandas block): copy tiles of items into an
    // item-major buffer, reading each sample's run contiguously.
    const std::size_t tile = std::max<std::size_t>(1, std::min<std::size_t>(512, 65536 / std::max<std::size_t>(g, 1)));
    std::vector<double> buf(tile * g);
    for (std::size_t i0 = 0; i0 < n; i0 += tile) {
        const std::size_t i1 = std::min(n, i0 + tile);
        for (std::size_t k = 0; k < g; ++k) {
            const double* col = m.data + static_cast<std::ptrdiff_t>(samples[k]) * m.sample_stride;
            for (std::size_t i = i0; i < i1; ++i)
                buf[(i - i0) * g + k] = col[static_cast<std::ptrdiff_t>(i) * m.item_stride];
        }
        for (std::size_t i = i0; i < i1; ++i) {
            const double* src = &buf[(i - i0) * g];
            std::size_t c = 0;
            for (std::size_t k = 0; k < g; ++k) {
                const double v = src[k];
                vals[c] = v;
                c += std::isnan(v) ? 0 : 1;
            }
            finish_item(i, c);
        }
    }
    return out;
}

WelchResult welch_from_stats(const GroupStats& a, const GroupStats& b) {
    const std::size_t n = a.mean.size();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    WelchResult r;
    r.statistic.assign(n, nan);
    r.df.assign(n, nan);
    r.pvalue.assign(n, nan);
    for (std::size_t i = 0; i < n; ++i) {
        const double n1 = a.count[i], n2 = b.count[i];
        if (n1 < 2 || n2 < 2) continue;
        const double vn1 = a.var[i] / n1;
        const double vn2 = b.var[i] / n2;
        double df = (vn1 + vn2) * (vn1 + vn2) / (vn1 * vn1 / (n1 - 1.0) + vn2 * vn2 / (n2 - 1.0));
        if (std::isnan(df)) df = 1.0;  // both variances zero: scipy falls back to 1
        const double t = (a.mean[i] - b.mean[i]) / std::sqrt(vn1 + vn2);
        r.statistic[i] = t;
        r.df[i] = df;
        r.pvalue[i] = student_t_two_sided_p(t, df);
    }
    return r;
}

WelchResult welch_test(const StridedMatrix& m, const std::vector<std::size_t>& samples_a,
                       const std::vector<std::size_t>& samples_b) {
    return welch_from_stats(group_stats(m, samples_a), group_stats(m, samples_b));
}

}  // namespace quend
