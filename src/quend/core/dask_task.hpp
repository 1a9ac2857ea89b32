#pragma once
// The work of the Dask tally's tasks (core/dask_plan.hpp lays them out),
// without Python: a job description checked once, a chunk task's pieces,
// a fold step's additions into its block's slab and the slab's finish.
//
// A piece is what one task adds to one block: the present groups' dense
// rows over the chunk's own tallied columns (`col_map` names them in the
// result), or the task's rows of the block themselves. Every array a kernel
// indexes with is checked before it is walked; errors are
// std::invalid_argument.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/block_view.hpp"
#include "core/group_tally.hpp"
#include "core/tally_recipe.hpp"

namespace quend {

struct DaskJob {
    std::vector<Stat> stats;
    PartSet parts;
    std::size_t width = 0, n_groups = 0;
    bool all = false, narrow = false;
    const std::int64_t* codes = nullptr;  // group of each cell, as the caller numbers them
    std::size_t n_cells = 0;
    std::vector<std::int64_t> laid_out;     // per group: its position in the layout
    std::vector<std::int64_t> slot;         // per matrix column: tallied column or -1
    std::vector<std::int64_t> row_starts;   // row chunk bounds, in cells
    std::vector<std::int64_t> col_starts;   // column chunk bounds
    std::vector<std::int64_t> task_starts;  // task bounds, in row chunks
    std::vector<std::int64_t> starts;       // block bounds, in laid-out groups
    std::vector<std::int64_t> sizes;        // cells of each laid-out group
    std::vector<std::int64_t> dense;        // per task: dense pieces (0 or 1)
    // per block: the chunk task (t * column chunks + j) that finishes it
    // alone, or -1 when its pieces are folded
    std::vector<std::int64_t> owner;

    // Throws unless the arrays agree with each other.
    void check() const;
    std::size_t n_tasks() const { return task_starts.size() - 1; }
    std::size_t n_blocks() const { return starts.size() - 1; }
    BlockColumns columns(std::size_t j) const;
};

enum class PieceForm { none, dense, rows, finished };

struct Piece {
    PieceForm form = PieceForm::none;
    Partial partial;                    // dense: groups (laid out) x the chunk's tallied columns
    std::vector<std::int64_t> col_map;  // dense: the result column of each partial column
    RowBlock rows;                      // rows: codes laid out
    std::size_t j = 0;                  // rows: the column chunk
    std::vector<FinishedTable> done;    // finished: the block's tables, one per statistic
};

// Task t's pieces of column chunk j, one per block (form none where the
// task holds no cell of it; finished for the blocks it owns), from its row
// chunks in order. A chunk of
// another shape than the job declares throws, naming it.
std::vector<Piece> chunk_pieces(const DaskJob& job, std::size_t t, std::size_t j, const std::vector<BlockView>& chunks);

struct PieceView {
    PieceForm form = PieceForm::none;
    PartialView partial;                  // dense
    BlockView rows;                       // rows
    const std::int64_t* codes = nullptr;  // rows: one per row
    std::size_t j = 0;
};

// Adds pieces of block k into its slab (the block's groups x the width).
void fold(DenseTally& slab, const DaskJob& job, std::size_t k, const std::vector<PieceView>& pieces);

}  // namespace quend
