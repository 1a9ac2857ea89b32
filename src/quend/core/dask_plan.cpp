#include "core/dask_plan.hpp"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <tuple>

namespace quend {

namespace {

// A row chunk reads as dense rows when its groups hold this many cells each
// on average (most of their pairs are then touched anyway), and when its
// table stays about cache-sized: a larger one is scattered into at random,
// while compressed partials visit each group's rows together.
constexpr std::size_t kCellsPerGroup = 16;
constexpr std::size_t kDenseTableBytes = 16u << 20;

void plan_block_merges(DaskPlan& plan, const DaskPlanInput& in) {
    for (DaskBlock& b : plan.blocks) {
        std::vector<std::size_t> bytes;
        for (const DaskPiece& p : b.pieces) bytes.push_back(p.bytes);
        const std::size_t cap = static_cast<std::size_t>(b.g1 - b.g0) * in.width * plan.pair_bytes;
        b.merges = plan_merges(std::move(bytes), in.merge_bytes, cap);
    }
}

}  // namespace

MergeLevels plan_merges(std::vector<std::size_t> bytes, std::size_t budget, std::size_t cap) {
    MergeLevels levels;
    auto total = [&] { return std::accumulate(bytes.begin(), bytes.end(), std::size_t{0}); };
    while (bytes.size() > 1 && total() > budget) {
        std::vector<std::pair<std::size_t, std::size_t>> ranges;
        std::vector<std::size_t> next;
        const std::size_t n = bytes.size();
        for (std::size_t a = 0; a < n;) {
            std::size_t e = a + 1, sum = bytes[a];
            while (e < n && (e - a < 2 || sum + bytes[e] <= budget)) sum += bytes[e++];
            ranges.emplace_back(a, e);
            next.push_back(e - a == 1 ? sum : std::min(sum, cap));
            a = e;
        }
        levels.push_back(std::move(ranges));
        bytes = std::move(next);
    }
    return levels;
}

DaskPlan plan_dask(const DaskPlanInput& in) {
    const std::size_t G = in.n_groups, n_chunks = in.rows.size();
    DaskPlan plan;
    plan.pair_bytes = in.parts.pair_bytes();
    const std::size_t dense_bytes = 8 * in.parts.size();

    // The row chunks each group is held by.
    constexpr std::int64_t kNone = -1;
    std::vector<std::int64_t> first(G, kNone), last(G, kNone);
    std::size_t r0 = 0;
    for (std::size_t i = 0; i < n_chunks; ++i) {
        for (std::size_t r = r0; r < r0 + in.rows[i]; ++r) {
            const std::int64_t g = in.codes[r];
            if (g < 0) continue;
            if (static_cast<std::size_t>(g) >= G) throw std::invalid_argument("group code out of range");
            if (first[g] == kNone) first[g] = static_cast<std::int64_t>(i);
            last[g] = static_cast<std::int64_t>(i);
        }
        r0 += in.rows[i];
    }

    // Layout: each chunk's own groups, then shared ones, then groups without
    // cells; blocks never mix those classes nor two chunks' own groups.
    auto cls = [&](std::int64_t g) { return first[g] == kNone ? 2 : first[g] == last[g] ? 0 : 1; };
    auto key = [&](std::int64_t g) {
        const int c = cls(g);
        return std::make_tuple(c, c == 0 ? first[g] : 0, g);
    };
    plan.group_at.resize(G);
    std::iota(plan.group_at.begin(), plan.group_at.end(), 0);
    std::sort(plan.group_at.begin(), plan.group_at.end(),
              [&](std::int64_t a, std::int64_t b) { return key(a) < key(b); });
    plan.laid_out.assign(G, 0);
    for (std::size_t p = 0; p < G; ++p) plan.laid_out[plan.group_at[p]] = static_cast<std::int64_t>(p);

    const std::size_t per_block = std::max<std::size_t>(1, in.slice_bytes / std::max<std::size_t>(1, in.width * 8));
    std::vector<std::size_t> block_at(G);
    for (std::size_t p = 0; p < G;) {
        const std::int64_t g = plan.group_at[p];
        std::size_t e = p + 1;
        while (e < G && e - p < per_block && cls(plan.group_at[e]) == cls(g) &&
               (cls(g) != 0 || first[plan.group_at[e]] == first[g]))
            ++e;
        DaskBlock b;
        b.g0 = static_cast<std::int64_t>(p);
        b.g1 = static_cast<std::int64_t>(e);
        b.shared = cls(g) == 1;
        for (std::size_t q = p; q < e; ++q) block_at[q] = plan.blocks.size();
        plan.starts.push_back(b.g0);
        plan.blocks.push_back(std::move(b));
        p = e;
    }

    // Per row chunk: the cells and groups it holds of each block.
    const std::size_t n_blocks = plan.blocks.size();
    std::vector<std::size_t> cells(n_blocks, 0), present(n_blocks, 0), touched;
    std::vector<std::int64_t> seen(G, kNone);
    plan.dense.assign(n_chunks, 0);
    const std::size_t widest = in.tallied.empty() ? 0 : *std::max_element(in.tallied.begin(), in.tallied.end());
    r0 = 0;
    for (std::size_t i = 0; i < n_chunks; ++i) {
        touched.clear();
        std::size_t n_cells = 0, n_present = 0;
        for (std::size_t r = r0; r < r0 + in.rows[i]; ++r) {
            const std::int64_t g = in.codes[r];
            if (g < 0) continue;
            const std::size_t b = block_at[static_cast<std::size_t>(plan.laid_out[g])];
            if (cells[b]++ == 0) touched.push_back(b);
            ++n_cells;
            if (seen[g] != static_cast<std::int64_t>(i)) {
                seen[g] = static_cast<std::int64_t>(i);
                ++present[b];
                ++n_present;
            }
        }
        const bool dense = n_present * kCellsPerGroup <= n_cells &&
                           n_present * widest * dense_bytes <= std::min(kDenseTableBytes, in.merge_bytes / 2);
        plan.dense[i] = dense;
        std::sort(touched.begin(), touched.end());
        for (std::size_t b : touched) {
            for (std::size_t j = 0; j < in.tallied.size(); ++j) {
                if (in.tallied[j] == 0) continue;
                DaskPiece piece;
                piece.i = i;
                piece.j = j;
                piece.cells = cells[b];
                piece.present = present[b];
                piece.bytes = present[b] * in.tallied[j] * (dense ? dense_bytes : plan.pair_bytes);
                plan.blocks[b].pieces.push_back(piece);
            }
            cells[b] = present[b] = 0;
        }
        r0 += in.rows[i];
    }
    plan_block_merges(plan, in);
    return plan;
}

}  // namespace quend
