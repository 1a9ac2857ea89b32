#pragma once
// Per-group statistics read straight from AnnData.X, whatever X is: dense
// numpy of any numeric dtype or scipy CSR/CSC read in place, a backed file
// streamed in blocks (backed_tally), a Dask array reduced on the active
// scheduler (dask_tally). Each in-memory block is described once (Block) and
// bounds-checked before a kernel reads it; kernels run without the GIL.
#include "common/nb.hpp"

#include <cstdint>
#include <vector>

#include "common/arrays.hpp"
#include "common/label_codes.hpp"
#include "core/group_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

// The finished groups x output columns table: float64, except the mean of
// float32 values, which is rounded once to float32 (as a groupby mean of
// float32 columns gives).
nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat);

// One in-memory block: dense (any strides) or compressed, element types the
// kernels read. `owners` keep the buffers alive.
struct Block {
    enum Form { dense, csr, csc } form = dense;
    std::size_t n_rows = 0, n_cols = 0;
    nb::object owners;
    AnyArray data, indices, indptr;
};

// A numpy-like block or scipy sparse matrix/array. ValueError for a
// malformed compressed layout; stored duplicates are summed on a copy.
Block read_block(nb::handle X);
// Compressed arrays of a CSR (`by_rows`) or CSC block, checked the same way.
Block compressed_block(nb::object data, nb::object indices, nb::object indptr, bool by_rows, std::size_t n_rows,
                       std::size_t n_cols);

// The result table being filled: numpy.zeros, so untouched pages cost nothing.
struct ResultTable {
    nb::object value, missing;
    DenseTally tally;
};
ResultTable zero_table(Stat stat, std::size_t n_groups, std::size_t width);

// Adds a block of rows `codes` (CSC blocks: of columns) into `into`.
void add_block(DenseTally& into, const Block& b, const std::int64_t* codes, const BlockColumns& cols);

// The sparse partial of a block (CSC is turned into CSR first).
SparseTally partial_of(const Block& b, Stat stat, std::size_t width, const std::int64_t* codes, std::size_t n_groups,
                       const BlockColumns& cols);

// Finishes the table in place and returns its values (rounded to float32
// when `narrow`) with the plan's output columns (repeats copied).
nb::object finish_table(ResultTable& t, const std::vector<std::int64_t>& group_size, const ColumnPlan& plan,
                        bool narrow);

// Cells per group (unlabelled cells left out).
std::vector<std::int64_t> group_sizes(const LabelCodes& groups);

// ValueError unless X has `expected` rows (cells of obs) / columns (genes of var).
void check_rows(std::size_t n_rows, std::size_t expected);
void check_cols(std::size_t n_cols, std::size_t expected);

}  // namespace quend::glue
