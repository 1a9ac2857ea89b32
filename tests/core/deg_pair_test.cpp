#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/deg_pair.hpp"

using quend::StridedMatrix;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
}

TEST(DegPair, TestableRuleMeansAndFoldChange) {
    // samples 0,1 reference; 2,3 test
    std::vector<double> rows = {
        1.0,  2.0,        4.0, 6.0,  // 0 testable
        2.0,  2.0,        4.0, 6.0,  // 1 reference constant
        1.0,  kNaN,       4.0, 6.0,  // 2 one reference value
        1.0,  1.0 + 2e-8, 4.0, 6.0,  // 3 reference spread just above 1e-08
        1.0,  1.0 + 1e-8, 4.0, 6.0,  // 4 reference spread below 1e-08
        kNaN, kNaN,       0.0, 1.0,  // 5 no reference value: mean NaN
        -1.0, -2.0,       4.0, 6.0,  // 6 negative ratio
    };
    StridedMatrix m{rows.data(), 7, 4, 4, 1};
    const auto s = quend::pair_stats(m, {0, 1}, {2, 3});
    EXPECT_EQ(s.kept, (std::vector<std::size_t>{0, 3, 6}));
    EXPECT_DOUBLE_EQ(s.mean_ref[0], 1.5);
    EXPECT_DOUBLE_EQ(s.mean_test[0], 5.0);
    EXPECT_DOUBLE_EQ(s.log2_fc[0], std::log2(5.0 / (1.5 + 1e-10) + 1e-10));
    EXPECT_DOUBLE_EQ(s.mean_ref[2], 1.0);
    EXPECT_TRUE(std::isnan(s.mean_ref[5]));
    EXPECT_TRUE(std::isnan(s.log2_fc[6]));
    for (double p : s.pval) EXPECT_TRUE(p > 0.0 && p <= 1.0);
}

// A floor of 0 tests a gene constant in one group (a marker switched off),
// while two constant groups still give nothing to test.
TEST(DegPair, ZeroDeviationFloor) {
    std::vector<double> rows = {
        2.0, 2.0, 4.0, 6.0,  // 0 reference constant
        1.0, 2.0, 4.0, 6.0,  // 1 both spread
        3.0, 3.0, 5.0, 5.0,  // 2 both constant
    };
    StridedMatrix m{rows.data(), 3, 4, 4, 1};
    const auto ref = quend::group_stats(m, {0, 1}), test = quend::group_stats(m, {2, 3});
    EXPECT_EQ(quend::pair_from_stats(ref, test).kept, (std::vector<std::size_t>{1}));
    EXPECT_EQ(quend::pair_from_stats(ref, test, 0.0).kept, (std::vector<std::size_t>{0, 1}));
}

TEST(DegPair, OrdersAndInclusiveCutoffs) {
    quend::PairStats s;
    s.kept = {0, 1, 2, 3};
    s.log2_fc = {1.0, -2.0, 0.5, 0.0};
    s.mean_ref = s.mean_test = {1, 1, 1, 1};
    s.pval = {0.04, 0.01, 0.05, 0.001};
    const std::vector<double> adj = {0.05, 0.02, 0.05, 0.004};
    const auto t = quend::sort_and_select(s, adj, 4, 0.05, 0.5);
    EXPECT_EQ(t.full, (std::vector<std::size_t>{3, 1, 0, 2}));
    // 0.05 <= 0.05 and |0.5| >= 0.5 both pass; log2_FC 0 fails the fold change.
    EXPECT_EQ(t.significant, (std::vector<std::size_t>{1, 0, 2}));
    EXPECT_EQ(t.n_up, 2u);
    EXPECT_EQ(t.n_down, 1u);
    // Filtering on raw p-values instead.
    const auto raw = quend::sort_and_select(s, adj, 3, 0.04, 0.0);
    EXPECT_EQ(raw.significant, (std::vector<std::size_t>{1, 0, 3}));
    EXPECT_EQ(raw.n_up + raw.n_down, 2u);  // a zero fold change is neither
}
