#pragma once
// Reference text of pca_subsample; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* pca_subsample =
    R"doc(Project rows onto the components of a truncated SVD fitted on a subsample.

No centring. With more rows than N_cells_max_for_pca the SVD is fitted on a
random subset of exactly that many rows (drawn with Python's random; call
random.seed first for a repeatable subset) and applied to all rows.

Parameters
----------
Xx : array, scipy.sparse matrix or pandas.DataFrame
    Cells by features. X may be in memory, backed
    (``read_h5ad(..., backed='r')``) or a Dask array; see docs/scaling.md.
N_components_pca : int
    Number of components.
N_cells_max_for_pca : int
    Largest number of rows the SVD is fitted on.

Returns
-------
numpy.ndarray
    Shape (rows, N_components_pca).

Raises
------
TypeError
    Xx is not a matrix (an AnnData, say: pass adata.X); names its type.
ValueError
    scikit-learn's error for too many components; "malformed sparse X" for
    a backed sparse file whose stored arrays are inconsistent.

Examples
--------
>>> random.seed(0)
>>> X_pca = tolvar.pca_subsample(adata.X, 5, N_cells_max_for_pca=100)
)doc";

}  // namespace quend::tolvar::doc
