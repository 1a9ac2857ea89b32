#pragma once
// Per-group tallies read straight from AnnData.X. In memory: dense numpy of
// any numeric dtype, scipy CSR/CSC in place. Backed files are streamed in
// blocks of rows (backed_tally), Dask arrays reduced chunk by chunk on the
// active scheduler (dask_tally). Every compressed block is bounds-checked
// before the kernel reads it.
#include "common/nb.hpp"

#include "common/label_codes.hpp"
#include "core/group_expression.hpp"

namespace quend::glue {

namespace nb = nanobind;

struct MatrixTallies {
    GroupTallies tallies;
    bool float32 = false;  // X holds float32 values
};

MatrixTallies tally_matrix(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums);

// One in-memory block (numpy-like or scipy sparse) of `n_rows` rows whose
// groups are `codes`. `regroup`: CSR rows are copied group after group first
// (worth it for streamed blocks, which are small).
MatrixTallies tally_block(nb::handle X, const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups,
                          const ColumnSelection& sel, bool with_sums, bool regroup);

// A numpy-like block added into the running result `into`.
void add_dense_block(GroupTallies& into, nb::handle block, const std::int64_t* codes, std::size_t n_rows,
                     const ColumnSelection& sel);

// Compressed arrays of a CSR (`by_rows`) or CSC block; ValueError when the
// layout is malformed; duplicates summed on a copy.
GroupTallies tally_compressed_arrays(nb::object data, nb::object indices, nb::object indptr, bool by_rows,
                                     std::size_t n_rows, std::size_t n_cols, const std::int64_t* codes,
                                     std::size_t n_groups, const ColumnSelection& sel, bool with_sums, bool regroup);

// The same, added into `into` (a running result of the same groups, output
// columns and sums) instead of a fresh result per block.
void add_compressed_arrays(GroupTallies& into, nb::object data, nb::object indices, nb::object indptr, bool by_rows,
                           std::size_t n_rows, std::size_t n_cols, const std::int64_t* codes,
                           const ColumnSelection& sel, bool regroup);

// A block holding matrix columns [c0, c0 + width): tallies of the output
// columns of `sel` (over all `sel.n_matrix_cols` columns) that fall inside it,
// at their places in the full output. Group sizes are kept only when
// `count_sizes`, so that adding the windows of one row range counts each cell
// once.
GroupTallies tally_window(nb::handle block, const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups,
                          const ColumnSelection& sel, std::size_t c0, std::size_t width, bool count_sizes,
                          bool with_sums);

}  // namespace quend::glue
