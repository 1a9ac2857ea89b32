#pragma once
// Reference text of simple_DEG_pair; help() puts the binding's signature line above it.
namespace quend::deg::doc {

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

}  // namespace quend::deg::doc
