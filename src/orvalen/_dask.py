"""Task bodies of the Dask graphs built by the compiled modules.

Compiled functions do not pickle, so tasks name these plain functions,
importable on every worker, which forward to the kernels.
"""

from . import tolvar as _tolvar


def chunk_tallies(chunk, codes, r0, r1, n_groups, cols, n_matrix_cols, c0, count_sizes, with_sums):
    return _tolvar._chunk_tallies(chunk, codes, r0, r1, n_groups, cols, n_matrix_cols, c0, count_sizes, with_sums)


def merge_tallies(parts):
    return _tolvar._merge_tallies(parts)


def project_rows(block, model):
    return model.transform(block)


def take_rows(block, rows):
    return block[rows]


def stack_rows(parts):
    import scipy.sparse as sp

    if parts and sp.issparse(parts[0]):
        return sp.vstack(parts, format="csr")
    import numpy as np

    return np.concatenate(parts)
