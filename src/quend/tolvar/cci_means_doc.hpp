#pragma once
// Reference text of cci_get_means and get_cci_means; help() puts the binding's signature line above each.
namespace quend::tolvar::doc {

inline constexpr const char* cci_get_means =
    R"doc(Sample-by-interaction table of mean values from per-sample CCI tables.

Parameters
----------
cci_df_dct : dict
    CCI result dictionary {sample: table}; its order is the row order.
cci_idx_lst : list of str, optional
    Interaction identifiers to use as columns, in order; None selects them
    from the data (then cells, genes and pval_cutoff apply).
cells : list of str
    Keep only interactions whose sender or receiver cell type is listed
    (empty: no restriction).
genes : list of str
    Keep only interactions whose sender or receiver gene is listed (empty:
    no restriction).
pval_cutoff : float
    Keep interactions with pval <= pval_cutoff in at least one sample.

Returns
-------
pandas.DataFrame
    Float table, samples as rows, interactions as columns (first-appearance
    order when selected from the data); NaN where a sample lacks the
    interaction. Prints nothing.

Raises
------
KeyError
    A missing column.
ValueError
    An empty dictionary without cci_idx_lst (with it, the result is an empty
    table with those columns).

Examples
--------
>>> means = tolvar.cci_get_means(cci)
)doc";

inline constexpr const char* get_cci_means =
    R"doc(Second name of cci_get_means: calls the module's current cci_get_means.

Parameters
----------
cci_df_dct : dict
    CCI result dictionary {sample: table}.
cci_idx_lst : list of str, optional
    Interaction identifiers to use as columns.
cells, genes : list of str
    Cell types and genes to restrict the selection to.
pval_cutoff : float
    Significance cut-off of the selection.

Returns
-------
pandas.DataFrame
    What cci_get_means returns; see help(tolvar.cci_get_means).

Examples
--------
>>> means = tolvar.get_cci_means(cci)
)doc";

}  // namespace quend::tolvar::doc
