#include "core/tally_budget.hpp"

#include <algorithm>
#include <limits>

namespace quend {

namespace {

// Slices and merges are this many blocks by default (128 MiB and 1 GiB).
constexpr std::size_t kSliceBlocks = 4, kMergeBlocks = 32;

std::size_t times(std::size_t a, std::size_t k) {
    return a > std::numeric_limits<std::size_t>::max() / k ? std::numeric_limits<std::size_t>::max() : a * k;
}

}  // namespace

TallyBudget tally_budget(std::size_t budget, std::size_t worker_memory) {
    TallyBudget b;
    b.block_bytes = std::max<std::size_t>(1, budget);
    b.merge_bytes =
        worker_memory > 0 ? std::max<std::size_t>(1, worker_memory / 4) : times(b.block_bytes, kMergeBlocks);
    b.slice_bytes = std::max<std::size_t>(1, std::min(times(b.block_bytes, kSliceBlocks), b.merge_bytes / 4));
    return b;
}

}  // namespace quend
