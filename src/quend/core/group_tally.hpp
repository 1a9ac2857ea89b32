#pragma once
// Per-group, per-gene tallies of a cells-by-genes matrix: the parts of one
// or more statistics (core/tally_recipe.hpp), read in one pass over the
// stored values.
//
// Two forms of one tally, both holding the parts (in part order):
// - DenseTally: the groups x columns tables themselves, in zeroed memory
//   (TallyTable: calloc, so untouched pages cost nothing). Blocks are added
//   into it in place, then it is finished in place.
// - Partial: what one chunk adds, as dense rows of the groups present in
//   it over the chunk's columns; it lands in a slice of the result
//   (`add_partial`).
// Each block enters through one call (`add_block`), which checks it,
// dispatches on its form and types and reads it without calling out. A
// stored index is read once where it is used and checked there, so a
// buffer changed while a kernel runs can give wrong numbers or an error,
// never a write outside the result. Errors are std::invalid_argument.
// Group sizes are counted once, from the codes, by the caller.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/block_view.hpp"
#include "core/tally_recipe.hpp"

namespace quend {

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
    PartSet parts;
    std::size_t n_groups = 0, width = 0;
    double* part[kMaxParts] = {};  // table of parts.at(i): n_groups x width, row-major, zeroed
    bool touched[kMaxParts] = {};  // tables that were written: finish reads only those
};

// A finished groups x width table handed over (float32 or float64 values),
// freed with std::free unless released. Null values when the table is empty.
class FinishedTable {
public:
    FinishedTable(void* values, bool float32) : values_(values), float32_(float32) {}
    FinishedTable(FinishedTable&& o) noexcept : values_(o.release()), float32_(o.float32_) {}
    FinishedTable(const FinishedTable&) = delete;
    FinishedTable& operator=(const FinishedTable&) = delete;
    FinishedTable& operator=(FinishedTable&&) = delete;
    ~FinishedTable() { std::free(values_); }
    bool float32() const { return float32_; }
    void* release() {
        void* v = values_;
        values_ = nullptr;
        return v;
    }

private:
    void* values_;
    bool float32_;
};

// What one pass is asked for: one finished table per statistic, in this
// order, from a tally of the union of their parts.
struct TallyRequest {
    std::vector<Stat> stats;
    bool narrow = false;  // the values are float32: tables narrow (rounded once) where the recipe does
};

// A zeroed tally that owns its tables, finished in place where it can.
class TallyTable {
public:
    TallyTable(PartSet parts, std::size_t n_groups, std::size_t width);
    ~TallyTable();
    TallyTable(const TallyTable&) = delete;
    TallyTable& operator=(const TallyTable&) = delete;
    DenseTally& tally() { return t_; }
    // One finished table per requested statistic. A statistic is finished in
    // place into a part no later statistic reads (the buffer then shrunk to
    // its float32 values when narrowed), else into a new buffer; every table
    // is then gone.
    std::vector<FinishedTable> finish(const TallyRequest& req, const std::int64_t* group_size);

private:
    DenseTally t_;
};

// Adds a block of rows `codes` (CSC blocks: `codes` of all rows) into
// `into`. `codes[i]` is the group of row i, in [0, n_groups), or negative to
// leave the row out. Stored duplicates of a compressed block are summed (on
// a copy of that slice of the block).
void add_block(DenseTally& into, const BlockView& b, const std::int64_t* codes, const BlockColumns& cols);

// Read-only view of a partial: present groups ascending, `width` values
// per group.
struct PartialView {
    PartSet parts;
    std::size_t width = 0, n_present = 0;
    // The result column of each of its `width` columns, so that a chunk's
    // partial spans its own columns; null when they are the same.
    const std::int64_t* col_map = nullptr;
    const std::int64_t* groups = nullptr;
    const double* part[kMaxParts] = {};  // n_present x width, row-major
};

struct Partial {
    PartSet parts;
    std::size_t width = 0;
    std::vector<std::int64_t> groups;
    std::vector<double> part[kMaxParts];
    PartialView view() const;
};

// Rows of a block in compressed-row form, values in the block's element
// type and zeros left out (no part counts a zero): what a chunk sends for
// groups with too few cells each for a table of them to pay.
struct RowBlock {
    Dtype dtype = Dtype::f64;
    std::size_t n_cols = 0;
    std::vector<unsigned char> data;  // the values, one element of `dtype` each
    std::vector<std::int32_t> indices, indptr{0};
    std::vector<std::int64_t> codes;  // the group of each row
    std::size_t n_rows() const { return codes.size(); }
    BlockView view() const;
};

// Appends each row i of `b` with `to[i]` >= 0 to out[to[i]], its group
// `codes[i]` beside it. Stored duplicates are summed; CSC is read as rows.
void split_rows(const BlockView& b, const std::int64_t* to, const std::int64_t* codes, std::vector<RowBlock>& out);

// Adds a partial's groups [g0, g0 + into.n_groups) into `into`, checking the
// partial first; groups or mapped columns outside the table throw.
void add_partial(DenseTally& into, const PartialView& part, std::int64_t g0);

// Float64 values rounded to float32 in place: value o lands in bytes
// [4o, 4o + 4), which belong to values already read.
void narrow_forward(double* values, std::size_t n);

// The recipe's finish of each pair into `out` (n_groups x width), which may
// be one of the tally's tables: each pair is read before it is written.
void finish(const DenseTally& t, Stat stat, const std::int64_t* group_size, double* out);
// The same, rounded once to float32.
void finish(const DenseTally& t, Stat stat, const std::int64_t* group_size, float* out);

// Compressed sparse layout with `n_major` slices (rows of a CSR) over
// `n_minor` positions: indptr starts at 0, never decreases and ends at nnz;
// every index lies in [0, n_minor). Returns "" when sound, else what is wrong.
// `canonical` tells whether indices strictly increase within each slice (no
// duplicates to sum).
template <typename I, typename P>
std::string check_compressed(const I* indices, const P* indptr, std::size_t n_major, std::size_t n_minor,
                             std::size_t nnz, bool& canonical);

// check_compressed on a compressed block's arrays (lengths first); "" for a
// dense block.
std::string check_block(const BlockView& b, bool& canonical);

// Per-group mean of the rows of a row-major block, NaN skipped, with the
// compensated summation used by pandas' groupby mean (same order, same bits).
std::vector<double> kahan_group_mean(const double* values, std::size_t n_rows, std::size_t n_cols,
                                     const std::int64_t* codes, std::size_t n_groups);

}  // namespace quend
