#include "core/tally_moments.hpp"

#include <cmath>
#include <limits>

#include "core/moments.hpp"

namespace quend {

namespace {

// Count, mean and sum of squared deviations of one set of values.
struct Moments {
    double n = 0.0, mean = 0.0, m2 = 0.0;
};

Moments moments_at(const GroupTallies& t, std::size_t g, std::size_t i) {
    const std::size_t k = g * t.n_items + i;
    const double n = t.count[k];
    if (!(n > 0)) return {};
    return {n, t.mean[k], n > 1 ? t.var[k] * (n - 1.0) : 0.0};
}

Moments merge(const Moments& a, const Moments& b) {
    if (b.n == 0) return a;
    if (a.n == 0) return b;
    const double n = a.n + b.n;
    const double d = b.mean - a.mean;
    return {n, a.mean + d * (b.n / n), a.m2 + b.m2 + d * d * (a.n * b.n / n)};
}

void store(GroupStats& s, std::size_t i, const Moments& m) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    s.count[i] = m.n;
    s.mean[i] = m.n > 0 ? m.mean : nan;
    s.var[i] = m.n > 1 ? m.m2 / (m.n - 1.0) : nan;
}

}  // namespace

GroupStats group_row(const GroupTallies& t, std::size_t g) {
    GroupStats s = unset_stats(t.n_items);
    for (std::size_t i = 0; i < t.n_items; ++i) store(s, i, moments_at(t, g, i));
    return s;
}

std::vector<GroupStats> rest_rows(const GroupTallies& t) {
    std::vector<GroupStats> out(t.n_groups, unset_stats(t.n_items));
    // Per item: suffix merges, then one forward walk that merges the prefix
    // before g with the suffix after g.
    std::vector<Moments> suffix(t.n_groups + 1);
    for (std::size_t i = 0; i < t.n_items; ++i) {
        for (std::size_t g = t.n_groups; g-- > 0;) suffix[g] = merge(moments_at(t, g, i), suffix[g + 1]);
        Moments prefix;
        for (std::size_t g = 0; g < t.n_groups; ++g) {
            store(out[g], i, merge(prefix, suffix[g + 1]));
            prefix = merge(prefix, moments_at(t, g, i));
        }
    }
    return out;
}

}  // namespace quend
