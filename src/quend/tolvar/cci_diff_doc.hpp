#pragma once
// Reference text of cci_get_diff_interactions and test_group_diff; help() puts the binding's signature line above each.
namespace quend::tolvar::doc {

inline constexpr const char* cci_get_diff_interactions =
    R"doc(Welch's two-sided t-test of every column between sample groups, ranked.

Parameters
----------
df_cci_sample : pandas.DataFrame
    Samples as rows, items (interactions) as columns, numbers: the table of
    cci_get_means or any such table.
sample_group_map : dict or pandas.Series
    sample -> group (get_sample_to_group_map); every sample of the table
    must be in it.
ref_group : object, optional
    None: every pair of groups; a group label: every other group against it.
pval_cutoff : float
    Keep items with a p-value at most this (inclusive) in at least one
    comparison.

Returns
-------
pandas.DataFrame
    Indexed by the kept items, one column of p-values per comparison named
    '<group>_vs_<other>' (all pairs: the later group in sort order first,
    e.g. B_vs_A, C_vs_A, C_vs_B). Untestable p-values are 1; missing values
    are omitted. Rows are ranked by the number of significant comparisons,
    then by the product of their p-values. An empty table when there is no
    comparison (one group, or ref_group not among the groups). Prints
    nothing.

Raises
------
KeyError
    A sample missing from the map.
TypeError
    Group labels that cannot be ordered.

Examples
--------
>>> diff = tolvar.cci_get_diff_interactions(means, groups, ref_group="Normal")
>>> diff.columns.tolist()
['Tumor_vs_Normal']
)doc";

inline constexpr const char* test_group_diff =
    R"doc(Second name of cci_get_diff_interactions: calls the module's current one.

Parameters
----------
df_sample_by_items : pandas.DataFrame
    Samples as rows, items as columns, numbers.
sample_group_map : dict or pandas.Series
    sample -> group.
ref_group : object, optional
    None: every pair of groups; a group label: every other group against it.
pval_cutoff : float
    Keep items significant in at least one comparison.

Returns
-------
pandas.DataFrame
    What cci_get_diff_interactions returns; see
    help(tolvar.cci_get_diff_interactions).

Examples
--------
>>> tolvar.test_group_diff(means, groups, ref_group="Normal")
)doc";

}  // namespace quend::tolvar::doc
