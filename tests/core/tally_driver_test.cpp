#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "core/tally_budget.hpp"
#include "core/tally_driver.hpp"

using quend::BlockView;
using quend::Stat;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Every size follows the one budget; a worker's limit bounds the merge and,
// through it, the slice; nothing overflows.
TEST(TallyBudget, DerivesEverySize) {
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    const std::size_t cases[][5] = {{32 * kMiB, 0, 32 * kMiB, 128 * kMiB, 1024 * kMiB},
                                    {32 * kMiB, 256 * kMiB, 32 * kMiB, 16 * kMiB, 64 * kMiB},
                                    {0, 0, 1, 4, 32},
                                    {huge, 0, huge, huge / 4, huge}};
    for (const auto& c : cases) {
        const quend::TallyBudget b = quend::tally_budget(c[0], c[1]);
        EXPECT_EQ((std::vector<std::size_t>{b.block_bytes, b.slice_bytes, b.merge_bytes}),
                  (std::vector<std::size_t>{c[2], c[3], c[4]}))
            << c[0] << " " << c[1];
    }
}

// 4 cells x 3 genes, groups 0, 1, 0, -1.
const std::vector<double> kX = {1, 0, 2,  //
                                0, 3, 0,  //
                                4, 0, 0,  //
                                9, 9, 9};
const std::vector<std::int64_t> kCodes = {0, 1, 0, -1};

BlockView rows_of(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) {
    BlockView b;
    b.n_rows = r1 - r0;
    b.n_cols = c1 - c0;
    b.data = kX.data() + r0 * 3 + c0;
    b.row_stride = 3;
    b.col_stride = 1;
    return b;
}

std::vector<double> sums(const std::vector<std::pair<std::size_t, std::size_t>>& row_cuts,
                         const std::vector<std::pair<std::size_t, std::size_t>>& col_cuts,
                         const quend::ColumnSelection& sel) {
    quend::TallyDriver pass({{Stat::sum}, false}, {kCodes.data(), 4, 2}, sel, 4, 3);
    for (auto [r0, r1] : row_cuts)
        for (auto [c0, c1] : col_cuts) pass.add(rows_of(r0, r1, c0, c1), {r0, c0});
    auto* v = static_cast<double*>(pass.finish()[0].release());
    std::vector<double> out(v, v + 2 * pass.width());
    std::free(v);
    return out;
}

// Blocks of any cut, at any place, give the whole matrix's table; the
// selection is the driver's own.
TEST(TallyDriver, BlocksLandWhereTheySit) {
    const std::vector<double> whole = {5, 0, 2, 0, 3, 0};
    EXPECT_EQ(sums({{0, 4}}, {{0, 3}}, {3, {}}), whole);
    EXPECT_EQ(sums({{0, 1}, {1, 3}, {3, 4}}, {{0, 3}}, {3, {}}), whole);
    EXPECT_EQ(sums({{0, 4}}, {{0, 2}, {2, 3}}, {3, {}}), whole);
    EXPECT_EQ(sums({{0, 2}, {2, 4}}, {{0, 1}, {1, 3}}, {3, {2, 0}}), (std::vector<double>{2, 5, 0, 0}));
}

TEST(TallyDriver, RefusesWhatDoesNotFit) {
    const quend::CellCodes cells{kCodes.data(), 4, 2};
    const quend::TallyRequest req{{Stat::sum}, false};
    for (const auto& [sel, n_rows, message] :
         {std::tuple{quend::ColumnSelection{3, {}}, 5, "adata.X has 5 rows but obs has 4 cells"},
          std::tuple{quend::ColumnSelection{2, {}}, 4, "adata.X has 3 columns but var has 2 genes"}}) {
        try {
            quend::TallyDriver(req, cells, sel, n_rows, 3);
            ADD_FAILURE() << message;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    quend::TallyDriver pass(req, cells, {3, {}}, 4, 3);
    EXPECT_THROW(pass.add(rows_of(0, 2, 0, 3), {3, 0}), std::invalid_argument);
    EXPECT_THROW(pass.add(rows_of(0, 2, 1, 3), {0, 2}), std::invalid_argument);
}

}  // namespace
