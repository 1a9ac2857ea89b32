#include "core/dask_task.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace quend {

namespace {

[[noreturn]] void bad_job(const std::string& what) { throw std::invalid_argument("malformed tally task: " + what); }

// Ascending bounds from 0 to `end`.
void check_bounds(const std::vector<std::int64_t>& b, std::size_t end, const char* what) {
    if (b.empty() || b[0] != 0 || static_cast<std::size_t>(b.back()) != end)
        bad_job(std::string(what) + " must run from 0 to " + std::to_string(end));
    for (std::size_t k = 1; k < b.size(); ++k)
        if (b[k] < b[k - 1]) bad_job(std::string(what) + " must not decrease");
}

std::string shape(std::size_t r, std::size_t c) { return "(" + std::to_string(r) + ", " + std::to_string(c) + ")"; }

// The task's cells in the layout, and the block of each (-1: no group).
struct TaskRows {
    std::vector<std::int64_t> codes, block;
};

TaskRows task_rows(const DaskJob& job, std::size_t r0, std::size_t r1) {
    TaskRows out;
    out.codes.resize(r1 - r0);
    out.block.resize(r1 - r0);
    for (std::size_t r = r0; r < r1; ++r) {
        const std::int64_t g = job.codes[r];
        if (g >= static_cast<std::int64_t>(job.n_groups)) bad_job("group code out of range");
        const std::int64_t p = g < 0 ? -1 : job.laid_out[static_cast<std::size_t>(g)];
        out.codes[r - r0] = p;
        out.block[r - r0] =
            p < 0 ? -1 : std::upper_bound(job.starts.begin(), job.starts.end(), p) - job.starts.begin() - 1;
    }
    return out;
}

// The blocks this chunk task owns, finished from its rows; their rows are
// then left out of the other pieces. A row of a block another task owns
// means the codes are not those the plan was made from.
void owned_blocks(const DaskJob& job, std::size_t t, std::size_t j, const std::vector<BlockView>& chunks,
                  TaskRows& rows, std::vector<Piece>& out) {
    const auto me = static_cast<std::int64_t>(t * (job.col_starts.size() - 1) + j);
    std::vector<std::int64_t> local(rows.codes.size());
    for (std::size_t k = 0; k < job.n_blocks(); ++k) {
        if (job.owner[k] != me) continue;
        const std::int64_t g0 = job.starts[k];
        for (std::size_t r = 0; r < local.size(); ++r)
            local[r] = rows.block[r] == static_cast<std::int64_t>(k) ? rows.codes[r] - g0 : -1;
        TallyTable slab(job.parts, static_cast<std::size_t>(job.starts[k + 1] - g0), job.width);
        std::size_t r = 0;
        for (const BlockView& b : chunks) {
            add_block(slab.tally(), b, local.data() + r, job.columns(j));
            r += b.n_rows;
        }
        out[k].form = PieceForm::finished;
        out[k].done = slab.finish({job.stats, job.narrow}, job.sizes.data() + g0);
    }
    for (std::size_t r = 0; r < rows.block.size(); ++r) {
        if (rows.block[r] < 0 || job.owner[static_cast<std::size_t>(rows.block[r])] < 0) continue;
        if (job.owner[static_cast<std::size_t>(rows.block[r])] != me) bad_job("cells of a block another task owns");
        rows.block[r] = rows.codes[r] = -1;
    }
}

// Dense pieces: one table of the task's present groups over the chunk's
// tallied columns, filled by the block kernel, then cut by block.
void dense_pieces(const DaskJob& job, std::size_t j, const std::vector<BlockView>& chunks, const TaskRows& rows,
                  std::vector<Piece>& out) {
    std::vector<std::int64_t> present;
    for (std::int64_t p : rows.codes)
        if (p >= 0) present.push_back(p);
    std::sort(present.begin(), present.end());
    present.erase(std::unique(present.begin(), present.end()), present.end());
    std::vector<std::int64_t> local(rows.codes.size());
    for (std::size_t r = 0; r < local.size(); ++r)
        local[r] =
            rows.codes[r] < 0 ? -1 : std::lower_bound(present.begin(), present.end(), rows.codes[r]) - present.begin();
    // The chunk's tallied columns, numbered from 0.
    const BlockColumns cols = job.columns(j);
    std::vector<std::int64_t> local_slot(cols.n_block_cols, -1), col_map;
    for (std::size_t c = 0; c < cols.n_block_cols; ++c) {
        const std::int64_t k = cols.identity ? static_cast<std::int64_t>(c) : cols.slot[c];
        if (k < 0) continue;
        local_slot[c] = static_cast<std::int64_t>(col_map.size());
        col_map.push_back(k);
    }
    const BlockColumns local_cols{local_slot.data(), false, cols.n_block_cols};
    TallyTable table(job.parts, present.size(), col_map.size());
    std::size_t r = 0;
    for (const BlockView& b : chunks) {
        add_block(table.tally(), b, local.data() + r, local_cols);
        r += b.n_rows;
    }
    const std::size_t w = col_map.size();
    for (std::size_t a = 0; a < present.size();) {
        const auto k = static_cast<std::size_t>(std::upper_bound(job.starts.begin(), job.starts.end(), present[a]) -
                                                job.starts.begin() - 1);
        std::size_t e = a;
        while (e < present.size() && present[e] < job.starts[k + 1]) ++e;
        Piece& piece = out[k];
        piece.form = PieceForm::dense;
        piece.col_map = col_map;
        Partial& p = piece.partial;
        p.parts = job.parts;
        p.width = w;
        p.groups.assign(present.begin() + a, present.begin() + e);
        for (std::size_t q = 0; q < job.parts.size(); ++q) {
            const double* from = table.tally().part[q];
            if (from)
                p.part[q].assign(from + a * w, from + e * w);
            else
                p.part[q].assign((e - a) * w, 0.0);
        }
        a = e;
    }
}

// Rows pieces: each block's cells, copied as compressed rows.
void rows_pieces(std::size_t j, const std::vector<BlockView>& chunks, const TaskRows& rows, std::vector<Piece>& out) {
    std::vector<RowBlock> split(out.size());
    std::size_t r = 0;
    for (const BlockView& b : chunks) {
        split_rows(b, rows.block.data() + r, rows.codes.data() + r, split);
        r += b.n_rows;
    }
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (split[k].n_rows() == 0) continue;
        out[k].form = PieceForm::rows;
        out[k].rows = std::move(split[k]);
        out[k].j = j;
    }
}

}  // namespace

