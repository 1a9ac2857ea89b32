#pragma once
// Reference text of get_pseudobulk; help() puts the binding's signature line above it.
namespace quend::deg::doc {

inline constexpr const char* get_pseudobulk =
    R"doc(Pseudo-bulk profiles: cells summed (or otherwise condensed) per group.

One row per observed combination of the group_cols values, in order of
first appearance, and one layer per statistic, all computed in one pass
over X (or the layer) whether it is in memory (dense, CSR, CSC), backed
(``read_h5ad(..., backed='r')``) or a Dask array; see docs/scaling.md.
Sparse X is never densified.

Cells whose value of any key is missing (None, NaN) belong to no group,
as with ``pandas.DataFrame.groupby(dropna=True)``; when no group is left,
a UserWarning says so and the result has no rows. NaN values in X are
skipped by every statistic but ``detected``, per (group, gene) pair.

Parameters
----------
adata : anndata.AnnData
    Cells by genes.
group_cols : str or list of str
    obs columns whose combined values define the groups (the sample, or the
    sample and the cell type, say).
stats : str or list of str
    Statistics per group and gene, each a layer of the result:

    - ``'sum'``: sum of the values;
    - ``'mean'``: mean of the values;
    - ``'var'``: sample variance (one degree of freedom); NaN for a group
      with fewer than two values;
    - ``'count_nonzero'``: number of values other than 0;
    - ``'count'``: number of values (cells without NaN);
    - ``'detected'``: share of the group's cells with a value above 0.

    For float32 input, means and variances are accumulated in float64 and
    rounded once to float32; the others, sums included (float32 holds whole
    counts only up to 2**24), are float64.
layer : str, optional
    Read ``adata.layers[layer]`` instead of X (KeyError listing the layers
    when there is none of that name).
genes : list of str, optional
    Gene names to report, in that order; None or empty for all genes.
min_cells : int
    Groups with fewer cells are left out.

Returns
-------
anndata.AnnData
    Groups by genes. ``layers`` holds one table per statistic, named after
    it; ``X`` is the first statistic's table (the same array). ``obs`` holds
    the group_cols (their dtype kept, categorical included), ``n_cells``,
    and every other obs column whose value is the same for all cells of
    each group (the donor's condition, the batch), so that the result goes
    into a bulk design (DESeq2, say) as it is; an obs column named
    ``n_cells`` gives way to the cell counts. ``obs_names`` are the key
    values joined with ``'_'``. ``var`` holds the rows of adata.var for the
    genes reported.

Raises
------
ValueError
    For an unknown statistic (the message lists the known ones), a
    statistic or key named twice, or a negative min_cells.
KeyError
    For a group column, layer or gene that is not there.

Examples
--------
>>> pb = deg.get_pseudobulk(adata, ["sample", "cell_type"], stats=["sum", "count_nonzero"], min_cells=10)
>>> counts = pb.to_df()  # groups by genes, sums
)doc";

}  // namespace quend::deg::doc
