#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/group_counts.hpp"

TEST(GroupCounts, CrossCountsSkipMissing) {
    const std::vector<std::int64_t> a = {0, 1, 1, -1, 0, 1};
    const std::vector<std::int64_t> b = {2, 0, 0, 1, -1, 2};
    EXPECT_EQ(quend::cross_counts(a.data(), b.data(), a.size(), 2, 3), (std::vector<std::int64_t>{0, 0, 1, 2, 0, 1}));
    EXPECT_EQ(quend::code_counts(a.data(), a.size(), 2), (std::vector<std::int64_t>{2, 3}));
    const std::vector<double> flags = {1.0, NAN, 1.0, 1.0, 0.0, 1.0};
    EXPECT_EQ(quend::code_sums(a.data(), flags.data(), a.size(), 2), (std::vector<double>{1.0, 2.0}));
    std::vector<std::int64_t> c = {2, 0, -1, 1};
    quend::remap_codes(c.data(), c.size(), {1, 2, 0});
    EXPECT_EQ(c, (std::vector<std::int64_t>{0, 1, -1, 2}));
}
