#include "core/welch.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/student_t.hpp"

namespace quend {

GroupStats group_stats(const StridedMatrix& m, const std::vector<std::size_t>& samples) {
    const std::size_t n = m.n_items;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    GroupStats g;
    g.count.assign(n, 0.0);
    g.mean.assign(n, 0.0);
    g.var.assign(n, 0.0);
    // Walk the contiguous direction innermost.
    const bool samples_outer = std::llabs(m.item_stride) <= std::llabs(m.sample_stride);
    if (samples_outer) {
        for (std::size_t s : samples) {
            const double* col = m.data + static_cast<std::ptrdiff_t>(s) * m.sample_stride;
            for (std::size_t i = 0; i < n; ++i) {
                const double v = col[static_cast<std::ptrdiff_t>(i) * m.item_stride];
                if (!std::isnan(v)) {
                    g.count[i] += 1.0;
                    g.mean[i] += v;
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i) g.mean[i] = g.count[i] > 0 ? g.mean[i] / g.count[i] : nan;
        for (std::size_t s : samples) {
            const double* col = m.data + static_cast<std::ptrdiff_t>(s) * m.sample_stride;
            for (std::size_t i = 0; i < n; ++i) {
                const double v = col[static_cast<std::ptrdiff_t>(i) * m.item_stride];
                if (!std::isnan(v)) {
                    const double d = v - g.mean[i];
                    g.var[i] += d * d;
                }
            }
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const double* row = m.data + static_cast<std::ptrdiff_t>(i) * m.item_stride;
            double cnt = 0.0, sum = 0.0;
            for (std::size_t s : samples) {
                const double v = row[static_cast<std::ptrdiff_t>(s) * m.sample_stride];
                if (!std::isnan(v)) {
                    cnt += 1.0;
                    sum += v;
                }
            }
            const double mean = cnt > 0 ? sum / cnt : nan;
            double ss = 0.0;
            for (std::size_t s : samples) {
                const double v = row[static_cast<std::ptrdiff_t>(s) * m.sample_stride];
                if (!std::isnan(v)) ss += (v - mean) * (v - mean);
            }
            g.count[i] = cnt;
            g.mean[i] = mean;
            g.var[i] = ss;
        }
    }
    for (std::size_t i = 0; i < n; ++i) g.var[i] = g.count[i] > 1 ? g.var[i] / (g.count[i] - 1.0) : nan;
    return g;
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
