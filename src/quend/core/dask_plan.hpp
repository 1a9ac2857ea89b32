#pragma once
// How a chunked matrix is reduced to a groups x columns table, decided from
// what is known before anything is computed: the cells of each row chunk,
// the tallied columns of each column chunk, every cell's group, the width.
//
// - Tasks: consecutive row chunks are read by one task until it holds
//   enough cells, so that tiny chunks (anndata's lazy reader cuts 1,000
//   rows) do not each pay a task per block downstream.
// - Groups are laid out in blocks, each one slab of the result that a chain
//   of folds fills: the chain's first step makes the slab, each step adds
//   the pieces of a few tasks into it in place, the last finishes it.
//   Memory holds about the result plus the pieces in flight, and nothing is
//   merged twice. Groups held by one task alone (cells sorted or clustered
//   by group) form blocks of that task, finished from its pieces alone.
//   Within the layout, groups keep their order.
// - A task's piece of a block is dense (the present groups over the chunk's
//   tallied columns) when the task has many cells per present group and
//   that table is about cache-sized, as with tens to hundreds of samples;
//   else the task's rows of the block themselves (compressed, in their own
//   element type), which the fold adds like any block.
// Nothing is read to plan, so an empty or unusual chunk cannot mislead it.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/tally_recipe.hpp"

namespace quend {

struct DaskPlanInput {
    std::vector<std::size_t> rows;        // cells per row chunk
    std::vector<std::size_t> tallied;     // tallied columns per column chunk
    std::size_t n_cols = 0;               // columns of the matrix
    const std::int64_t* codes = nullptr;  // group per cell (negative: none), sum(rows) of them
    std::size_t n_groups = 0, width = 0;
    PartSet parts = Stat::detected;        // what each pair holds
    std::size_t merge_bytes = 1u << 30;    // what one task may take as inputs
    std::size_t slice_bytes = 128u << 20;  // a block's finished slice, at most
};

struct DaskPiece {
    std::size_t t = 0, j = 0;  // task, column chunk
};

struct DaskBlock {
    std::int64_t g0 = 0, g1 = 0;  // laid-out groups [g0, g1)
    bool shared = false;          // groups held by more than one task
    // The fold chain: the pieces each step adds, in order. A block without
    // cells has one step with no piece.
    std::vector<std::vector<DaskPiece>> steps;
    // A block of one piece is finished by the chunk task that makes it, in
    // place of a piece: no copy, no fold.
    bool direct() const { return steps.size() == 1 && steps[0].size() == 1; }
};

struct DaskPlan {
    std::vector<std::int64_t> task_starts;  // first row chunk of each task, then the number of row chunks
    std::vector<std::int64_t> laid_out;     // per group: its position in the layout
    std::vector<std::int64_t> group_at;     // per position: the group
    std::vector<std::int64_t> sizes;        // per position: the group's cells
    std::vector<std::int64_t> starts;       // first position of each block
    std::vector<unsigned char> dense;       // per task: dense pieces
    std::vector<DaskBlock> blocks;
};

DaskPlan plan_dask(const DaskPlanInput& in);

// Row chunks read together by one task: consecutive chunks are joined while
// the task holds fewer than `min_cells` cells and at most `max_values`
// values counted densely (rows x columns). Returns the first chunk of each
// task, then the number of chunks.
std::vector<std::int64_t> join_row_chunks(const std::vector<std::size_t>& rows, std::size_t n_cols,
                                          std::size_t min_cells, std::size_t max_values);

// A chain over `n` pieces in at most `max_steps` steps of consecutive
// pieces, as even as can be: the first piece of each step, then n.
std::vector<std::size_t> chain_steps(std::size_t n, std::size_t max_steps);

}  // namespace quend
