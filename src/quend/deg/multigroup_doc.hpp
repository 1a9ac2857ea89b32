#pragma once
// Reference text of simple_DEG and get_deg_summary; help() puts the binding's signature line above each.
namespace quend::deg::doc {

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

}  // namespace quend::deg::doc
