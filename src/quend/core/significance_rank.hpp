#pragma once
// Ranking of items by how many comparisons they pass and by their combined
// p-value, robust to the combined value falling below the double range.
#include <cstddef>
#include <vector>

#include "core/strided.hpp"

namespace quend {

// Product of p-values kept as mantissa * 2^exponent so that it never
// underflows; `zero` when a factor is exactly 0.
struct PProduct {
    bool zero = false;
    double mantissa = 1.0;  // in [0.5, 1) once normalised
    long exponent = 0;
    double value = 1.0;  // the plain double product, as a sequential multiply gives it
};

PProduct p_product(const double* p, std::size_t n, std::ptrdiff_t stride);

// True when a's product is strictly smaller than b's. Products that are
// normal doubles compare by -log10 of the plain product (ties where that
// value ties); smaller ones compare exactly by mantissa and exponent.
bool p_product_less(const PProduct& a, const PProduct& b);

// Items (rows of `p`, columns = comparisons) with at least one p-value at or
// below `cutoff`, ordered by that count (descending), then by the product of
// their p-values (ascending); items equal in both keep their order. NaN
// p-values count as 1.
std::vector<std::size_t> rank_by_significance(const StridedMatrix& p, double cutoff);

}  // namespace quend
