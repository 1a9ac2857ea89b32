#pragma once
// Statistics of "all samples but one group" for every group at once, from
// one pass over a table: each item's values are read once and every group's
// rest is formed from that row while it is in cache.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/strided.hpp"
#include "core/welch.hpp"

namespace quend {

// Per group g (codes 0..n_groups-1; negative codes belong to no group but
// to every rest): the statistics of the samples whose code is not g, NaN
// omitted, formed exactly as group_stats forms them for those samples (sums
// in sample order, numpy's pairwise summation, two-pass variance). Merging
// the groups' moments instead would drift in the last bits, which moves the
// test where two means nearly cancel.
// When `groups` is given, it receives each group's own statistics from the
// same pass, equal bit for bit to group_stats over the group's samples.
std::vector<GroupStats> rest_stats(const StridedMatrix& m, const std::vector<std::int64_t>& code, std::size_t n_groups,
                                   std::vector<GroupStats>* groups = nullptr);

}  // namespace quend
