#pragma once
// Statistics of a union of sample groups from each group's own statistics,
// by Chan's pairwise update of (count, mean, sum of squared deviations), so
// one pass over a table serves every "one group against all the others"
// comparison without summing raw squares.
#include <cstddef>
#include <vector>

#include "core/welch.hpp"

namespace quend {

// Per item, the union of `parts[k]` for every k with `take[k]` true. A part
// with no values adds nothing; var stays NaN below two values. Parts must
// hold the same number of items.
GroupStats combine_stats(const std::vector<GroupStats>& parts, const std::vector<bool>& take);

}  // namespace quend
