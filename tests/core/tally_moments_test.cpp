#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/tally_moments.hpp"
#include "core/welch.hpp"

using quend::GroupStats;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// `scale`: the size of the values behind `want`; a variance of values
// known to a few ulps of their magnitude is known no better than that.
void expect_close(double got, double want, double scale = 0.0) {
    if (std::isnan(want))
        EXPECT_TRUE(std::isnan(got));
    else
        EXPECT_NEAR(got, want, 1e-12 * (std::fabs(want) + scale));
}

struct Tables {
    std::vector<double> count, mean, var;
    quend::GroupTallies view(std::size_t n_groups, std::size_t n_items) const {
        return {n_groups, n_items, count.data(), mean.data(), var.data()};
    }
    void push(const GroupStats& s) {
        count.insert(count.end(), s.count.begin(), s.count.end());
        mean.insert(mean.end(), s.mean.begin(), s.mean.end());
        var.insert(var.end(), s.var.begin(), s.var.end());
    }
};
}  // namespace

// Rests merged from the groups' tallies match the two-pass statistics of the
// rest's own samples: NaN-driven counts (0, 1 and many values), an empty
// group, and a small near-constant rest beside a large, spread group, where
// total minus group would cancel.
TEST(TallyMoments, RestsMatchTwoPassStatistics) {
    const std::size_t n_items = 40, n_samples = 300, n_groups = 4;
    std::mt19937_64 rng(7);
    std::normal_distribution<double> z(0.0, 1.0);
    std::vector<std::int64_t> code(n_samples);
    for (std::size_t s = 0; s < n_samples; ++s) code[s] = s < 290 ? 0 : s < 296 ? 1 : 2;  // group 3: empty
    std::vector<double> v(n_items * n_samples);
    for (std::size_t i = 0; i < n_items; ++i)
        for (std::size_t s = 0; s < n_samples; ++s) {
            double x = code[s] == 0 ? 1e6 * z(rng) : 5.0 + 1e-4 * z(rng);
            if (i % 5 == 1 && code[s] != 0 && s != 291) x = kNaN;  // group 1 left with one value
            if (i % 5 == 2 && code[s] == 2) x = kNaN;              // group 2 left with none
            if (z(rng) > 1.5) x = kNaN;
            v[i * n_samples + s] = x;
        }
    const quend::StridedMatrix m{v.data(), n_items, n_samples, static_cast<std::ptrdiff_t>(n_samples), 1};  // item rows
    std::vector<std::vector<std::size_t>> members(n_groups), rest(n_groups);
    for (std::size_t s = 0; s < n_samples; ++s)
        for (std::size_t g = 0; g < n_groups; ++g) (code[s] == std::int64_t(g) ? members : rest)[g].push_back(s);
    Tables t;
    for (std::size_t g = 0; g < n_groups; ++g) t.push(quend::group_stats(m, members[g]));
    const std::vector<GroupStats> got = quend::rest_rows(t.view(n_groups, n_items));
    for (std::size_t g = 0; g < n_groups; ++g) {
        const GroupStats want = quend::group_stats(m, rest[g]);
        for (std::size_t i = 0; i < n_items; ++i) {
            EXPECT_EQ(got[g].count[i], want.count[i]);
            expect_close(got[g].mean[i], want.mean[i]);
            expect_close(got[g].var[i], want.var[i], want.mean[i] * want.mean[i]);
            expect_close(quend::group_row(t.view(n_groups, n_items), g).var[i], t.var[g * n_items + i]);
        }
    }
}
