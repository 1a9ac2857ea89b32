#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "core/group_counts.hpp"
#include "core/group_keys.hpp"

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

// Combinations numbered by first appearance; a missing key drops the cell;
// many labels take the hash map and give the same groups.
TEST(GroupKeys, CombinesKeysInFirstAppearanceOrder) {
    const std::vector<std::int64_t> a = {1, 0, 1, 1, -1, 0}, b = {2, 0, 2, 0, 1, 0};
    for (std::size_t extra : {0u, 1000000u}) {
        const quend::CellGroups g = quend::combine_keys({a.data(), b.data()}, {2 + extra, 3 + extra}, a.size());
        EXPECT_EQ(g.codes, (std::vector<std::int64_t>{0, 1, 0, 2, -1, 1}));
        EXPECT_EQ(g.first, (std::vector<std::int64_t>{0, 1, 3}));
        EXPECT_EQ(g.size, (std::vector<std::int64_t>{2, 2, 1}));
    }
    quend::CellGroups g = quend::combine_keys({a.data()}, {2}, a.size());
    const std::vector<std::int64_t> same = {5, -1, 5, 5, 0, -1}, differ = {5, -1, 5, 4, 0, -1};
    EXPECT_TRUE(quend::constant_within(same.data(), g));
    EXPECT_FALSE(quend::constant_within(differ.data(), g));
    quend::keep_groups_of_at_least(g, 3);
    EXPECT_EQ(g.codes, (std::vector<std::int64_t>{0, -1, 0, 0, -1, -1}));
    EXPECT_EQ(g.first, (std::vector<std::int64_t>{0}));
    EXPECT_THROW(quend::combine_keys({a.data()}, {1}, a.size()), std::invalid_argument);
}
