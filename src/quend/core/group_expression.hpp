#pragma once
// Per-group, per-gene tallies of a cells-by-genes matrix in one pass over the
// stored values: count of strictly positive values and, when asked, the sum
// and the number of missing (NaN) values. Dense blocks of any element type and
// memory order and compressed sparse rows/columns are read in place; memory is
// proportional to groups x selected genes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quend {

struct GroupTallies {
    std::size_t n_groups = 0;
    std::size_t n_cols = 0;  // output columns
    bool with_sums = false;
    std::vector<std::int64_t> group_size;  // cells per group
    std::vector<std::int64_t> positive;    // n_groups x n_cols, row-major
    std::vector<double> sum;               // NaN skipped; empty unless with_sums
    std::vector<std::int64_t> missing;     // NaN count; empty unless with_sums

    // Share of the group's cells with a value > 0 (NaN is not > 0).
    std::vector<double> positive_fraction() const;
    // Mean over the group's non-missing values, NaN when there is none.
    std::vector<double> mean() const;
};

// Tallies of n_groups x n_cols, all zero.
GroupTallies zero_tallies(std::size_t n_groups, std::size_t n_cols, bool with_sums);

// Copies one group x column cell (counts, and sums when kept) between tallies.
inline void copy_cell(const GroupTallies& from, std::size_t f, GroupTallies& to, std::size_t t) {
    to.positive[t] = from.positive[f];
    if (from.with_sums) {
        to.sum[t] = from.sum[f];
        to.missing[t] = from.missing[f];
    }
}

// Which matrix columns to report, in output order (repeats allowed). Empty
// `cols` means every column in matrix order.
struct ColumnSelection {
    std::size_t n_matrix_cols = 0;
    std::vector<std::int64_t> cols;
};

// `codes[i]` is the group of row i in [0, n_groups), or negative to leave the
// row out. Strides are in elements.
template <typename T>
GroupTallies tally_dense(const T* data, std::size_t n_rows, std::size_t n_cols, std::ptrdiff_t row_stride,
                         std::ptrdiff_t col_stride, const std::int64_t* codes, std::size_t n_groups,
                         const ColumnSelection& sel, bool with_sums);

// Compressed sparse rows (by_rows) or columns. Explicit entries are taken as
// they are stored; duplicates must have been summed by the caller.
template <typename T, typename I, typename P>
GroupTallies tally_compressed(const T* data, const I* indices, const P* indptr, bool by_rows, std::size_t n_rows,
                              std::size_t n_cols, const std::int64_t* codes, std::size_t n_groups,
                              const ColumnSelection& sel, bool with_sums);

// The same tallies added into `into` (zero or partial tallies of the same
// groups, output columns and sums), so that a matrix read in pieces grows one
// result instead of a fresh groups x genes one per piece. Throws
// std::invalid_argument when `into` has another shape.
template <typename T>
void add_dense(GroupTallies& into, const T* data, std::size_t n_rows, std::size_t n_cols, std::ptrdiff_t row_stride,
               std::ptrdiff_t col_stride, const std::int64_t* codes, const ColumnSelection& sel);
template <typename T, typename I, typename P>
void add_compressed(GroupTallies& into, const T* data, const I* indices, const P* indptr, bool by_rows,
                    std::size_t n_rows, std::size_t n_cols, const std::int64_t* codes, const ColumnSelection& sel);

// Per-group mean of the rows of a row-major block, NaN skipped, with the
// compensated summation used by pandas' groupby mean (same order, same bits).
std::vector<double> kahan_group_mean(const double* values, std::size_t n_rows, std::size_t n_cols,
                                     const std::int64_t* codes, std::size_t n_groups);

}  // namespace quend
