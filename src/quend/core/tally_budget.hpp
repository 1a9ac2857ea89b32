#pragma once
// How much memory one step of the tally engine may take, derived from one
// value (orvalen.settings.block_bytes) so that a user who lowers it lowers
// every size together:
// - a backed block reads about `block_bytes` of stored values;
// - a Dask reduce task owns a finished result slice of at most `slice_bytes`;
// - a Dask merge or fold task takes at most `merge_bytes` of inputs: a
//   quarter of the smallest worker's memory when a cluster tells it (inputs,
//   output and the worker's own data fit), else a fixed multiple.
// A slice stays within a quarter of the merge budget, so that the pieces
// folded into it fit beside it.
#include <cstddef>

namespace quend {

struct TallyBudget {
    std::size_t block_bytes = 0;
    std::size_t slice_bytes = 0;
    std::size_t merge_bytes = 0;
};

// The default of `budget` (orvalen.settings.block_bytes).
constexpr std::size_t kDefaultBudget = std::size_t{32} << 20;

// `budget`: bytes of one block, at least 1. `worker_memory`: the smallest
// worker's memory limit in bytes, 0 when unknown.
TallyBudget tally_budget(std::size_t budget, std::size_t worker_memory = 0);

}  // namespace quend
