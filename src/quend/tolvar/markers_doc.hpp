#pragma once
// Reference text of get_markers_from_deg; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* get_markers_from_deg = R"doc(Marker genes per group from ranked per-group DEG tables.

Parameters
----------
df_dct : dict
    {key: table}; the part of the key before the first '_' is the group
    ('T cell_vs_rest' -> 'T cell'). Tables are indexed by gene with
    nz_pct_test, nz_pct_ref (detection fractions, 0 to 1) and ref_col.
ref_col : str
    Ranking column, larger is better.
N_mkrs : int
    Markers per group, at most.
nz_pct_test_min : float
    Keep genes detected in at least this share of the group's cells ...
nz_pct_ref_max : float
    ... and at most this share of the other cells (both inclusive).
rem_common : bool
    Drop genes that are markers of two or more groups from every list.

Returns
-------
dict or None
    {group: [genes]} in order of first appearance, ranked by ref_col (keys
    sharing a group name: the later one wins); None when a table lacks
    ref_col.

Raises
------
KeyError
    A missing nz_pct_test or nz_pct_ref.

Notes
-----
Prints ``ERROR: <ref_col> not found in column name of DEG results.`` when a
table lacks ref_col.

Examples
--------
>>> tolvar.get_markers_from_deg(tables)
{'T cell': ['CD3E', 'CD2']}
)doc";

}  // namespace quend::tolvar::doc
