#pragma once
// The one pass that every source of blocks runs: a matrix in memory is one
// block, a backed file a stream of row or column blocks. Check the
// matrix's shape against the cells' codes and the selected columns, plan
// the columns, zero the tables, add each block where it sits in the
// matrix, finish one table per statistic. Sources live in common/ and only
// turn Python objects into BlockViews; nothing here calls back into them.
// (A Dask chunk runs the same check and plan per chunk, into a partial:
// core/dask_plan.hpp.)
//
// Errors are std::invalid_argument with the message the user sees.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/block_view.hpp"
#include "core/group_tally.hpp"

namespace quend {

// The cells' groups: codes[i] in [0, n_groups), or negative for a cell in
// no group.
struct CellCodes {
    const std::int64_t* codes = nullptr;
    std::size_t n_cells = 0, n_groups = 0;
};

// Where a block sits in the matrix.
struct BlockAt {
    std::size_t row0 = 0, col0 = 0;
};

// Throws unless the matrix has one row per cell and one column per
// selectable gene (the first check of every pass, Dask's included).
void check_matrix_shape(const CellCodes& groups, const ColumnSelection& sel, std::size_t n_rows, std::size_t n_cols);

class TallyDriver {
public:
    // Checks the shape ("adata.X has R rows but obs has N cells", "adata.X
    // has C columns but var has M genes"), plans the columns, zeroes the
    // tables (untouched pages cost nothing).
    TallyDriver(const TallyRequest& req, const CellCodes& groups, const ColumnSelection& sel, std::size_t n_rows,
                std::size_t n_cols);
    const ColumnPlan& plan() const { return plan_; }
    std::size_t width() const { return plan_.width(); }
    // Adds a block lying within the matrix at `at` (else an error).
    void add(const BlockView& b, BlockAt at);
    // One table per requested statistic, groups x width; the tables are
    // gone afterwards.
    std::vector<FinishedTable> finish();

private:
    TallyRequest req_;
    CellCodes groups_;
    ColumnPlan plan_;
    std::size_t n_cols_;
    TallyTable table_;
};

}  // namespace quend
