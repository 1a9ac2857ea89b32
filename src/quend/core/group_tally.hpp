#pragma once
// Per-group, per-gene tallies of a cells-by-genes matrix: one statistic per
// call (the share of cells with a value > 0, or the mean over non-NaN values),
// read in one pass over the stored values.
//
// Two forms of one tally:
// - DenseTally: the groups x columns result itself, in caller-owned zeroed
//   memory (calloc or numpy.zeros, so untouched pages cost nothing). Blocks
//   are added into it in place, then `finish` turns it into the statistic.
// - SparseTally: the partial of one chunk, groups x columns in compressed
//   rows holding only the (group, column) pairs the chunk touches, so its
//   size is bounded by the chunk's stored values whatever the group count.
//   Partials add up (`merge`; counts exactly), are cut by group ranges without a copy
//   (the groups ascend), and land in a slice of the result (`add_partial`).
// Group sizes are counted once, from the codes, by the caller.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quend {

enum class Stat {
    detected,  // value: count of values > 0 (NaN is not > 0)
    mean,      // value: sum of non-NaN values; missing: NaN count
};

// Which matrix columns to report, in output order (repeats allowed). Empty
// `cols` means every column in matrix order.
struct ColumnSelection {
    std::size_t n_matrix_cols = 0;
    std::vector<std::int64_t> cols;
};

// Tallied columns: the distinct selected matrix columns in first-appearance
// order; output columns repeat them through `expand`.
struct ColumnPlan {
    std::vector<std::int64_t> slot;      // per matrix column: tallied column or -1
    std::vector<std::int64_t> distinct;  // matrix column of each tallied column
    std::vector<std::int64_t> expand;    // per output column: tallied column; empty when the same
    bool all = false;                    // every matrix column, in matrix order
    std::size_t width() const { return distinct.size(); }
};
ColumnPlan plan_columns(const ColumnSelection& sel);

// The columns of one block holding matrix columns [c0, c0 + n_block_cols).
struct BlockColumns {
    const std::int64_t* slot = nullptr;  // per block column: tallied column or -1
    bool identity = false;               // block column j is tallied column j
    std::size_t n_block_cols = 0;
};
BlockColumns block_columns(const ColumnPlan& plan, std::size_t c0, std::size_t n_block_cols);

struct DenseTally {
    Stat stat = Stat::detected;
    std::size_t n_groups = 0, width = 0;
    double* value = nullptr;          // n_groups x width, row-major, zeroed
    std::int64_t* missing = nullptr;  // the same shape, zeroed; mean only
    bool any_missing = false;         // set when a NaN is added, so finish skips untouched pages
};

// `codes[i]` is the group of row i, in [0, n_groups), or negative to leave
// the row out. Strides are in elements.
template <typename T>
void add_dense(DenseTally& into, const T* data, std::size_t n_rows, std::ptrdiff_t row_stride,
               std::ptrdiff_t col_stride, const std::int64_t* codes, const BlockColumns& cols);

// Compressed sparse rows (`by_rows`, n_rows slices) or columns (one slice
// per block column). Indices must have been checked (check_compressed) and
// duplicates summed.
template <typename T, typename I, typename P>
void add_compressed(DenseTally& into, const T* data, const I* indices, const P* indptr, bool by_rows,
                    std::size_t n_rows, const std::int64_t* codes, const BlockColumns& cols);

// Read-only view of a partial: present groups ascending, pairs per group in
// no particular column order. `missing` is null for Stat::detected.
struct PartialView {
    std::size_t n_present = 0;
    const std::int64_t* groups = nullptr;
    const std::int64_t* ptr = nullptr;  // n_present + 1 offsets, ptr[0] may be > 0
    const std::int32_t* cols = nullptr;
    const double* value = nullptr;
    const double* missing = nullptr;
};

struct SparseTally {
    Stat stat = Stat::detected;
    std::size_t width = 0;
    std::vector<std::int64_t> groups;
    std::vector<std::int64_t> ptr{0};
    std::vector<std::int32_t> cols;
    std::vector<double> value;
    std::vector<double> missing;  // mean only
    PartialView view() const;
};

// The partial of a block of rows (CSR, or dense with any strides). Pairs
// whose tally stays zero are left out.
template <typename T, typename I, typename P>
SparseTally partial_compressed(Stat stat, std::size_t width, const T* data, const I* indices, const P* indptr,
                               std::size_t n_rows, const std::int64_t* codes, std::size_t n_groups,
                               const BlockColumns& cols);
template <typename T>
SparseTally partial_dense(Stat stat, std::size_t width, const T* data, std::size_t n_rows, std::ptrdiff_t row_stride,
                          std::ptrdiff_t col_stride, const std::int64_t* codes, std::size_t n_groups,
                          const BlockColumns& cols);

// Sum of partials of the same statistic and width.
SparseTally merge(Stat stat, std::size_t width, const std::vector<PartialView>& parts);

// Adds a partial's groups [g0, g0 + into.n_groups) into `into`; groups
// outside that range throw std::invalid_argument.
void add_partial(DenseTally& into, const PartialView& part, std::int64_t g0);

// In place: the share of each group's cells with a value > 0, or the mean
// over its non-missing values; NaN where there is no cell (or value).
void finish(DenseTally& t, const std::int64_t* group_size);

// Compressed sparse layout with `n_major` slices (rows of a CSR) over
// `n_minor` positions: indptr starts at 0, never decreases and ends at nnz;
// every index lies in [0, n_minor). Returns "" when sound, else what is wrong.
// `canonical` tells whether indices strictly increase within each slice (no
// duplicates to sum).
template <typename I, typename P>
std::string check_compressed(const I* indices, const P* indptr, std::size_t n_major, std::size_t n_minor,
                             std::size_t nnz, bool& canonical);

// Per-group mean of the rows of a row-major block, NaN skipped, with the
// compensated summation used by pandas' groupby mean (same order, same bits).
std::vector<double> kahan_group_mean(const double* values, std::size_t n_rows, std::size_t n_cols,
                                     const std::int64_t* codes, std::size_t n_groups);

}  // namespace quend
