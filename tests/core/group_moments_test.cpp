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

// The groups' own statistics from the same pass equal group_stats over each
// group's samples (NaN, empty and one-sample groups, samples in no group).
TEST(RestStats, GroupsFromTheSamePassEqualDirectStatistics) {
    std::vector<double> v;
    for (int i = 0; i < 9 * 40; ++i) v.push_back(i % 5 == 1 ? kNaN : 7.0 + 1e-9 * ((i * 13) % 17));
    const std::vector<std::int64_t> code = {1, -1, 1, 0, 1, 0, 3, 1, 0};  // group 2 is empty, 3 has one sample
    StridedMatrix by_rows = rows(v, 40);
    StridedMatrix by_cols = by_rows;
    by_cols.item_stride = 1;
    by_cols.sample_stride = 40;
    for (const StridedMatrix& m : {by_rows, by_cols}) {
        std::vector<GroupStats> own;
        quend::rest_stats(m, code, 4, &own);
        ASSERT_EQ(own.size(), 4u);
        for (std::int64_t g = 0; g < 4; ++g) {
            std::vector<std::size_t> members;
            for (std::size_t k = 0; k < code.size(); ++k)
                if (code[k] == g) members.push_back(k);
            const GroupStats direct = quend::group_stats(m, members);
            for (std::size_t i = 0; i < m.n_items; ++i) {
                EXPECT_EQ(own[g].count[i], direct.count[i]);
                EXPECT_TRUE(own[g].mean[i] == direct.mean[i] ||
                            (std::isnan(own[g].mean[i]) && std::isnan(direct.mean[i])));
                EXPECT_TRUE(own[g].var[i] == direct.var[i] || (std::isnan(own[g].var[i]) && std::isnan(direct.var[i])));
            }
        }
    }
}
