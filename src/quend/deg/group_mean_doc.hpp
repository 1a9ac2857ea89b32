#pragma once
// Reference text of get_gene_expression_mean; help() puts the binding's signature line above it.
namespace quend::deg::doc {

inline constexpr const char* get_gene_expression_mean =
    R"doc(Condense a cells-by-genes AnnData into one row per sample (or other obs group).

With the defaults (nz_pct=True, min_nz_pct=0.2) the values are detection
fractions, the share of each row's cells with a value above 0, and genes
detected in fewer than 20 % of the cells of every condition are dropped (a
UserWarning says so when no gene is left). nz_pct=False gives the mean
expression of every gene instead.

Each row's condition is read from the obs column named 'condition' (a fixed
name, not a parameter): the condition of the row's first cell. When a
group's cells carry more than one condition (group_col='cell_type', say), a
UserWarning says how many groups do.

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
    A missing obs column (the message lists the columns obs has) or an
    unknown gene.

Warns
-----
UserWarning
    Groups whose cells carry more than one condition; no group at all (no
    cell, or every group_col label missing); no gene left by min_nz_pct.

Examples
--------
>>> pseudo = deg.get_gene_expression_mean(adata, nz_pct=False)
>>> bulk = pseudo.drop(columns="Group").T        # genes by samples, for simple_DEG
>>> detected = deg.get_gene_expression_mean(adata, genes=["g3", "g1"])
)doc";

}  // namespace quend::deg::doc
