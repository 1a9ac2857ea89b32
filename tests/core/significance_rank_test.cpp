#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/significance_rank.hpp"

using quend::StridedMatrix;

namespace {

StridedMatrix row_major(const std::vector<double>& v, std::size_t rows, std::size_t cols) {
    StridedMatrix m;
    m.data = v.data();
    m.n_items = rows;
    m.n_samples = cols;
    m.item_stride = static_cast<std::ptrdiff_t>(cols);
    m.sample_stride = 1;
    return m;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(SignificanceRank, CountFirstThenProduct) {
    // rows: one hit (tiny p), two hits, no hit, two hits with smaller product
    const std::vector<double> p = {1e-30, 0.9,   //
                                   0.04,  0.03,  //
                                   0.2,   0.5,   //
                                   0.01,  0.02};
    const auto order = quend::rank_by_significance(row_major(p, 4, 2), 0.05);
    EXPECT_EQ(order, (std::vector<std::size_t>{3, 1, 0}));
}

TEST(SignificanceRank, CutoffIsInclusiveAndNaNCountsAsOne) {
    const std::vector<double> p = {0.05, kNaN,  //
                                   kNaN, kNaN};
    const auto order = quend::rank_by_significance(row_major(p, 2, 2), 0.05);
    EXPECT_EQ(order, (std::vector<std::size_t>{0}));
}

TEST(SignificanceRank, TiesKeepItemOrder) {
    const std::vector<double> p = {0.01, 0.5,   //
                                   0.5,  0.01,  //
                                   0.01, 0.5};
    const auto order = quend::rank_by_significance(row_major(p, 3, 2), 0.05);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(SignificanceRank, UnderflowingProductsStayDistinct) {
    // Both plain products underflow to zero; the exact products differ.
    const std::vector<double> p = {1e-200, 1e-200, 1e-100,  //
                                   1e-200, 1e-200, 1e-150,  //
                                   1e-300, 1e-10,  0.01};
    const auto order = quend::rank_by_significance(row_major(p, 3, 3), 0.05);
    EXPECT_EQ(order, (std::vector<std::size_t>{1, 0, 2}));
}

TEST(SignificanceRank, ExactZeroRanksFirstAndTies) {
    // one significant comparison each; row 0's product is subnormal
    const std::vector<double> p = {1e-320, 0.5,  //
                                   0.0,    0.5,  //
                                   0.3,    0.0};
    const auto order = quend::rank_by_significance(row_major(p, 3, 2), 0.05);
    EXPECT_EQ(order, (std::vector<std::size_t>{1, 2, 0}));
}

TEST(SignificanceRank, ColumnMajorViewGivesSameOrder) {
    const std::vector<double> rows = {0.04, 0.2,  0.001,  //
                                      0.01, 0.01, 0.9};
    // same 3 items x 2 comparisons laid out comparison-major
    StridedMatrix m;
    m.data = rows.data();
    m.n_items = 3;
    m.n_samples = 2;
    m.item_stride = 1;
    m.sample_stride = 3;
    EXPECT_EQ(quend::rank_by_significance(m, 0.05), (std::vector<std::size_t>{0, 2, 1}));
}

TEST(PProduct, MatchesPlainProductInRangeAndTracksExponentBelowIt) {
    const double p[] = {0.5, 0.25, 0.3};
    const auto a = quend::p_product(p, 3, 1);
    EXPECT_DOUBLE_EQ(std::ldexp(a.mantissa, static_cast<int>(a.exponent)), 0.5 * 0.25 * 0.3);
    EXPECT_EQ(a.value, 0.5 * 0.25 * 0.3);

    const double q[] = {1e-300, 1e-300, 1e-300};
    const auto b = quend::p_product(q, 3, 1);
    EXPECT_EQ(b.value, 0.0);
    EXPECT_FALSE(b.zero);
    // log10 of the exact product is -900
    const double log10_prod = std::log10(b.mantissa) + static_cast<double>(b.exponent) * std::log10(2.0);
    EXPECT_NEAR(log10_prod, -900.0, 1e-9);
}
