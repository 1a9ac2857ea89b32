#include <gtest/gtest.h>

#include <vector>

#include "core/multitest.hpp"

TEST(FdrBh, MatchesHandComputedValues) {
    const std::vector<double> p = {0.01, 0.04, 0.03, 0.2};
    const auto q = quend::fdr_bh(p);
    // sorted: .01 .03 .04 .2 -> .04 .06 .0533 .2 -> running min from the top
    EXPECT_DOUBLE_EQ(q[0], 0.04);
    EXPECT_DOUBLE_EQ(q[2], 0.04 / 0.75);
    EXPECT_DOUBLE_EQ(q[1], 0.04 / 0.75);
    EXPECT_DOUBLE_EQ(q[3], 0.2);
}

TEST(FdrBh, TiesShareOneValueAndResultIsCapped) {
    const auto q = quend::fdr_bh({0.9, 0.9, 0.9});
    for (double v : q) EXPECT_DOUBLE_EQ(v, 0.9);
    const auto capped = quend::fdr_bh({0.8, 1.0});
    EXPECT_LE(capped[0], 1.0);
    EXPECT_TRUE(quend::fdr_bh({}).empty());
}
