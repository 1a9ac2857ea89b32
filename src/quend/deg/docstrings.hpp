#pragma once
// Reference text of orvalen.deg, shown by help() and `?` in a notebook. The
// first line of each docstring, the call signature, comes from the binding.
namespace quend::deg::doc {

inline constexpr const char* module = R"doc(Differential expression between sample groups.

Welch's t-test of every gene between groups of samples with multiple-testing
correction (simple_DEG_pair, simple_DEG), a gene-by-comparison summary
(get_deg_summary), sample-to-condition dictionaries, per-group detection or
mean expression (get_gene_expression_mean), and two plots (plot_deg,
plot_volcano). Use help(deg.<function>) for each function's reference.

The DEG tables are indexed by gene with the columns ``log2_FC``
(``log2(mean_test / (mean_ref + 1e-10) + 1e-10)``), ``mean_ref``,
``mean_test``, ``pval`` (two-sided Welch's t-test) and ``pval_adj``.

ADJUST_TEXT is True when the optional adjustText library can be found (then
plot_volcano moves labels apart). The libraries the module uses (pd, np, sm,
multipletests, ttest_ind, stats, plt, adjust_text) are imported on first use.)doc";

inline constexpr const char* simple_DEG_pair = R"doc(Welch's t-test of every gene between exactly two sample groups.

Parameters
----------
df_gene_by_sample_log_expr : pandas.DataFrame
    Genes as rows, samples as columns, log-scale values (converted to
    float; NaN allowed).
condition_list : list, array or pandas.Series
    One condition label (text) per column, in column order; a Series is
    used by position, not aligned by index.
ref_condition : str, optional
    Label of the reference group; None takes the condition of the first
    column. A plain str: wrap a label taken from get_sample_to_group_dict
    (a numpy string) in str(...).
pval_cutoff, logFC_cutoff : float
    Significance thresholds, both inclusive.
test_method : str
    Accepted for compatibility; every call runs Welch's t-test.
corr_method : str or None
    A method name of statsmodels' multipletests ('fdr_bh', 'bonferroni',
    ...), or None for no correction (pval_adj equals pval).
pval_ref_col : str
    The column compared with pval_cutoff: 'pval_adj' or 'pval'.
verbose : bool
    Print the lines described under Notes.

Returns
-------
dict
    On success ``{'error': False, 'deg': significant, 'deg_raw': all}``:
    'deg_raw' holds every tested gene sorted by pval; 'deg' the genes with
    ``pval_ref_col <= pval_cutoff`` and ``|log2_FC| >= logFC_cutoff``,
    largest absolute fold change first. A gene is tested when each group has
    more than one non-missing value and a standard deviation of at least
    1e-08. When the groups cannot be tested, ``{'error': True,
    'error_message': text}`` instead, the text starting with
    ``simple_DEG_pair supports ***exactly 2 groups***. Received groups: ``,
    ``simple_DEG_pair ref_condition '<label>' must be in ``,
    ``simple_DEG_pair need >=2 samples per group. ref=<n>, test=<n>`` or
    ``No valid p-values in simple_DEG_pair. Returning empty DEG result.``

Raises
------
TypeError
    ref_condition (unless None), test_method, pval_ref_col or corr_method
    (unless None) is not a plain str; ref_condition is omitted and the first
    condition is not text; a cut-off is not a number.
ValueError
    Non-numeric expression values, or condition_list of the wrong length.
KeyError
    Unknown pval_ref_col. An unknown corr_method raises multipletests' error.

Notes
-----
Prints, when verbose: with ref_condition=None first
``INFO: reference condition = '<label>'`` (no line end), then
``Significant DEGs (<test> vs <ref>) = <n> (up <n>, down <n>) genes.``

Examples
--------
>>> res = deg.simple_DEG_pair(expr, ["WT", "WT", "WT", "KO", "KO", "KO"], ref_condition="WT")
Significant DEGs (KO vs WT) = 10 (up 10, down 0) genes.
>>> res["deg"].head()
)doc";

inline constexpr const char* simple_DEG =
    R"doc(Run simple_DEG_pair for every group of a study with any number of groups.

