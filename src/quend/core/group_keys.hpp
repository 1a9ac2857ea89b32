#pragma once
// Groups of cells from several keys (obs columns), read through each key's
// integer codes: no string is built per cell.
// - combine_keys: one code per distinct combination of the keys' codes,
//   numbered by first appearance; a cell with any key missing (negative
//   code) is in no group (-1), as pandas' groupby(dropna=True) leaves it out.
// - keep_groups_of_at_least: drops groups with fewer cells, renumbering the
//   others in order.
// - constant_within: whether a column's codes are constant in every group.
// All are linear in cells (a hash map only when the product of the label
// counts outgrows a table).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quend {

struct CellGroups {
    std::vector<std::int64_t> codes;  // per cell: group, or -1
    std::vector<std::int64_t> first;  // per group: its first cell
    std::vector<std::int64_t> size;   // per group: its cells
};

// `keys[k]` holds the codes of key k for `n_cells` cells, each in
// [0, n_labels[k]) or negative for missing. std::invalid_argument for a code
// out of range.
CellGroups combine_keys(const std::vector<const std::int64_t*>& keys, const std::vector<std::size_t>& n_labels,
                        std::size_t n_cells);

// In place: groups of fewer than `min_cells` cells dropped.
void keep_groups_of_at_least(CellGroups& g, std::int64_t min_cells);

// True when every group's cells share one value of `values` (any integers;
// negative ones are a value like another). Cells in no group are ignored.
bool constant_within(const std::int64_t* values, const CellGroups& g);

}  // namespace quend
