#pragma once
// Label codes and cross tabulation of two per-cell code arrays.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quend {

// codes[i] <- rank[codes[i]]; negative codes (missing labels) stay negative.
void remap_codes(std::int64_t* codes, std::size_t n, const std::vector<std::int64_t>& rank);

// n_a x n_b table (row-major) of the number of positions with (a[i], b[i]);
// positions where either code is negative are skipped.
std::vector<std::int64_t> cross_counts(const std::int64_t* a, const std::int64_t* b, std::size_t n, std::size_t n_a,
                                       std::size_t n_b);

// Number of positions per code (negative codes skipped).
std::vector<std::int64_t> code_counts(const std::int64_t* codes, std::size_t n, std::size_t n_codes);

// Per-code sum of flags/values, NaN skipped.
std::vector<double> code_sums(const std::int64_t* codes, const double* values, std::size_t n, std::size_t n_codes);

}  // namespace quend
