#include <gtest/gtest.h>

#include "core/pairwise_sum.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "core/student_t.hpp"
#include "core/welch.hpp"

using quend::StridedMatrix;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_rel(double got, double want, double rel) {
    EXPECT_NEAR(got, want, std::fabs(want) * rel) << "got " << got << " want " << want;
}
}  // namespace

TEST(StudentT, KnownTailValues) {
    // Reference values from the Student-t distribution function.
    expect_rel(quend::student_t_two_sided_p(2.0, 10.0), 0.073388034770740, 1e-12);
    expect_rel(quend::student_t_two_sided_p(-1.0, 1.0), 0.5, 1e-13);
    expect_rel(quend::student_t_two_sided_p(0.5, 3.5), 0.6468504393225509, 1e-12);
    expect_rel(quend::student_t_two_sided_p(50.0, 20.0), 1.7533380449242275e-22, 1e-11);
    EXPECT_EQ(quend::student_t_two_sided_p(0.0, 5.0), 1.0);
    EXPECT_EQ(quend::student_t_two_sided_p(INFINITY, 5.0), 0.0);
    EXPECT_TRUE(std::isnan(quend::student_t_two_sided_p(kNaN, 5.0)));
}

TEST(StudentT, TinyProbabilitiesKeepRelativePrecision) {
    // Far tail: p = 2 * sf, must not flush to zero or lose digits.
    const double p = quend::student_t_two_sided_p(1e6, 4.0);
    EXPECT_GT(p, 0.0);
    EXPECT_LT(p, 1e-20);
    const double q = quend::student_t_two_sided_p(1e6 * 1.0000001, 4.0);
    EXPECT_LT(q, p);  // still strictly monotone out there
}

TEST(StudentT, LargeDegreesOfFreedomKeepRelativePrecision) {
    // Reference values from 40-digit arithmetic. Forming the beta prefactor
    // as a difference of large lgamma values lost ~1e-11 at df = 1e4.
    expect_rel(quend::student_t_two_sided_p(2.5, 1e4), 0.012435219550583697, 1e-12);
    expect_rel(quend::student_t_two_sided_p(1.2, 3e5), 0.23014028807051492, 1e-11);
    expect_rel(quend::student_t_two_sided_p(8.0, 1e5), 1.2573919876256374e-15, 1e-11);
    expect_rel(quend::student_t_two_sided_p(30.0, 4.5e5), 1.5396665904476195e-197, 1e-11);
    expect_rel(quend::student_t_two_sided_p(25.0, 150.5), 1.8932553150959551e-55, 1e-12);
    expect_rel(quend::student_t_two_sided_p(1.7, 193.49916710062845), 0.090737694980087064, 1e-13);
    // Near t = 0 the two-sided tail is 1 - 2 atan(t) / pi for df = 1.
    expect_rel(quend::student_t_two_sided_p(1e-8, 1.0), 0.99999999363380228, 1e-15);
}

TEST(Welch, PairwiseSumFollowsNumpyOrder) {
    // 1e16 + 1 + ... : the association decides which small terms survive.
    std::vector<double> v(20, 1.0);
    v[0] = 1e16;
    // numpy.sum gives 1e16 + 16 here (8 accumulators, then the rest in turn);
    // a plain running sum would give 1e16.
    EXPECT_EQ(quend::pairwise_sum(v.data(), v.size()), 1e16 + 16.0);
    std::vector<double> small = {1e16, 1.0, 1.0, 1.0};
    EXPECT_EQ(quend::pairwise_sum(small.data(), small.size()), 1e16);  // sequential below 8
    EXPECT_EQ(quend::pairwise_sum(nullptr, 0), 0.0);
}

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
    std::vector<double> rows = {1, 2, 3, 7, 8, 10,      //
                                5, kNaN, 6, 1, 1.5, 2,  //
                                0, 0, 0, 1, 1, 1};
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
