#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "core/group_expression.hpp"
#include "core/tally_merge.hpp"

using quend::ColumnSelection;
using quend::GroupTallies;

namespace {

// 4 cells x 3 genes, groups 0,1,0,-1.
const std::vector<double> kX = {1.0, 0.0, 2.0,  //
                                0.0, 3.0, 0.0,  //
                                4.0, 5.0, 0.0,  //
                                7.0, 7.0, 7.0};
const std::vector<std::int64_t> kCodes = {0, 1, 0, -1};

GroupTallies dense(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
    ColumnSelection all{c1 - c0, {}};
    return quend::tally_dense(kX.data() + r0 * 3 + c0, r1 - r0, c1 - c0, 3, 1, kCodes.data() + r0, 2, all, true);
}

TEST(TallyMerge, RowBlocksAndColumnWindowsAddUpToTheWhole) {
    const GroupTallies whole = dense(0, 4, 0, 3);
    GroupTallies acc = quend::empty_tallies(2, 3, true);
    // Rows [0,1) and [1,4); the second row block split into genes [0,2) and [2,3).
    quend::add_tallies(acc, dense(0, 1, 0, 3));
    quend::add_tallies(acc, quend::widen_tallies(dense(1, 4, 0, 2), {0, 1}, 3, true));
    quend::add_tallies(acc, quend::widen_tallies(dense(1, 4, 2, 3), {2}, 3, false));
    EXPECT_EQ(acc.group_size, whole.group_size);
    EXPECT_EQ(acc.positive, whole.positive);
    EXPECT_EQ(acc.sum, whole.sum);
    EXPECT_EQ(acc.missing, whole.missing);
    EXPECT_EQ(quend::empty_tallies(2, 0, false, kCodes.data(), 4).group_size, whole.group_size);
    GroupTallies narrow = quend::empty_tallies(2, 2, true);
    EXPECT_THROW(quend::add_tallies(acc, narrow), std::invalid_argument);
}

TEST(TallyMerge, CompressedLayoutCheck) {
    bool canonical = false;
    const std::vector<std::int32_t> ok_ix = {0, 2, 1};
    const std::vector<std::int64_t> ok_ip = {0, 2, 2, 3};
    EXPECT_EQ(quend::check_compressed(ok_ix.data(), ok_ip.data(), 3, 3, 3, canonical), "");
    EXPECT_TRUE(canonical);
    const std::vector<std::int32_t> dup = {2, 2, 1};
    EXPECT_EQ(quend::check_compressed(dup.data(), ok_ip.data(), 3, 3, 3, canonical), "");
    EXPECT_FALSE(canonical);
    for (std::int32_t bad : {-1, 3}) {
        const std::vector<std::int32_t> ix = {0, bad, 1};
        EXPECT_NE(quend::check_compressed(ix.data(), ok_ip.data(), 3, 3, 3, canonical), "");
    }
    const std::vector<std::int64_t> decreasing = {0, 2, 1, 3}, short_end = {0, 1, 2, 2}, late_start = {1, 2, 2, 3},
                                    overshoot = {0, 5, 2, 3};
    for (const auto* ip : {&decreasing, &short_end, &late_start, &overshoot})
        EXPECT_NE(quend::check_compressed(ok_ix.data(), ip->data(), 3, 3, 3, canonical), "");
}

}  // namespace
