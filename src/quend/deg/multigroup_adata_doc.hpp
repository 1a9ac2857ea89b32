#pragma once
// Reference text of simple_DEG_adata; help() puts the binding's signature line above it.
namespace quend::deg::doc {

inline constexpr const char* simple_DEG_adata =
    R"doc(simple_DEG on the cells of an AnnData, without a dense genes x cells table.

Returns what ``simple_DEG(adata.to_df(layer).T, adata.obs[condition_col])``
returns, and prints the same lines: with ref_condition=None each group
against all other cells pooled (one-vs-rest), else each group against the
reference (one-vs-reference). The statistics come from one pass over X that
tallies, per group and gene, the number of values, their mean and their
variance; each group's rest is merged from the other groups' tallies
(Chan's pairwise update), so the numbers agree with the dense computation to
rounding (about 1e-15 relative).

Parameters
----------
adata : anndata.AnnData
    Cells by genes, log-scale values. X (or the layer) may be in memory,
    dense or sparse, backed (``read_h5ad(..., backed='r')``) or a Dask
    array; see docs/scaling.md.
condition_col : str
    obs column holding each cell's group. Cells whose label is missing are
    in no group and in every rest.
ref_condition : str, optional
    Reference group; None runs one-vs-rest.
pval_cutoff, logFC_cutoff : float
    Significance thresholds, both inclusive.
corr_method : str or None
    multipletests method name, or None for no correction.
pval_ref_col : str
    'pval_adj' or 'pval', compared with pval_cutoff.
layer : str, optional
    Read ``adata.layers[layer]`` instead of X.
verbose : bool
    Print the lines described under Notes.
min_std : float
    A gene is tested when both sides have more than one value and both
    standard deviations (ddof 1) are at least min_std. The default 1e-08 is
    simple_DEG's rule, which drops a gene constant in one group (a marker
    switched off in a cluster, all zeros); 0 tests such a gene whenever the
    Welch denominator is positive, as scanpy's t-test does.

Returns
-------
significant, full : tuple of two dict
    DEG tables (log2_FC, mean_ref, mean_test, pval, pval_adj, indexed by
    var_names) keyed ``'<group>_vs_others'`` in the order in which the groups
    first appear among the cells. Comparisons that cannot run (a group with
    one cell, no testable gene) are left out silently.

Raises
------
KeyError
    condition_col is not in obs, or layer is not in layers (the message
    lists what there is).
ValueError
    ``ref_condition '<ref>' must be in [...]`` when the reference is not a
    group (after printing the mode line); min_std below 0.
TypeError
    adata is not an AnnData; the argument types of simple_DEG.

Notes
-----
Prints, when verbose, ``### MODE: one-vs-rest ###`` or
``### MODE: one-vs-reference (<ref>) ###``, then one line per comparison,
``Significant DEGs (<group> vs others) = 12 (up 7, down 5) genes.``

Examples
--------
>>> significant, full = deg.simple_DEG_adata(adata, "cell_type", verbose=False)
>>> full["B cells_vs_others"].head()
)doc";

}  // namespace quend::deg::doc
