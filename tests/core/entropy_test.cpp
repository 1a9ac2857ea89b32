#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/entropy.hpp"

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

TEST(Entropy, GroupedMatchesTheDenseTable) {
    // group, label per position; -1 skips; group 2 has no positions.
    const std::vector<std::int64_t> g = {0, 0, 1, 1, 1, 1, -1, 0, 3, 3, 1};
    const std::vector<std::int64_t> l = {5, 5, 0, 1, 2, 2, 4, 9, 7, -1, 0};
    const auto r = quend::grouped_entropy_bits(g.data(), l.data(), g.size(), 4);
    const std::vector<std::vector<std::int64_t>> dense = {{2, 1}, {2, 1, 2}, {}, {1}};
    ASSERT_EQ(r.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        const auto e = quend::shannon_entropy_bits(dense[k].data(), dense[k].size());
        EXPECT_EQ(r[k].bits, e.bits);
        EXPECT_EQ(r[k].n_nonzero, e.n_nonzero);
    }
}
