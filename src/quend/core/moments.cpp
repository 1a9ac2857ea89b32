#include "core/moments.hpp"

#include <limits>

#include "core/pairwise_sum.hpp"

namespace quend {

GroupStats unset_stats(std::size_t n_items) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    GroupStats out;
    out.count.assign(n_items, 0.0);
    out.mean.assign(n_items, nan);
    out.var.assign(n_items, nan);
    return out;
}

void set_moments(GroupStats& out, std::size_t i, const double* vals, std::size_t c, double* sq) {
    const double cnt = static_cast<double>(c);
    out.count[i] = cnt;
    if (c == 0) return;
    const double mean = pairwise_sum(vals, c) / cnt;
    out.mean[i] = mean;
    if (c < 2) return;
    for (std::size_t k = 0; k < c; ++k) {
        const double d = vals[k] - mean;
        sq[k] = d * d;
    }
    out.var[i] = (pairwise_sum(sq, c) / cnt) * (cnt / (cnt - 1.0));
}

}  // namespace quend
