#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "core/group_tally.hpp"
#include "core/tally_recipe.hpp"

using quend::Stat;

TEST(TallyRecipe, NamesAreChecked) {
    EXPECT_EQ(quend::stat_named("mean"), Stat::mean);
    EXPECT_EQ(quend::stat_named("detected"), Stat::detected);
    EXPECT_THROW(quend::stat_named("median"), std::invalid_argument);
    EXPECT_STREQ(quend::recipe_info(Stat::mean).parts[1], "nan_count");
    EXPECT_EQ(quend::stat_named("count_nonzero"), Stat::count_nonzero);
    // The union holds each part once, in part order.
    const quend::PartSet u({Stat::var, Stat::mean, Stat::count_nonzero});
    EXPECT_EQ(u.size(), 4u);
    EXPECT_STREQ(u.name(2), "sum_sq");
    EXPECT_EQ(u.index(quend::Part::nonzero), 3u);
}

// For every statistic, intermediates of any cut of the rows into any
// groups add up to those of the whole: the tables of each piece, added in
// any grouping, finish to the table of one pass.
TEST(TallyRecipe, AnyCutAddsUpToTheWhole) {
    std::mt19937 rng(7);
    const std::size_t n_rows = 60, width = 4, n_groups = 5;
    std::vector<double> x(n_rows * width);
    std::uniform_real_distribution<double> u(-1.0, 2.0);
    for (double& v : x) v = u(rng) < 0.5 ? 0.0 : u(rng);
    x[7] = std::nan("");
    std::vector<std::int64_t> codes(n_rows), sizes(n_groups, 0);
    for (auto& c : codes) {
        c = static_cast<std::int64_t>(rng() % (n_groups + 1)) - 1;
        if (c >= 0) ++sizes[static_cast<std::size_t>(c)];
    }
    const quend::ColumnPlan plan = quend::plan_columns({width, {}});
    const auto cols = quend::block_columns(plan, 0, width);
    auto view = [&](std::size_t r0, std::size_t r1) {
        quend::BlockView b;
        b.n_rows = r1 - r0;
        b.n_cols = width;
        b.data = x.data() + r0 * width;
        b.row_stride = static_cast<std::ptrdiff_t>(width);
        b.col_stride = 1;
        return b;
    };
    // A tally's tables as a partial holding every group.
    std::vector<std::int64_t> all_groups(n_groups);
    for (std::size_t g = 0; g < n_groups; ++g) all_groups[g] = static_cast<std::int64_t>(g);
    auto as_partial = [&](quend::DenseTally& t) {
        quend::PartialView v;
        v.parts = t.parts;
        v.width = t.width;
        v.n_present = n_groups;
        v.groups = all_groups.data();
        for (std::size_t q = 0; q < t.parts.size(); ++q) v.part[q] = t.part[q];
        return v;
    };
    auto finished = [&](quend::TallyTable& t, Stat stat) {
        auto* v = static_cast<double*>(t.finish({{stat}, false}, sizes.data())[0].release());
        std::vector<double> out(v, v + n_groups * width);
        std::free(v);
        return out;
    };
    for (Stat stat : quend::kStats) {
        quend::TallyTable whole(stat, n_groups, width);
        quend::add_block(whole.tally(), view(0, n_rows), codes.data(), cols);
        const std::vector<double> want = finished(whole, stat);
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<std::unique_ptr<quend::TallyTable>> pieces;
            for (std::size_t r0 = 0; r0 < n_rows;) {
                const std::size_t r1 = std::min(n_rows, r0 + 1 + rng() % 15);
                pieces.push_back(std::make_unique<quend::TallyTable>(stat, n_groups, width));
                quend::add_block(pieces.back()->tally(), view(r0, r1), codes.data() + r0, cols);
                r0 = r1;
            }
            // Neighbours folded into two tables, then those into the whole.
            const std::size_t split = rng() % pieces.size();
            quend::TallyTable a(stat, n_groups, width), b(stat, n_groups, width), t(stat, n_groups, width);
            for (std::size_t p = 0; p < pieces.size(); ++p)
                quend::add_partial((p < split ? a : b).tally(), as_partial(pieces[p]->tally()), 0);
            quend::add_partial(t.tally(), as_partial(a.tally()), 0);
            quend::add_partial(t.tally(), as_partial(b.tally()), 0);
            const std::vector<double> got = finished(t, stat);
            for (std::size_t o = 0; o < want.size(); ++o) {
                if (std::isnan(want[o]))
                    EXPECT_TRUE(std::isnan(got[o]));
                else
                    EXPECT_NEAR(got[o], want[o], 1e-12 * std::abs(want[o]));
            }
        }
    }
}

// Variances as a one-pass tally forms them (sequential sum and sum of
// squares): a group constant at a value with no short binary form reads as
// constant, a group with a small real spread keeps it.
TEST(TallyRecipe, VarRoundingOfSumsOfSquaresReadsAsConstant) {
    const double n = 5000;
    std::vector<double> var;
    for (double spread : {0.0, 1e-5}) {
        double x[3] = {0.0, 0.0, 0.0};  // sum, nan_count, sum_sq
        for (int k = 0; k < n; ++k) {
            const double v = -0.3217 + spread * (k % 2);
            x[0] += v, x[2] += v * v;
        }
        EXPECT_GT(std::sqrt((x[2] - x[0] * (x[0] / n)) / (n - 1)), spread > 0 ? 0.0 : 1e-08);  // the rounding
        var.push_back(quend::Var::finish(x, static_cast<std::int64_t>(n)));
    }
    EXPECT_EQ(var[0], 0.0);
    EXPECT_NEAR(var[1], 0.25 * 1e-10 * 5000 / 4999, 1e-3 * 0.25e-10);
}

// A sparse block leaves unstored cells out, so every part's rule must leave
// its intermediates unchanged on adding zero: stored zeros and dense zeros
// tally as unstored cells do.
TEST(TallyRecipe, AddingZeroChangesNoPart) {
    const std::vector<double> zeros(6, 0.0);
    const std::vector<std::int64_t> codes = {0, 1, 0}, indptr = {0, 1, 1, 2}, none = {0, 0, 0, 0}, indices = {1, 0};
    const quend::ColumnPlan plan = quend::plan_columns({2, {}});
    const auto cols = quend::block_columns(plan, 0, 2);
    auto csr = [&](const std::vector<std::int64_t>& ptr, std::size_t n_data) {
        quend::BlockView b;
        b.form = quend::BlockView::csr;
        b.n_rows = 3;
        b.n_cols = 2;
        b.data = zeros.data();
        b.wide_index = true;
        b.indices = indices.data();
        b.indptr = ptr.data();
        b.n_data = b.n_indices = n_data;
        b.n_indptr = 4;
        return b;
    };
    quend::BlockView dense;
    dense.n_rows = 3;
    dense.n_cols = 2;
    dense.data = zeros.data();
    dense.row_stride = 2;
    dense.col_stride = 1;
    for (Stat stat : quend::kStats)
        for (const quend::BlockView& b : {dense, csr(indptr, 2), csr(none, 0)}) {
            quend::TallyTable t(stat, 2, 2);
            quend::add_block(t.tally(), b, codes.data(), cols);
            for (std::size_t p = 0; p < t.tally().parts.size(); ++p)
                for (std::size_t o = 0; o < 4; ++o)
                    EXPECT_EQ(t.tally().part[p][o], 0.0)
                        << quend::recipe_info(stat).name << " " << t.tally().parts.name(p);
        }
}
