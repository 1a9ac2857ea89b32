#pragma once
#include <cstddef>

namespace quend {

// Sum of a[0..n) with numpy's pairwise summation (eight accumulators up to
// 128 values, halves above), so it rounds exactly as numpy.sum does on a
// contiguous float64 block.
double pairwise_sum(const double* a, std::size_t n);

}  // namespace quend
