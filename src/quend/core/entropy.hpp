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

// The entropy of each group's distribution over labels, from one group code
// (0 .. n_groups-1) and one label code per position; a negative code on
// either side skips the position. Counted per group from the positions
// themselves, so memory grows with n, never with n_groups x labels (one
// label per position is a common mistake: the barcode column).
std::vector<EntropyResult> grouped_entropy_bits(const std::int64_t* groups, const std::int64_t* labels, std::size_t n,
                                                std::size_t n_groups);

}  // namespace quend
