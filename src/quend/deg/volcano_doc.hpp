#pragma once
// Reference text of plot_volcano; help() puts the binding's signature line above it.
namespace quend::deg::doc {

inline constexpr const char* plot_volcano = R"doc(Volcano plot of one DEG table: fold change against -log10 p-value.

p-values are floored at 1e-300. Genes with ``pval_col < pval_cutoff`` (strict)
and ``|logFC_col| >= logFC_cutoff`` are drawn as 'Significant'; dashed lines
mark the cut-offs; the top_n_labels most significant of them are labelled
(moved apart with adjustText when it is installed, see ADJUST_TEXT).

Parameters
----------
df_deg : pandas.DataFrame
    One DEG table; it is not modified.
logFC_col : str
    Fold-change column: pass 'log2_FC' for tables of simple_DEG.
pval_col : str
    p-value column.
gene_col : str, optional
    Column with the gene labels; None uses the row index.
pval_cutoff, logFC_cutoff : float
    Significance thresholds.
top_n_labels : int
    Number of significant genes labelled.
figsize : tuple
    Figure size in inches.
xlim, ylim : tuple, optional
    Axis limits, or None.
title : str
    Figure title.

Returns
-------
None
    After plt.show(); see plot_deg for keeping the figure.

Raises
------
KeyError
    A missing column.

Examples
--------
>>> deg.plot_volcano(full["KO_vs_others"], logFC_col="log2_FC", title="KO vs WT")
)doc";

}  // namespace quend::deg::doc
