#pragma once
// Reference text of get_population; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* get_population = R"doc(Cell-type counts and percentages per sample.

Parameters
----------
pids : list, array or pandas.Series
    Sample label of every cell.
cts : list, array or pandas.Series
    Cell type of every cell, same length.
sort_by : str or list of str
    Cell types by which the percentage table is sorted; empty: not sorted.

Returns
-------
counts, percent : tuple of pandas.DataFrame
    Sorted samples as rows, sorted cell types as columns; every row of
    percent sums to 100. Only percent is sorted by sort_by. Cells whose
    sample or cell-type label is missing are left out. Prints nothing.

Raises
------
KeyError
    Unknown sort_by.
TypeError
    Labels that cannot be ordered.

Examples
--------
>>> counts, pct = tolvar.get_population(adata.obs["sample"], adata.obs["cell_type"])
)doc";

}  // namespace quend::tolvar::doc
