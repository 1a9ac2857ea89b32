#include "core/group_moments.hpp"

#include <cmath>
#include <limits>

namespace quend {

namespace {

struct Moment {
    double n = 0.0, mean = 0.0, m2 = 0.0;
};

// Chan et al.: merging two partial moments keeps the deviations small, so
// near-constant items do not lose their variance to cancellation.
inline void merge(Moment& a, double n, double mean, double m2) {
    if (n == 0.0) return;
    if (a.n == 0.0) {
        a = {n, mean, m2};
        return;
    }
    const double total = a.n + n;
    const double delta = mean - a.mean;
    a.mean += delta * (n / total);
    a.m2 += m2 + delta * delta * (a.n * n / total);
    a.n = total;
}

}  // namespace

GroupStats combine_stats(const std::vector<GroupStats>& parts, const std::vector<bool>& take) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::size_t n_items = parts.empty() ? 0 : parts.front().mean.size();
    GroupStats out;
    out.count.assign(n_items, 0.0);
    out.mean.assign(n_items, nan);
    out.var.assign(n_items, nan);
    for (std::size_t i = 0; i < n_items; ++i) {
        Moment acc;
        for (std::size_t k = 0; k < parts.size(); ++k) {
            if (!take[k]) continue;
            const GroupStats& p = parts[k];
            const double c = p.count[i];
            // var = m2 / (c - 1); a single value has no spread.
            merge(acc, c, p.mean[i], c >= 2.0 ? p.var[i] * (c - 1.0) : 0.0);
        }
        out.count[i] = acc.n;
        if (acc.n == 0.0) continue;
        out.mean[i] = acc.mean;
        if (acc.n >= 2.0) out.var[i] = acc.m2 / (acc.n - 1.0);
    }
    return out;
}

}  // namespace quend
