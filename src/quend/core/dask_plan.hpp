#pragma once
// How a chunked matrix is reduced to a groups x columns table, decided from
// what is known before anything is computed: the cells of each row chunk,
// the tallied columns of each column chunk, every cell's group, the width.
//
// - Groups are laid out in blocks, each finished on its own into a slice of
//   the result. Groups held by one row chunk alone (cells sorted or
//   clustered by group) form blocks of that chunk: their pieces go straight
//   to the finish, without a merge. Only groups shared between chunks are
//   merged. Within the layout, groups keep their order.
// - A row chunk's partial is dense (rows of the present groups over every
//   column) when it has many cells per present group and that table is
//   about cache-sized, as with tens to hundreds of samples; else compressed
//   pairs, bounded by stored values.
// - Each block's pieces are merged in a tree whose task inputs stay within
//   the byte budget. `bytes` of a piece is its size for dense pieces, and
//   for compressed ones a bound that holds whatever the data: the chunk's
//   groups of the block times its tallied columns. Nothing is read to plan,
//   so an empty or unusual chunk cannot mislead it.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/tally_recipe.hpp"

namespace quend {

struct DaskPlanInput {
    std::vector<std::size_t> rows;        // cells per row chunk
    std::vector<std::size_t> tallied;     // tallied columns per column chunk
    const std::int64_t* codes = nullptr;  // group per cell (negative: none), sum(rows) of them
    std::size_t n_groups = 0, width = 0;
    PartSet parts = Stat::detected;        // what each pair holds
    std::size_t merge_bytes = 1u << 30;    // what one task may take as inputs
    std::size_t slice_bytes = 128u << 20;  // a block's finished slice, at most
};

// The merge tree of one block: each level lists ranges [a, e) of the level
// below (the pieces first) merged into one; the last level's items go to
// the finish.
using MergeLevels = std::vector<std::vector<std::pair<std::size_t, std::size_t>>>;

struct DaskPiece {
    std::size_t i = 0, j = 0;            // row chunk, column chunk
    std::size_t cells = 0, present = 0;  // the block's cells and groups in the row chunk
    std::size_t bytes = 0;
};

struct DaskBlock {
    std::int64_t g0 = 0, g1 = 0;  // laid-out groups [g0, g1)
    bool shared = false;          // groups held by more than one row chunk
    std::vector<DaskPiece> pieces;
    MergeLevels merges;
};

struct DaskPlan {
    std::vector<std::int64_t> laid_out;  // per group: its position in the layout
    std::vector<std::int64_t> group_at;  // per position: the group
    std::vector<std::int64_t> starts;    // first position of each block
    std::vector<unsigned char> dense;    // per row chunk: dense partial
    std::vector<DaskBlock> blocks;
    std::size_t pair_bytes = 0;
};

DaskPlan plan_dask(const DaskPlanInput& in);

// Merge ranges for pieces of these byte sizes: neighbours are merged (two
// at least) while the inputs of the finish exceed `budget`; a merged
// piece's bytes are at most `cap`.
MergeLevels plan_merges(std::vector<std::size_t> bytes, std::size_t budget, std::size_t cap);

}  // namespace quend