With ref_condition=None each group is tested against all other samples pooled
(one-vs-rest, relabelled 'others'); with a reference, each other group against
it (one-vs-reference; samples of the remaining groups are left out of that
comparison).

Parameters
----------
df_gene_by_sample_log_expr : pandas.DataFrame
    Genes as rows, samples as columns, log-scale values.
condition_list : list, array or pandas.Series
    One condition label per column, in column order.
ref_condition : str, optional
    Reference group, a plain str (wrap a numpy string label in str(...));
    None runs one-vs-rest.
pval_cutoff, logFC_cutoff : float
    Significance thresholds, both inclusive.
test_method : str
    Accepted for compatibility; Welch's t-test is always run.
corr_method : str or None
    multipletests method name, or None for no correction.
pval_ref_col : str
    'pval_adj' or 'pval', compared with pval_cutoff.
verbose : bool
    Print the lines described under Notes.

Returns
-------
significant, full : tuple of two dict
    DEG tables keyed ``'<group>_vs_others'`` in the order in which the groups
    first appear (the same suffix in both modes: group KO against reference
    WT is 'KO_vs_others'). Comparisons that simple_DEG_pair cannot run (a
    group with one sample, no testable gene) are left out silently.

Raises
------
ValueError
    ``ref_condition '<ref>' must be in [...]`` when the reference is not
    among the conditions (after printing the mode line).
TypeError
    As for simple_DEG_pair.

Notes
-----
Prints, when verbose, ``### MODE: one-vs-rest ###`` or
``### MODE: one-vs-reference (<ref>) ###``, then the summary line of every
comparison. With verbose=False nothing is printed.

Examples
--------
>>> significant, full = deg.simple_DEG(expr, conditions, ref_condition="WT")
### MODE: one-vs-reference (WT) ###
Significant DEGs (KO vs WT) = 10 (up 10, down 0) genes.
>>> list(significant)
['KO_vs_others']
)doc";

inline constexpr const char* get_deg_summary = R"doc(Gene-by-comparison matrix of one column of several DEG tables.

Parameters
----------
dct_deg : dict
    {comparison: DEG table}, for instance the second result of simple_DEG.
col : str
    The column to collect.

Returns
-------
pandas.DataFrame
    Float matrix: one row per gene found in any table, one column per key of
    dct_deg (in order), holding that table's col value, or 1.0 where the gene
    is absent from the table. Prints nothing.

Raises
------
KeyError
    A table lacks col.

Examples
--------
>>> significant, full = deg.simple_DEG(expr, conditions, verbose=False)
>>> deg.get_deg_summary(full, col="pval")
)doc";

inline constexpr const char* get_gene_expression_mean =
    R"doc(Condense a cells-by-genes AnnData into one row per sample (or other obs group).

With the defaults (nz_pct=True, min_nz_pct=0.2) the values are detection
fractions, the share of each row's cells with a value above 0, and genes
detected in fewer than 20 % of the cells of every condition are dropped (a
UserWarning says so when no gene is left). nz_pct=False gives the mean
expression of every gene instead.

Parameters
----------
adata : anndata.AnnData
    obs holds group_col and a 'condition' column. X may be in memory,
    backed (``read_h5ad(..., backed='r')``) or a Dask array; see
    docs/scaling.md.
genes : list of str
    Gene names to report, in that order; None or empty for all genes.
group_col : str
    obs column that defines the rows.
nz_pct : bool
    True: fraction of each row's cells with a value above 0; False: mean
    expression.
min_nz_pct : float
    With nz_pct, keep only genes whose detection fraction, averaged over the
    samples of a condition, reaches this value (inclusive) in at least one
    condition.

Returns
-------
pandas.DataFrame
    Indexed by the distinct group_col values in ascending order; the first
    column 'Group' holds each row's condition, then one column per gene. In
    mean mode the index is named 'Group' and no gene is filtered. Cells whose
    group or condition label is missing are left out. Prints nothing.

Raises
------
KeyError
    A missing obs column or an unknown gene.

Examples
--------
>>> pseudo = deg.get_gene_expression_mean(adata, nz_pct=False)
>>> bulk = pseudo.drop(columns="Group").T        # genes by samples, for simple_DEG
>>> detected = deg.get_gene_expression_mean(adata, genes=["g3", "g1"])
)doc";

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
