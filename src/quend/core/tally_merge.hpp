#pragma once
// Partial per-group tallies and the checks that guard the kernel's input.
//
// A matrix read in pieces (row blocks of a file, chunks of a distributed
// array) gives one GroupTallies per piece; adding them gives the tallies of
// the whole. Pieces that cover only some of the output columns are widened
// first, and only one piece per row range may count the group sizes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/group_expression.hpp"

namespace quend {

// Zero tallies of `n_cols` output columns; group sizes counted from `codes`
// when `codes` is given.
GroupTallies empty_tallies(std::size_t n_groups, std::size_t n_cols, bool with_sums,
                           const std::int64_t* codes = nullptr, std::size_t n_rows = 0);

// into += part, field by field. Throws std::invalid_argument when the shapes
// or the presence of sums differ.
void add_tallies(GroupTallies& into, const GroupTallies& part);

// `part`'s column k placed at output column `at[k]` of a tally `n_out` wide;
// group sizes kept when `keep_sizes`, zeroed otherwise.
GroupTallies widen_tallies(const GroupTallies& part, const std::vector<std::size_t>& at, std::size_t n_out,
                           bool keep_sizes);

// Compressed sparse layout with `n_major` slices (rows of a CSR) over
// `n_minor` positions: indptr starts at 0, never decreases and ends at nnz;
// every index lies in [0, n_minor). Returns "" when sound, else what is wrong.
// `canonical` tells whether indices strictly increase within each slice (no
// duplicates to sum).
template <typename I, typename P>
std::string check_compressed(const I* indices, const P* indptr, std::size_t n_major, std::size_t n_minor,
                             std::size_t nnz, bool& canonical);

}  // namespace quend
