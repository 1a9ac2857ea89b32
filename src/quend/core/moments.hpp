#pragma once
// The per-item moments behind every Welch route, and the one walk over a
// table that feeds them. group_stats and rest_stats both form their
// statistics here, so they agree bit for bit by construction.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <vector>

#include "core/strided.hpp"
#include "core/welch.hpp"

namespace quend {

// Statistics of `n_items` items holding no values: count 0, NaN moments.
GroupStats unset_stats(std::size_t n_items);

// Copies the values run[k] (k < n) that `keep(k)` selects and that are not
// NaN to the front of `vals`, in order, without branching; returns how many.
// `vals` holds at least n doubles.
template <typename Run, typename Keep>
std::size_t pack_present(Run run, std::size_t n, Keep&& keep, double* vals) {
    std::size_t c = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double v = run[k];
        vals[c] = v;
        c += (keep(k) && !std::isnan(v)) ? 1 : 0;
    }
    return c;
}

// Item i of `out` from its c packed values: count c, mean = pairwise sum / c
// (numpy's summation order), var = pairwise sum of squared deviations / c *
// c / (c - 1), as scipy's ttest_ind forms them. `sq` is scratch of c doubles.
void set_moments(GroupStats& out, std::size_t i, const double* vals, std::size_t c, double* sq);

// One item's values at the chosen samples, read where they lie.
template <typename SampleOf>
struct ItemRun {
    const double* row;
    std::ptrdiff_t stride;
    const SampleOf& sample_of;
    double operator[](std::size_t k) const { return row[static_cast<std::ptrdiff_t>(sample_of(k)) * stride]; }
};

// Calls visit(i, run) for every item i in order, where run[k] (k < width) is
// the item's value at sample sample_of(k). Item-contiguous memory (a pandas
// block) is copied in tiles of items so that each sample's run is read
// contiguously, and run is a pointer into the tile; otherwise run reads the
// item's values in place (an ItemRun), so `visit` takes it as `const auto&`.
template <typename SampleOf, typename Visit>
void walk_items(const StridedMatrix& m, std::size_t width, const SampleOf& sample_of, Visit&& visit) {
    const std::size_t n = m.n_items;
    if (std::llabs(m.item_stride) >= std::llabs(m.sample_stride)) {
        for (std::size_t i = 0; i < n; ++i)
            visit(i, ItemRun<SampleOf>{m.data + static_cast<std::ptrdiff_t>(i) * m.item_stride, m.sample_stride,
                                       sample_of});
        return;
    }
    const std::size_t tile =
        std::max<std::size_t>(1, std::min<std::size_t>(512, 65536 / std::max<std::size_t>(width, 1)));
    std::vector<double> buf(tile * width);
    for (std::size_t i0 = 0; i0 < n; i0 += tile) {
        const std::size_t i1 = std::min(n, i0 + tile);
        for (std::size_t k = 0; k < width; ++k) {
            const double* col = m.data + static_cast<std::ptrdiff_t>(sample_of(k)) * m.sample_stride;
            for (std::size_t i = i0; i < i1; ++i)
                buf[(i - i0) * width + k] = col[static_cast<std::ptrdiff_t>(i) * m.item_stride];
        }
        for (std::size_t i = i0; i < i1; ++i) visit(i, static_cast<const double*>(&buf[(i - i0) * width]));
    }
}

}  // namespace quend
