#pragma once
// Reference text of plot_deg; help() puts the binding's signature line above it.
namespace quend::deg::doc {

inline constexpr const char* plot_deg = R"doc(One panel per DEG table: the top significant genes as a ranked curve.

Each gene's name is written vertically at its point, followed by its
(-log10 pval_adj) when show_log_pv. Genes with ``pval_adj <= pval_cutoff``
are shown.

Parameters
----------
df_deg_dct : dict
    {comparison: DEG table}, typically the first result of simple_DEG.
reference : str
    Column to rank and plot: 'log2_FC' for tables of simple_DEG ('logFC'
    for tables that use that name); any other value ranks by pval_adj and
    plots -log10(pval_adj).
n_genes_to_show : int
    Genes per panel.
pval_cutoff : float
    Largest pval_adj shown (inclusive).
figsize : tuple
    Size of one panel; the figure is ncols panels wide.
dpi : int
    Figure resolution.
text_fs, title_fs, label_fs, tick_fs : float
    Font sizes of gene names, titles, axis labels and ticks.
ncols : int
    Panels per row.
wspace, hspace : float
    Spacing between panels.
deg_stat_dct : dict, optional
    ``{panel: {label: count}}`` appended to titles, e.g.
    'KO_vs_others (UP: 130, DOWN: 92)'.
show_log_pv : bool
    Append each gene's -log10 pval_adj to its name.

Returns
-------
None
    After plt.show(). A comparison without significant genes leaves an empty
    panel; surplus grid cells are hidden. To keep the figure, call
    ``plt.gcf().savefig(...)`` before the figure is closed (in a notebook,
    ``%config InlineBackend.close_figures = False`` or ``plt.ioff()``).

Raises
------
KeyError
    A missing column or a missing deg_stat_dct entry. An empty dictionary
    raises the plotting library's error.

Examples
--------
>>> deg.plot_deg(significant, reference="log2_FC")
)doc";

}  // namespace quend::deg::doc
