#pragma once
// Welch statistics of each group and of each group's rest (every other row
// of the tallies) from per-group tallies: count, mean and variance (ddof 1)
// per group and item, as one pass over a matrix gives them. The rest is
// merged from the other groups (Chan et al.'s pairwise update), never formed
// as total minus group: the subtraction loses the digits of a small rest
// beside a large group, the merge only adds non-negative terms.
#include <cstddef>
#include <vector>

#include "core/welch.hpp"

namespace quend {

// Row-major groups x items tables. `var` is NaN (or anything) where the
// count is below two; `mean` anything where the count is zero.
struct GroupTallies {
    std::size_t n_groups = 0;
    std::size_t n_items = 0;
    const double* count = nullptr;
    const double* mean = nullptr;
    const double* var = nullptr;
};

// Group g's statistics, with the conventions of group_stats: NaN mean
// without values, NaN variance below two values.
GroupStats group_row(const GroupTallies& t, std::size_t g);

// The rest of every group g: the merge of all rows but g.
std::vector<GroupStats> rest_rows(const GroupTallies& t);

}  // namespace quend
