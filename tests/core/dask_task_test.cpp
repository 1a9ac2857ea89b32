#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "core/dask_plan.hpp"
#include "core/dask_task.hpp"

using quend::BlockView;
using quend::DaskJob;
using quend::PieceForm;
using quend::Stat;

namespace {

constexpr std::size_t kRows = 60, kCols = 7;

// A 60 x 7 float matrix at about 40 %, dense row-major, and its group codes.
struct Data {
    std::vector<float> x;
    std::vector<std::int64_t> codes;
    Data(std::size_t n_groups, unsigned seed) : x(kRows * kCols, 0.0f), codes(kRows) {
        std::mt19937 rng(seed);
        for (float& v : x)
            if (rng() % 5 < 2) v = static_cast<float>(rng() % 7);
        for (auto& c : codes) c = static_cast<std::int64_t>(rng() % (n_groups + 1)) - 1;  // some unlabelled
    }
    // Rows [r0, r1) x columns [c0, c1), as a dense strided view.
    BlockView view(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) const {
        BlockView b;
        b.dtype = quend::Dtype::f32;
        b.n_rows = r1 - r0;
        b.n_cols = c1 - c0;
        b.data = x.data() + r0 * kCols + c0;
        b.row_stride = kCols;
        b.col_stride = 1;
        return b;
    }
};

// The job for row chunks of 20 cells, column chunks {0..3, 3..7}, columns
// {5, 1, 2} selected (so a chunk's tallied columns are not its own), the
// layout reversed, blocks of `per_block` groups.
DaskJob job_for(const Data& d, std::size_t n_groups, std::size_t per_block, bool dense) {
    DaskJob job;
    job.stats = {Stat::mean, Stat::detected};
    job.parts = quend::PartSet(job.stats);
    job.width = 3;
    job.n_groups = n_groups;
    job.codes = d.codes.data();
    job.n_cells = kRows;
    for (std::size_t g = 0; g < n_groups; ++g) job.laid_out.push_back(static_cast<std::int64_t>(n_groups - 1 - g));
    job.slot = {-1, 1, 2, -1, -1, 0, -1};
    job.row_starts = {0, 20, 40, 60};
    job.col_starts = {0, 3, 7};
    job.task_starts = {0, 2, 3};  // the first task reads two chunks
    for (std::size_t g = 0; g < n_groups; g += per_block) job.starts.push_back(static_cast<std::int64_t>(g));
    job.starts.push_back(static_cast<std::int64_t>(n_groups));
    job.sizes.assign(n_groups, 1);
    job.dense.assign(2, dense ? 1 : 0);
    job.owner.assign(job.n_blocks(), -1);
    job.check();
    return job;
}

std::vector<quend::PieceView> views_of(const std::vector<quend::Piece>& pieces, std::size_t k,
                                       std::vector<quend::BlockView>& keep) {
    std::vector<quend::PieceView> out;
    const quend::Piece& p = pieces[k];
    if (p.form == PieceForm::none) return out;
    quend::PieceView v;
    v.form = p.form;
    v.j = p.j;
    if (p.form == PieceForm::dense) {
        v.partial = p.partial.view();
        v.partial.col_map = p.col_map.data();
    } else {
        keep.push_back(p.rows.view());
        v.rows = keep.back();
        v.codes = p.rows.codes.data();
    }
    out.push_back(v);
    return out;
}

}  // namespace

// Any task cut, column chunk, piece form and block layout folds into the
// table one pass over the whole matrix gives.
TEST(DaskTask, PiecesFoldIntoTheWholeTable) {
    for (bool dense : {true, false}) {
        for (std::size_t per_block : {1, 2, 5}) {
            const std::size_t G = 5;
            const Data d(G, 7 + per_block);
            const DaskJob job = job_for(d, G, per_block, dense);
            // The whole, in the layout's group order.
            std::vector<std::int64_t> laid(kRows);
            for (std::size_t r = 0; r < kRows; ++r) laid[r] = d.codes[r] < 0 ? -1 : job.laid_out[d.codes[r]];
            quend::TallyTable whole(job.parts, G, 3);
            const std::vector<std::int64_t> slot = job.slot;
            quend::add_block(whole.tally(), d.view(0, kRows, 0, kCols), laid.data(),
                             quend::BlockColumns{slot.data(), false, kCols});
            for (std::size_t k = 0; k < job.n_blocks(); ++k) {
                const std::size_t rows = static_cast<std::size_t>(job.starts[k + 1] - job.starts[k]);
                quend::TallyTable slab(job.parts, rows, 3);
                std::vector<quend::BlockView> keep;
                keep.reserve(8);
                for (std::size_t t = 0; t < 2; ++t)
                    for (std::size_t j = 0; j < 2; ++j) {
                        std::vector<BlockView> chunks;
                        for (auto i = job.task_starts[t]; i < job.task_starts[t + 1]; ++i)
                            chunks.push_back(d.view(static_cast<std::size_t>(job.row_starts[i]),
                                                    static_cast<std::size_t>(job.row_starts[i + 1]),
                                                    static_cast<std::size_t>(job.col_starts[j]),
                                                    static_cast<std::size_t>(job.col_starts[j + 1])));
                        const auto pieces = quend::chunk_pieces(job, t, j, chunks);
                        // A dense piece spans its chunk's tallied columns alone.
                        if (pieces[k].form == PieceForm::dense) {
                            EXPECT_EQ(pieces[k].col_map.size(), j == 0 ? 2u : 1u);
                        }
                        quend::fold(slab.tally(), job, k, views_of(pieces, k, keep));
                    }
                for (std::size_t q = 0; q < job.parts.size(); ++q)
                    for (std::size_t o = 0; o < rows * 3; ++o)
                        EXPECT_DOUBLE_EQ(slab.tally().part[q][o],
                                         whole.tally().part[q][static_cast<std::size_t>(job.starts[k]) * 3 + o]);
            }
        }
    }
}
