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

// Every group's rest is bit-equal to the direct statistics of the rest's own
// samples (NaN, samples in no group, near-constant items), in either memory order.
TEST(RestStats, EqualDirectStatisticsBitForBit) {
    std::vector<double> v;
    for (int i = 0; i < 4 * 300; ++i) v.push_back(i % 7 == 3 ? kNaN : 1e3 + 1e-4 * ((i * 37) % 11));
    const std::vector<std::int64_t> code = {0, 1, -1, 0, 2, 1, 0, 2, 1, 0, 2, 0};  // 12 samples
    StridedMatrix by_rows = rows(v, 100);
    StridedMatrix by_cols = by_rows;  // the same values read as samples x items
    by_cols.item_stride = 1;
    by_cols.sample_stride = 100;
    for (const StridedMatrix& m : {by_rows, by_cols}) {
        const std::vector<GroupStats> got = quend::rest_stats(m, code, 3);
        for (std::int64_t g = 0; g < 3; ++g) {
            std::vector<std::size_t> rest;
            for (std::size_t k = 0; k < code.size(); ++k)
                if (code[k] != g) rest.push_back(k);
            const GroupStats direct = quend::group_stats(m, rest);
            for (std::size_t i = 0; i < m.n_items; ++i) {
                EXPECT_EQ(got[g].count[i], direct.count[i]);
                EXPECT_EQ(got[g].mean[i], direct.mean[i]);
                EXPECT_EQ(got[g].var[i], direct.var[i]);
            }
        }
    }
}
