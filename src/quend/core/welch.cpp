#include "core/welch.hpp"

#include <cmath>
#include <limits>

#include "core/moments.hpp"
#include "core/student_t.hpp"

namespace quend {

GroupStats group_stats(const StridedMatrix& m, const std::vector<std::size_t>& samples) {
    const std::size_t g = samples.size();
    GroupStats out = unset_stats(m.n_items);
    if (g == 0) return out;  // no samples: every item keeps count 0 and NaN moments
    std::vector<double> vals(g), sq(g);
    const auto any = [](std::size_t) { return true; };
    const auto sample_of = [&](std::size_t k) { return samples[k]; };
    walk_items(m, g, sample_of, [&](std::size_t i, const auto& run) {
        set_moments(out, i, vals.data(), pack_present(run, g, any, vals.data()), sq.data());
    });
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
