"""Task bodies of the Dask graphs built by the compiled modules.

Compiled functions do not pickle, so tasks name these plain functions,
importable on every worker, which forward to the kernels.
"""

from . import tolvar as _tolvar


def chunk_partials(chunk, codes, i, j, r0, r1, c0, width, slot, all_cols, n_tallied, stat, starts):
    return _tolvar._chunk_partials(chunk, codes, i, j, r0, r1, c0, width, slot, all_cols, n_tallied, stat, starts)


def merge_partials(pieces, n_tallied, stat):
    return _tolvar._merge_partials(pieces, n_tallied, stat)


def finish_partials(pieces, g0, sizes, n_tallied, stat, narrow):
    return _tolvar._finish_partials(pieces, g0, sizes, n_tallied, stat, narrow)


def stored_values(block):
    return block.nnz if hasattr(block, "nnz") else block.size


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
