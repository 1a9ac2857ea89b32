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
template <typename Keep>
std::size_t pack_present(const double* run, std::size_t n, Keep&& keep, double* vals) {
    std::size_t c = 0;
    for (std::size_t k = 0; k < n; ++k) {
        vals[c] = run[k];
        c += (keep(k) && !std::isnan(run[k])) ? 1 : 0;
    }
    return c;
}

// Item i of `out` from its c packed values: count c, mean = pairwise sum / c
// (numpy's summation order), var = pairwise sum of squared deviations / c *
// c / (c - 1), as scipy's ttest_ind forms them. `sq` is scratch of c doubles.
void set_moments(GroupStats& out, std::size_t i, const double* vals, std::size_t c, double* sq);

// Calls visit(i, run) for every item i in order, where run[k] (k < width) is
// the item's value at sample sample_of(k), contiguous. Item-contiguous memory
// (a pandas block) is copied in tiles of items so that each sample's run is
// read contiguously; otherwise each item's values are gathered directly.
template <typename SampleOf, typename Visit>
void walk_items(const StridedMatrix& m, std::size_t width, SampleOf&& sample_of, Visit&& visit) {
    const std::size_t n = m.n_items;
    if (std::llabs(m.item_stride) >= std::llabs(m.sample_stride)) {
        std::vector<double> run(width);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < width; ++k) run[k] = m.at(i, sample_of(k));
            visit(i, static_cast<const double*>(run.data()));
        }
        return;
    }
    const std::size_t tile =
        std::max<std::size_t>(1, std::min<std::size_t>(512, 65536 / std::max<std::size_t>(width, 1)));
    std::vector<double> buf(tile * width);
    for (std::size_t i0 = 0; i0 < n; i0 += tile) {
        const std::size_t i1 = std::min(n, i0 + tile);
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t s = sample_of(k);
            for (std::size_t i = i0; i < i1; ++i) buf[(i - i0) * width + k] = m.at(i, s);
        }
        for (std::size_t i = i0; i < i1; ++i) visit(i, static_cast<const double*>(&buf[(i - i0) * width]));
    }
}

}  // namespace quend
