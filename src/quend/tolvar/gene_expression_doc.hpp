#pragma once
// Reference text of get_gene_expression; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* get_gene_expression = R"doc(Fraction of expressing cells per group and gene.

Parameters
----------
adata : anndata.AnnData
    Cells by genes. X may be in memory, backed
    (``read_h5ad(..., backed='r')``) or a Dask array; see docs/scaling.md.
items_to_plot : list of str
    Genes, in that order; None or empty for all genes.
group_col : str
    obs column that defines the rows.

Returns
-------
pandas.DataFrame
    Sorted values of obs[group_col] as rows, genes as columns, each value
    the share of the group's cells with a value above 0. Cells whose group
    label is missing are left out. Prints nothing.

Raises
------
KeyError
    A missing column (the message lists the columns obs has) or an unknown
    gene.

Warns
-----
UserWarning
    No group at all: no cell, or every group_col label missing.

Examples
--------
>>> tolvar.get_gene_expression(adata, items_to_plot=["g2", "g0"], group_col="cell_type")
)doc";

}  // namespace quend::tolvar::doc
