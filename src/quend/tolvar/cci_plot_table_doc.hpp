#pragma once
// Reference text of cci_get_df_to_plot; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* cci_get_df_to_plot =
    R"doc(Significant interactions of all samples laid out over their union.

Parameters
----------
df_dct : dict
    CCI result dictionary {sample: table}.
pval_cutoff : float
    Select interactions with pval <= pval_cutoff ...
mean_cutoff : float
    ... and mean >= mean_cutoff in at least one sample.
target_cells : list of str, optional
    When a list, only interactions involving one of these cell types.

Returns
-------
dict
    {sample: DataFrame}; every table has the same index (the union, in order
    of first selection); an interaction a sample lacks has mean 0 and pval 1;
    the columns gene_pair, cell_pair, gene_A, gene_B, cell_A, cell_B are
    filled from the identifier.

Raises
------
KeyError
    A missing column.
IndexError
    A malformed identifier.

Notes
-----
Prints ``Union of Interactions: <n>``.

Examples
--------
>>> to_plot = tolvar.cci_get_df_to_plot(cci, pval_cutoff=0.01, mean_cutoff=1)
Union of Interactions: 3
)doc";

}  // namespace quend::tolvar::doc
