#pragma once
// Reference text of compute_sample_div_index_v2 and compute_sample_div_index; help() puts the binding's signature line
// above each.
namespace quend::tolvar::doc {

inline constexpr const char* compute_sample_div_index_v2 =
    R"doc(Sample diversity index of each cluster, reduced version.

The index is the Shannon entropy, in bits, of a cluster's cells over samples.

Parameters
----------
adata : anndata.AnnData
    Its obs holds sample_col and cluster_col; obs[sdi_col] is written.
sample_col : str
    obs column of sample labels.
cluster_col : str
    obs column of cluster labels (matched by their text form).
sdi_col : str
    Column of the result and of obs that receives the index.

Returns
-------
pandas.DataFrame
    Indexed by cluster with N_samples and the index under sdi_col (the
    columns Tumor_pct and sample_diversity_index stay empty unless sdi_col
    names one of them). Also writes adata.obs[sdi_col]: the rounded index of
    each cell's cluster, as text. Prints nothing.

Raises
------
KeyError
    A missing obs column.

Examples
--------
>>> tolvar.compute_sample_div_index_v2(adata)
)doc";

inline constexpr const char* compute_sample_div_index = R"doc(Sample diversity index of tumour clusters.

The index is the Shannon entropy, in bits, of a cluster's cells over samples:
0 for a cluster from one patient (typical of tumour clones), log2(k) for a
cluster split evenly over k samples.

Parameters
----------
adata : anndata.AnnData
    Its obs holds the columns below; obs[sdi_col] is written.
sample_col : str
    obs column of sample labels.
cluster_col : str
    obs column of cluster labels (matched by their text form).
tumor_dec : str
    obs column of the per-cell tumour call.
ref_ind_col : str
    obs column of the per-cell reference flag (boolean or 0/1).
sdi_col : str
    obs column to write.
tumor_name : str
    The tumor_dec value that marks a tumour cell.

Returns
-------
pandas.DataFrame
    Indexed by the sorted cluster labels with Tumor_pct, N_samples,
    sample_diversity_index, Ref_pct and Tumor (Tumor_pct >= 50); percentages
    truncated to whole numbers. Also writes adata.obs[sdi_col]: the rounded
    index of each cell's cluster, as text (replacing an existing column).
    Prints nothing.

Raises
------
KeyError
    A missing column.

Examples
--------
>>> sdi = tolvar.compute_sample_div_index(adata)
)doc";

}  // namespace quend::tolvar::doc