void DaskJob::check() const {
    if (stats.empty()) bad_job("no statistic");
    if (width > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        bad_job("'width' must be a number of columns");
    check_bounds(row_starts, n_cells, "row bounds");
    check_bounds(col_starts, slot.size(), "column bounds");
    check_bounds(task_starts, row_starts.size() - 1, "task bounds");
    check_bounds(starts, n_groups, "group bounds");
    if (laid_out.size() != n_groups || sizes.size() != n_groups) bad_job("one layout place and size per group");
    for (std::int64_t p : laid_out)
        if (p < 0 || static_cast<std::size_t>(p) >= n_groups) bad_job("layout place out of range");
    if (dense.size() != n_tasks()) bad_job("one dense flag per task");
    if (owner.size() != n_blocks()) bad_job("one owner per block");
    for (std::int64_t o : owner)
        if (o < -1 || o >= static_cast<std::int64_t>(n_tasks() * (col_starts.size() - 1)))
            bad_job("block owner out of range");
    if (all && slot.size() != width) bad_job("every column is tallied, yet the width differs");
    for (std::int64_t s : slot)
        if (s < -1 || s >= static_cast<std::int64_t>(width)) bad_job("column slot out of range");
}

BlockColumns DaskJob::columns(std::size_t j) const {
    const auto c0 = static_cast<std::size_t>(col_starts[j]);
    return BlockColumns{slot.data() + c0, all && c0 == 0, static_cast<std::size_t>(col_starts[j + 1]) - c0};
}

std::vector<Piece> chunk_pieces(const DaskJob& job, std::size_t t, std::size_t j,
                                const std::vector<BlockView>& chunks) {
    if (t >= job.n_tasks() || j + 1 >= job.col_starts.size())
        bad_job("task (" + std::to_string(t) + ", " + std::to_string(j) + ") is outside the chunk grid");
    const auto i0 = static_cast<std::size_t>(job.task_starts[t]), i1 = static_cast<std::size_t>(job.task_starts[t + 1]);
    if (chunks.size() != i1 - i0) bad_job("task " + std::to_string(t) + " reads another number of chunks");
    const std::size_t width = static_cast<std::size_t>(job.col_starts[j + 1] - job.col_starts[j]);
    for (std::size_t i = i0; i < i1; ++i) {
        const BlockView& b = chunks[i - i0];
        const auto rows = static_cast<std::size_t>(job.row_starts[i + 1] - job.row_starts[i]);
        if (b.n_rows != rows || b.n_cols != width)
            throw std::invalid_argument("chunk (" + std::to_string(i) + ", " + std::to_string(j) + ") of X has shape " +
                                        shape(b.n_rows, b.n_cols) + " but X.chunks declares " + shape(rows, width));
    }
    TaskRows rows =
        task_rows(job, static_cast<std::size_t>(job.row_starts[i0]), static_cast<std::size_t>(job.row_starts[i1]));
    std::vector<Piece> out(job.n_blocks());
    owned_blocks(job, t, j, chunks, rows, out);
    if (job.dense[t])
        dense_pieces(job, j, chunks, rows, out);
    else
        rows_pieces(j, chunks, rows, out);
    return out;
}

void fold(DenseTally& slab, const DaskJob& job, std::size_t k, const std::vector<PieceView>& pieces) {
    if (k >= job.n_blocks()) bad_job("block " + std::to_string(k) + " is outside the group bounds");
    const std::int64_t g0 = job.starts[k], g1 = job.starts[k + 1];
    if (slab.n_groups != static_cast<std::size_t>(g1 - g0) || slab.width != job.width || slab.parts != job.parts)
        bad_job("the slab is not block " + std::to_string(k) + "'s");
    std::vector<std::int64_t> codes;
    for (const PieceView& p : pieces) {
        if (p.form == PieceForm::dense) {
            add_partial(slab, p.partial, g0);
            continue;
        }
        if (p.j + 1 >= job.col_starts.size()) bad_job("piece of a column chunk outside the grid");
        const BlockColumns cols = job.columns(p.j);
        if (p.rows.n_cols != cols.n_block_cols) bad_job("piece of another width than its column chunk");
        // Copied once and checked: the kernel trusts its codes.
        codes.assign(p.codes, p.codes + p.rows.n_rows);
        for (std::int64_t& c : codes) {
            if (c < g0 || c >= g1) bad_job("piece row outside its block");
            c -= g0;
        }
        add_block(slab, p.rows, codes.data(), cols);
    }
}

}  // namespace quend
