#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/group_moments.hpp"
#include "core/welch.hpp"

using quend::GroupStats;
using quend::StridedMatrix;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// One item per row, samples along the row.
StridedMatrix rows(const std::vector<double>& v, std::size_t n_items) {
    StridedMatrix m;
    m.data = v.data();
    m.n_items = n_items;
    m.n_samples = v.size() / n_items;
    m.item_stride = static_cast<std::ptrdiff_t>(m.n_samples);
    m.sample_stride = 1;
    return m;
}
}  // namespace

// The union of groups agrees with the statistics of all its values taken at
// once, with NaN, single values, empty groups and near-constant items.
TEST(CombineStats, UnionMatchesDirectStatistics) {
    const double b = 1e3;
    const std::vector<double> v = {
        1.0,    2.0,        kNaN,   4.0,     5.5,        -3.0,  // item 0: a plain mix
        b,      b + 1e-3,   b,      b - 2e-3, b + 1e-3,  b,     // item 1: variance tiny next to the mean
        kNaN,   kNaN,       7.0,    kNaN,    kNaN,       kNaN,  // item 2: a single value
    };
    const StridedMatrix m = rows(v, 3);
    const std::vector<std::vector<std::size_t>> groups = {{0, 1}, {2}, {3, 4, 5}};
    std::vector<GroupStats> parts;
    for (const auto& g : groups) parts.push_back(quend::group_stats(m, g));
    const GroupStats all = quend::combine_stats(parts, {true, true, true});
    const GroupStats direct = quend::group_stats(m, {0, 1, 2, 3, 4, 5});
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(all.count[i], direct.count[i]);
        EXPECT_NEAR(all.mean[i], direct.mean[i], 1e-15 * std::fabs(direct.mean[i]));
    }
    EXPECT_NEAR(all.var[0], direct.var[0], 1e-14 * direct.var[0]);
    EXPECT_NEAR(all.var[1], direct.var[1], 1e-8 * direct.var[1]);  // raw squares: about 1e-3
    EXPECT_TRUE(std::isnan(all.var[2]));

    // Leaving a part out: the rest of group 1 is groups 0 and 2.
    const GroupStats rest = quend::combine_stats(parts, {true, false, true});
    const GroupStats direct_rest = quend::group_stats(m, {0, 1, 3, 4, 5});
    EXPECT_EQ(rest.count[2], 0.0);
    EXPECT_TRUE(std::isnan(rest.mean[2]));
    EXPECT_NEAR(rest.var[0], direct_rest.var[0], 1e-14 * direct_rest.var[0]);
    const GroupStats none = quend::combine_stats(parts, {false, false, false});
    EXPECT_EQ(none.count[0], 0.0);
    EXPECT_TRUE(std::isnan(none.mean[0]) && std::isnan(none.var[0]));
}
