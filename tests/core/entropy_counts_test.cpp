#include <gtest/gtest.h>

#include "core/pairwise_sum.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/entropy.hpp"
#include "core/group_counts.hpp"

TEST(Entropy, KnownDistributions) {
    const std::vector<std::int64_t> one = {0, 7, 0};
    const std::vector<std::int64_t> even = {10, 10, 10};
    const std::vector<std::int64_t> half = {1, 2, 1};  // 2:1:1 -> 1.5 exactly
    const std::vector<std::int64_t> none = {0, 0};
    auto h1 = quend::shannon_entropy_bits(one.data(), one.size());
    EXPECT_EQ(h1.bits, 0.0);
    EXPECT_FALSE(std::signbit(h1.bits));
    EXPECT_EQ(h1.n_nonzero, 1);
    EXPECT_DOUBLE_EQ(quend::shannon_entropy_bits(even.data(), 3).bits, std::log2(3.0));
    EXPECT_EQ(quend::shannon_entropy_bits(half.data(), 3).bits, 1.5);
    auto h0 = quend::shannon_entropy_bits(none.data(), 2);
    EXPECT_EQ(h0.bits, 0.0);
    EXPECT_EQ(h0.n_nonzero, 0);
}

TEST(Entropy, NumpySumBlocking) {
    // Past eight values numpy sums in eight lanes, past 128 in halves.
    // Sequential addition loses every 1.0 against 1e16; the lanes keep them.
    std::vector<double> v = {1e16, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, -1e16};
    EXPECT_EQ(quend::pairwise_sum(v.data(), v.size()), 6.0);
    EXPECT_EQ(quend::pairwise_sum(v.data(), 0), 0.0);
    EXPECT_EQ(quend::pairwise_sum(v.data() + 1, 2), 2.0);
}

TEST(GroupCounts, CrossCountsSkipMissing) {
    const std::vector<std::int64_t> a = {0, 1, 1, -1, 0, 1};
    const std::vector<std::int64_t> b = {2, 0, 0, 1, -1, 2};
    EXPECT_EQ(quend::cross_counts(a.data(), b.data(), a.size(), 2, 3),
              (std::vector<std::int64_t>{0, 0, 1, 2, 0, 1}));
    EXPECT_EQ(quend::code_counts(a.data(), a.size(), 2), (std::vector<std::int64_t>{2, 3}));
    const std::vector<double> flags = {1.0, NAN, 1.0, 1.0, 0.0, 1.0};
    EXPECT_EQ(quend::code_sums(a.data(), flags.data(), a.size(), 2), (std::vector<double>{1.0, 2.0}));
    std::vector<std::int64_t> c = {2, 0, -1, 1};
    quend::remap_codes(c.data(), c.size(), {1, 2, 0});
    EXPECT_EQ(c, (std::vector<std::int64_t>{0, 1, -1, 2}));
}
