#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/welch.hpp"

using quend::StridedMatrix;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_rel(double got, double want, double rel) {
    EXPECT_NEAR(got, want, std::fabs(want) * rel) << "got " << got << " want " << want;
}
}  // namespace

TEST(Welch, NearlyConstantItemsKeepTheirDifference) {
    // Two groups around 5 with spread 1e-7: the t statistic comes from the
    // difference of the means only; both orders give the same bits.
    std::vector<double> rows = {5 + 1e-7, 5 + 3e-7, 5 + 2e-7, 5 + 6e-7, 5 + 8e-7, 5 + 7e-7};
    StridedMatrix rm{rows.data(), 1, 6, 6, 1};
    StridedMatrix cm{rows.data(), 1, 6, 1, 1};
    const auto r1 = quend::welch_test(rm, {0, 1, 2}, {3, 4, 5});
    const auto r2 = quend::welch_test(cm, {0, 1, 2}, {3, 4, 5});
    EXPECT_EQ(r1.pvalue[0], r2.pvalue[0]);
    EXPECT_NEAR(r1.statistic[0], -6.123724356957945, 1e-6);
}

TEST(Welch, RowMajorAndColumnMajorViewsAgree) {
    // 3 items x 6 samples; samples 0-2 group a, 3-5 group b; NaN omitted.
    std::vector<double> rows = {1, 2,    3, 7, 8,   10,  //
                                5, kNaN, 6, 1, 1.5, 2,   //
                                0, 0,    0, 1, 1,   1};
    StridedMatrix rm{rows.data(), 3, 6, 6, 1};
    std::vector<double> cols(18);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 6; ++j) cols[j * 3 + i] = rows[i * 6 + j];
    StridedMatrix cm{cols.data(), 3, 6, 1, 3};
    const auto r1 = quend::welch_test(rm, {0, 1, 2}, {3, 4, 5});
    const auto r2 = quend::welch_test(cm, {0, 1, 2}, {3, 4, 5});
    for (int i = 0; i < 3; ++i) {
        if (std::isnan(r1.pvalue[i])) {
            EXPECT_TRUE(std::isnan(r2.pvalue[i]));
        } else {
            EXPECT_DOUBLE_EQ(r1.pvalue[i], r2.pvalue[i]);
        }
    }
    // Item 0: means 2 and 8.333.., variances 1 and 2.333.. (scipy values)
    expect_rel(r1.statistic[0], -6.008327554319921, 1e-12);
    expect_rel(r1.pvalue[0], 0.006133406326682833, 1e-12);
    expect_rel(r1.df[0], 3.4482758620689653, 1e-12);
    // Item 1 keeps two values in group a after omitting the NaN.
    EXPECT_FALSE(std::isnan(r1.pvalue[1]));
    // Item 2: zero variance in both groups gives t = -inf, df falls back to 1, p = 0.
    EXPECT_TRUE(std::isinf(r1.statistic[2]));
    EXPECT_EQ(r1.df[2], 1.0);
    EXPECT_EQ(r1.pvalue[2], 0.0);
}

TEST(Welch, TooFewValuesGiveNaN) {
    std::vector<double> rows = {1, kNaN, 3, 4, 5};
    StridedMatrix rm{rows.data(), 1, 5, 5, 1};
    const auto r = quend::welch_test(rm, {0, 1}, {2, 3, 4});
    EXPECT_TRUE(std::isnan(r.pvalue[0]));
    const auto stats = quend::group_stats(rm, {0, 1});
    EXPECT_EQ(stats.count[0], 1.0);
    EXPECT_EQ(stats.mean[0], 1.0);
    EXPECT_TRUE(std::isnan(stats.var[0]));
}

TEST(Welch, EmptySampleListGivesNaN) {
    // Both memory layouts: rows (items outer) and columns (samples outer).
    std::vector<double> data = {1, 2, 3, 4, 5, 6};
    for (const StridedMatrix& m : {StridedMatrix{data.data(), 2, 3, 3, 1}, StridedMatrix{data.data(), 2, 3, 1, 2}}) {
        const auto stats = quend::group_stats(m, {});
        ASSERT_EQ(stats.count.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(stats.count[i], 0.0);
            EXPECT_TRUE(std::isnan(stats.mean[i]));
            EXPECT_TRUE(std::isnan(stats.var[i]));
        }
        EXPECT_TRUE(std::isnan(quend::welch_test(m, {}, {0, 1, 2}).pvalue[0]));
    }
}
