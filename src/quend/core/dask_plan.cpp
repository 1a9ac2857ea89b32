#include "core/dask_plan.hpp"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <tuple>

namespace quend {

namespace {

// A task's pieces are dense when its groups hold this many cells each on
// average (most of their pairs are then touched anyway), and when the table
// stays about cache-sized: a larger one is scattered into at random.
constexpr std::size_t kCellsPerGroup = 16;
constexpr std::size_t kDenseTableBytes = 16u << 20;
// Tiny row chunks are read this many cells at a time, at most this many
// values (rows x columns) per task.
constexpr std::size_t kTaskCells = 32768;
constexpr std::size_t kTaskValues = std::size_t{64} << 20;
// Steps of one fold chain: each waits for its pieces, so fewer steps hold
// more pieces in flight, more steps cost more tasks (32 steps held 4 % less
// on the 10M-cell atlas shuffled, but took a third longer on 1M x 5k at
// 50,000 shuffled groups).
constexpr std::size_t kChainSteps = 8;

constexpr std::int64_t kNone = -1;

// The first and last task holding each group, and its cells.
struct Holders {
    std::vector<std::int64_t> first, last, cells;
    int cls(std::int64_t g) const { return first[g] == kNone ? 2 : first[g] == last[g] ? 0 : 1; }
};

// Cells of task t: [row bounds of its chunks).
std::vector<std::size_t> task_cells(const DaskPlanInput& in, const std::vector<std::int64_t>& task_starts) {
    std::vector<std::size_t> cells(task_starts.size() - 1, 0);
    for (std::size_t t = 0; t + 1 < task_starts.size(); ++t)
        for (auto i = task_starts[t]; i < task_starts[t + 1]; ++i) cells[t] += in.rows[static_cast<std::size_t>(i)];
    return cells;
}

Holders holders(const DaskPlanInput& in, const std::vector<std::size_t>& cells) {
    Holders h{std::vector<std::int64_t>(in.n_groups, kNone), std::vector<std::int64_t>(in.n_groups, kNone),
              std::vector<std::int64_t>(in.n_groups, 0)};
    std::size_t r = 0;
    for (std::size_t t = 0; t < cells.size(); ++t) {
        for (const std::size_t end = r + cells[t]; r < end; ++r) {
            const std::int64_t g = in.codes[r];
            if (g < 0) continue;
            if (static_cast<std::size_t>(g) >= in.n_groups) throw std::invalid_argument("group code out of range");
            if (h.first[g] == kNone) h.first[g] = static_cast<std::int64_t>(t);
            h.last[g] = static_cast<std::int64_t>(t);
            ++h.cells[g];
        }
    }
    return h;
}

// Layout: each task's own groups, then shared ones, then groups without
// cells; blocks never mix those classes nor two tasks' own groups.
void lay_out(DaskPlan& plan, const DaskPlanInput& in, const Holders& h) {
    const std::size_t G = in.n_groups;
    const auto key = [&](std::int64_t g) {
        const int c = h.cls(g);
        return std::make_tuple(c, c == 0 ? h.first[g] : 0, g);
    };
    plan.group_at.resize(G);
    std::iota(plan.group_at.begin(), plan.group_at.end(), 0);
    std::sort(plan.group_at.begin(), plan.group_at.end(),
              [&](std::int64_t a, std::int64_t b) { return key(a) < key(b); });
    plan.laid_out.assign(G, 0);
    plan.sizes.resize(G);
    for (std::size_t p = 0; p < G; ++p) {
        plan.laid_out[plan.group_at[p]] = static_cast<std::int64_t>(p);
        plan.sizes[p] = h.cells[plan.group_at[p]];
    }

    const std::size_t per_block = std::max<std::size_t>(1, in.slice_bytes / std::max<std::size_t>(1, in.width * 8));
    for (std::size_t p = 0; p < G;) {
        const std::int64_t g = plan.group_at[p];
        std::size_t e = p + 1;
        while (e < G && e - p < per_block && h.cls(plan.group_at[e]) == h.cls(g) &&
               (h.cls(g) != 0 || h.first[plan.group_at[e]] == h.first[g]))
            ++e;
        DaskBlock b;
        b.g0 = static_cast<std::int64_t>(p);
        b.g1 = static_cast<std::int64_t>(e);
        b.shared = h.cls(g) == 1;
        plan.starts.push_back(b.g0);
        plan.blocks.push_back(std::move(b));
        p = e;
    }
}

// Per task: whether its pieces are dense, and the blocks it holds cells of
// (ascending).
std::vector<std::vector<std::size_t>> task_blocks(DaskPlan& plan, const DaskPlanInput& in,
                                                  const std::vector<std::size_t>& cells) {
    const std::size_t G = in.n_groups;
    std::vector<std::size_t> block_at(G);
    for (std::size_t k = 0; k < plan.blocks.size(); ++k)
        for (auto p = plan.blocks[k].g0; p < plan.blocks[k].g1; ++p) block_at[static_cast<std::size_t>(p)] = k;
    const std::size_t widest = in.tallied.empty() ? 0 : *std::max_element(in.tallied.begin(), in.tallied.end());
    const std::size_t dense_bytes = 8 * in.parts.size();
    std::vector<std::vector<std::size_t>> out(cells.size());
    std::vector<std::int64_t> seen(G, kNone), block_seen(plan.blocks.size(), kNone);
    plan.dense.assign(cells.size(), 0);
    std::size_t r = 0;
    for (std::size_t t = 0; t < cells.size(); ++t) {
        std::size_t n_cells = 0, n_present = 0;
        for (const std::size_t end = r + cells[t]; r < end; ++r) {
            const std::int64_t g = in.codes[r];
            if (g < 0) continue;
            ++n_cells;
            if (seen[g] == static_cast<std::int64_t>(t)) continue;
            seen[g] = static_cast<std::int64_t>(t);
            ++n_present;
            const std::size_t k = block_at[static_cast<std::size_t>(plan.laid_out[g])];
            if (block_seen[k] != static_cast<std::int64_t>(t)) {
                block_seen[k] = static_cast<std::int64_t>(t);
                out[t].push_back(k);
            }
        }
        std::sort(out[t].begin(), out[t].end());
        plan.dense[t] = n_present * kCellsPerGroup <= n_cells &&
                        n_present * widest * dense_bytes <= std::min(kDenseTableBytes, in.merge_bytes / 2);
    }
    return out;
}

// Each block's chain. Chains start at staggered tasks, so that the first
// steps, which make the slabs, spread over the workers that ran them.
void plan_chains(DaskPlan& plan, const DaskPlanInput& in, const std::vector<std::vector<std::size_t>>& by_task) {
    const std::size_t n_tasks = by_task.size(), n_blocks = plan.blocks.size();
    std::vector<std::vector<DaskPiece>> pieces(n_blocks);
    for (std::size_t t = 0; t < n_tasks; ++t)
        for (std::size_t k : by_task[t])
            for (std::size_t j = 0; j < in.tallied.size(); ++j)
                if (in.tallied[j] > 0) pieces[k].push_back({t, j});
    for (std::size_t k = 0; k < n_blocks; ++k) {
        std::vector<DaskPiece>& p = pieces[k];
        const std::size_t from = n_blocks > 1 ? k * n_tasks / n_blocks : 0;
        std::rotate(p.begin(), std::find_if(p.begin(), p.end(), [&](const DaskPiece& x) { return x.t >= from; }),
                    p.end());
        const std::vector<std::size_t> at = chain_steps(p.size(), kChainSteps);
        DaskBlock& b = plan.blocks[k];
        for (std::size_t s = 0; s + 1 < at.size(); ++s) b.steps.emplace_back(p.begin() + at[s], p.begin() + at[s + 1]);
        if (b.steps.empty()) b.steps.emplace_back();
    }
}

}  // namespace

std::vector<std::int64_t> join_row_chunks(const std::vector<std::size_t>& rows, std::size_t n_cols,
                                          std::size_t min_cells, std::size_t max_values) {
    std::vector<std::int64_t> out{0};
    std::size_t cells = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool room = cells < min_cells && (cells + rows[i]) * std::max<std::size_t>(n_cols, 1) <= max_values;
        if (i > 0 && !room) {
            out.push_back(static_cast<std::int64_t>(i));
            cells = 0;
        }
        cells += rows[i];
    }
    if (!rows.empty()) out.push_back(static_cast<std::int64_t>(rows.size()));
    return out;
}

std::vector<std::size_t> chain_steps(std::size_t n, std::size_t max_steps) {
    const std::size_t steps = std::min(n, std::max<std::size_t>(max_steps, 1));
    std::vector<std::size_t> at;
    for (std::size_t s = 0; s <= steps; ++s) at.push_back(steps == 0 ? 0 : s * n / steps);
    return at;
}

DaskPlan plan_dask(const DaskPlanInput& in) {
    DaskPlan plan;
    plan.task_starts = join_row_chunks(in.rows, in.n_cols, kTaskCells, kTaskValues);
    if (plan.task_starts.size() < 2) plan.task_starts = {0, 0};
    const std::vector<std::size_t> cells = task_cells(in, plan.task_starts);
    const Holders h = holders(in, cells);
    lay_out(plan, in, h);
    plan_chains(plan, in, task_blocks(plan, in, cells));
    return plan;
}

}  // namespace quend
