#pragma once
// Compressed rows regrouped so that the rows of one group are adjacent. With
// many groups, tallying rows in storage order jumps between the groups' rows
// of results at every cell and misses the cache; grouped, each group's results
// stay hot while its rows are read. Within a group rows keep their order, so
// sums add up in the same order as in storage order.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quend {

struct GroupedRows {
    std::vector<std::int64_t> rows;   // source row of each regrouped row
    std::vector<std::int64_t> codes;  // its group
};

// Stable counting sort of the rows by group; rows with a negative code are
// left out.
GroupedRows rows_by_group(const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups);

// The given rows of a CSR block copied, in that order, into `data`, `indices`
// and `indptr` (n + 1 entries). Any element type but bool.
template <typename T, typename I, typename P>
void gather_rows(const T* data, const I* indices, const P* indptr, const std::vector<std::int64_t>& rows,
                 std::vector<T>& out_data, std::vector<I>& out_indices, std::vector<std::int64_t>& out_indptr);

}  // namespace quend
