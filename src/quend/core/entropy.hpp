#pragma once
// Shannon entropy of count distributions, summed the way numpy does so the
// results agree with a numpy rendering to the last bit.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quend {

struct EntropyResult {
    double bits = 0.0;  // sum of -p log2 p over the non-zero shares
    std::int64_t n_nonzero = 0;
};

// Shares are taken in descending order of count (a value_counts table);
// zero counts are dropped; no counts at all gives 0 bits.
EntropyResult shannon_entropy_bits(const std::int64_t* counts, std::size_t n);

}  // namespace quend
