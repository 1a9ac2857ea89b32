#include <gtest/gtest.h>

#include <vector>

#include "core/pairwise_sum.hpp"

TEST(PairwiseSum, FollowsNumpyOrder) {
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

TEST(PairwiseSum, NumpyLaneBlocking) {
    // Past eight values numpy sums in eight lanes, past 128 in halves.
    // Sequential addition loses every 1.0 against 1e16; the lanes keep them.
    std::vector<double> v = {1e16, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, -1e16};
    EXPECT_EQ(quend::pairwise_sum(v.data(), v.size()), 6.0);
    EXPECT_EQ(quend::pairwise_sum(v.data(), 0), 0.0);
    EXPECT_EQ(quend::pairwise_sum(v.data() + 1, 2), 2.0);
}
