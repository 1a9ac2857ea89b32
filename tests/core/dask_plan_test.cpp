#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "core/dask_plan.hpp"

using quend::DaskPlanInput;
using quend::Stat;

namespace {

// `n_chunks` row chunks of `per_chunk` cells over `n_groups` groups, sorted
// by group or shuffled.
struct Layout {
    std::vector<std::int64_t> codes;
    DaskPlanInput in;
    Layout(std::size_t n_chunks, std::size_t per_chunk, std::size_t n_groups, bool sorted, std::size_t width = 1000) {
        codes.resize(n_chunks * per_chunk);
        for (std::size_t r = 0; r < codes.size(); ++r)
            codes[r] = static_cast<std::int64_t>(r * n_groups / codes.size());
        if (!sorted) std::shuffle(codes.begin(), codes.end(), std::mt19937(3));
        in.rows.assign(n_chunks, per_chunk);
        in.tallied = {width};
        in.codes = codes.data();
        in.n_groups = n_groups;
        in.width = width;
        in.parts = Stat::mean;
        in.merge_bytes = 64u << 20;
        in.slice_bytes = 16u << 20;
    }
};

}  // namespace

TEST(DaskPlan, FewGroupsGoDenseManyGoCompressed) {
    const Layout few(10, 5000, 100, false), many(10, 5000, 20000, false);
    const auto a = quend::plan_dask(few.in), b = quend::plan_dask(many.in);
    EXPECT_TRUE(std::all_of(a.dense.begin(), a.dense.end(), [](unsigned char d) { return d; }));
    EXPECT_TRUE(std::none_of(b.dense.begin(), b.dense.end(), [](unsigned char d) { return d; }));
    // Many cells per group, but a table far above cache size: compressed.
    const Layout big(4, 50000, 2500, true, 5000);
    const auto c = quend::plan_dask(big.in);
    EXPECT_TRUE(std::none_of(c.dense.begin(), c.dense.end(), [](unsigned char d) { return d; }));
    // Dense pieces are sized exactly: groups x columns x two intermediates.
    EXPECT_EQ(a.blocks[0].pieces[0].bytes, 100u * 1000 * 16);
}

// Cells sorted by group: each chunk's own groups are finished from its
// piece alone; only the groups cut by chunk bounds hear from two chunks.
TEST(DaskPlan, SortedChunksFinishWithoutAMerge) {
    const Layout sorted(8, 1000, 4000, true, 10);
    const auto plan = quend::plan_dask(sorted.in);
    std::size_t own = 0;
    for (const auto& b : plan.blocks) {
        if (b.shared) {
            EXPECT_LE(b.g1 - b.g0, 8);
            continue;
        }
        ++own;
        ASSERT_EQ(b.pieces.size(), 1u);
        EXPECT_TRUE(b.merges.empty());
    }
    EXPECT_GE(own, 8u);
    // The layout is a permutation that keeps each chunk's groups in order.
    std::vector<std::int64_t> seen(plan.group_at);
    std::sort(seen.begin(), seen.end());
    for (std::size_t g = 0; g < seen.size(); ++g) EXPECT_EQ(seen[g], static_cast<std::int64_t>(g));
    for (std::size_t p = 1; p < plan.group_at.size(); ++p) {
        if (plan.group_at[p] > plan.group_at[p - 1]) continue;
        const auto at = static_cast<std::int64_t>(p);
        EXPECT_TRUE(std::any_of(plan.starts.begin(), plan.starts.end(), [&](std::int64_t s) { return s == at; }));
    }
}

// Whatever the layout, no merge and no finish takes more than the budget,
// unless it merges two pieces that are each within it; bounds come from
// every chunk (an empty first chunk included).
TEST(DaskPlan, ByteBoundsHold) {
    for (bool sorted : {true, false}) {
        Layout l(12, 4000, 30000, sorted, 500);
        std::fill(l.codes.begin(), l.codes.begin() + 4000, -1);  // the first chunk holds no labelled cell
        l.in.merge_bytes = 8u << 20;
        const auto plan = quend::plan_dask(l.in);
        for (const auto& b : plan.blocks) {
            std::vector<std::size_t> bytes;
            for (const auto& p : b.pieces) bytes.push_back(p.bytes);
            for (const auto& level : b.merges) {
                std::vector<std::size_t> next;
                for (const auto& [a, e] : level) {
                    std::size_t sum = 0;
                    for (std::size_t q = a; q < e; ++q) sum += bytes[q];
                    if (e - a > 2) {
                        EXPECT_LE(sum, l.in.merge_bytes);
                    }
                    next.push_back(sum);
                }
                bytes = next;
            }
            if (bytes.size() > 1) {
                EXPECT_LE(std::accumulate(bytes.begin(), bytes.end(), std::size_t{0}), l.in.merge_bytes);
            }
        }
    }
    // Merges start once pieces outgrow the budget, and pair at least two.
    const auto levels = quend::plan_merges({5, 5, 5, 5, 5}, 10, 100);
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels[0].front(), (std::pair<std::size_t, std::size_t>{0, 2}));
    EXPECT_TRUE(quend::plan_merges({5, 5}, 10, 100).empty());
}
