#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "core/group_keys.hpp"

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
