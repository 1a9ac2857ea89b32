"""Task bodies of the Dask graphs built by the compiled modules.

Compiled functions do not pickle, so tasks name these plain functions,
importable on every worker, which forward to the kernels. The tally tasks
are bound in every module that reads X: whichever is loaded serves them.
"""

import sys


def _engine():
    for name in ("orvalen.deg", "orvalen.tolvar"):
        module = sys.modules.get(name)
        if module is not None:
            return module
    from . import deg

    return deg


def tally_chunk(chunks, job, t, j):
    return _engine()._tally_chunk(chunks, job, t, j)


def tally_fold(slab, pieces, job, k, last):
    return _engine()._tally_fold(slab, pieces, job, k, last)


def project_rows(block, model):
    if block.shape[0] == 0:
        # sklearn refuses an empty input; one zero row gives the width and type.
        import numpy as np

        return model.transform(np.zeros((1, block.shape[1]), dtype=block.dtype))[:0]
    return model.transform(block)


def take_rows(block, rows):
    if getattr(block, "format", None) not in (None, "csr", "csc"):
        block = block.tocsr()  # COO and other sparse layouts cannot be indexed by row
    return block[rows]


def stack_rows(parts):
    import scipy.sparse as sp

    if parts and sp.issparse(parts[0]):
        return sp.vstack(parts, format="csr")
    import numpy as np

    return np.concatenate(parts)
