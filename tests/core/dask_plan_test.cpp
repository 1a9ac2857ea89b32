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

TEST(DaskPlan, FewGroupsGoDenseManyGoAsRows) {
    const Layout few(10, 5000, 100, false), many(10, 5000, 20000, false);
    const auto a = quend::plan_dask(few.in), b = quend::plan_dask(many.in);
    EXPECT_TRUE(std::all_of(a.dense.begin(), a.dense.end(), [](unsigned char d) { return d; }));
    EXPECT_TRUE(std::none_of(b.dense.begin(), b.dense.end(), [](unsigned char d) { return d; }));
    // Many cells per group, but a table far above cache size: rows.
    const Layout big(4, 50000, 2500, true, 5000);
    const auto c = quend::plan_dask(big.in);
    EXPECT_TRUE(std::none_of(c.dense.begin(), c.dense.end(), [](unsigned char d) { return d; }));
}

// Cells sorted by group: each task's own groups are finished from its
// pieces alone; only the groups cut by task bounds hear from two.
TEST(DaskPlan, SortedChunksFinishFromTheirOwnPieces) {
    const Layout sorted(8, 40000, 4000, true, 10);
    const auto plan = quend::plan_dask(sorted.in);
    ASSERT_EQ(plan.task_starts.size(), 9u);
    std::size_t own = 0;
    for (const auto& b : plan.blocks) {
        if (b.shared) {
            EXPECT_LE(b.g1 - b.g0, 8);
            continue;
        }
        ++own;
        ASSERT_EQ(b.steps.size(), 1u);
        ASSERT_EQ(b.steps[0].size(), 1u);
    }
    EXPECT_GE(own, 8u);
    // Each laid-out group's cells are counted by the plan.
    std::vector<std::int64_t> cells(4000, 0);
    for (std::int64_t c : sorted.codes) ++cells[static_cast<std::size_t>(c)];
    for (std::size_t p = 0; p < plan.group_at.size(); ++p)
        EXPECT_EQ(plan.sizes[p], cells[static_cast<std::size_t>(plan.group_at[p])]);
    // The layout is a permutation that keeps each task's groups in order.
    std::vector<std::int64_t> seen(plan.group_at);
    std::sort(seen.begin(), seen.end());
    for (std::size_t g = 0; g < seen.size(); ++g) EXPECT_EQ(seen[g], static_cast<std::int64_t>(g));
    for (std::size_t p = 1; p < plan.group_at.size(); ++p) {
        if (plan.group_at[p] > plan.group_at[p - 1]) continue;
        const auto at = static_cast<std::int64_t>(p);
        EXPECT_TRUE(std::any_of(plan.starts.begin(), plan.starts.end(), [&](std::int64_t s) { return s == at; }));
    }
}

// Every piece of a block is folded once, in a chain of few steps; a block
// without cells (an empty first chunk, groups without cells) still has
// one step that finishes it.
TEST(DaskPlan, ChainsFoldEachPieceOnce) {
    for (bool sorted : {true, false}) {
        Layout l(12, 40000, 30000, sorted, 500);
        l.in.tallied = {200, 0, 300};
        std::fill(l.codes.begin(), l.codes.begin() + 40000, -1);
        l.codes.back() = -1;
        const auto plan = quend::plan_dask(l.in);
        std::size_t pieces = 0;
        for (const auto& b : plan.blocks) {
            ASSERT_FALSE(b.steps.empty());
            EXPECT_LE(b.steps.size(), 8u);
            std::vector<std::pair<std::size_t, std::size_t>> seen;
            for (const auto& step : b.steps)
                for (const auto& p : step) {
                    EXPECT_NE(p.j, 1u);  // no tallied column there
                    EXPECT_NE(p.t, 0u);  // no labelled cell there
                    seen.emplace_back(p.t, p.j);
                }
            std::sort(seen.begin(), seen.end());
            EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end()) == seen.end());
            pieces += seen.size();
        }
        EXPECT_GE(pieces, 11u * 2);
    }
}

// Tiny row chunks are read several at a time, never past the values bound;
// chains split as evenly as they can.
TEST(DaskPlan, TinyChunksAreJoined) {
    const std::vector<std::size_t> rows(100, 1000);
    const auto joined = quend::join_row_chunks(rows, 50, 32768, 1u << 30);
    EXPECT_EQ(joined.size(), 5u);  // 33, 33, 33 and 1 chunks
    EXPECT_EQ(joined[1], 33);
    EXPECT_EQ(joined.back(), 100);
    const auto wide = quend::join_row_chunks(rows, 20000, 32768, 64u << 20);
    EXPECT_EQ(wide[1], 3);  // 3,000 x 20,000 values fit, 4,000 do not
    EXPECT_EQ(quend::join_row_chunks({50000, 50000}, 10, 32768, 1u << 30), (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(quend::chain_steps(10, 4), (std::vector<std::size_t>{0, 2, 5, 7, 10}));
    EXPECT_EQ(quend::chain_steps(2, 8), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(quend::chain_steps(0, 8), (std::vector<std::size_t>{0}));
}
