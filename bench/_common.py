"""What the benchmark scripts share. The scripts run as modules from the
repository root (``python -m bench.bench_deg``), so this file and the test
helpers (``tests.reference``) are imported as packages."""

import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def rss_status():
    """The process's resident size now (VmRSS) and its high-water mark
    (VmHWM), in bytes."""
    out = {}
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(("VmRSS:", "VmHWM:")):
                key, value = line.split(":")
                out[key] = int(value.split()[0]) * 1024
    return out


def write_sparse_atlas(path, obs, n_genes, density, rng, write_rows=20_000):
    """A cells x genes CSR float32 h5ad at about `density`, written without
    holding X: obs/var by anndata around an empty X, then X's arrays appended
    block by block (distinct (row, gene) positions, row-major). The file
    appears under `path` only once complete."""
    import anndata as ad
    import h5py
    import numpy as np
    import pandas as pd
    import scipy.sparse as sp

    n_cells = len(obs)
    var = pd.DataFrame(index=[f"G{j}" for j in range(n_genes)])
    tmp = path.with_suffix(".part")
    ad.AnnData(sp.csr_matrix((n_cells, n_genes), dtype=np.float32), obs=obs, var=var).write_h5ad(tmp)
    with h5py.File(tmp, "r+") as f:
        x = f["X"]
        del x["data"], x["indices"]
        data = x.create_dataset("data", (0,), np.float32, maxshape=(None,), chunks=(1 << 20,))
        indices = x.create_dataset("indices", (0,), np.int32, maxshape=(None,), chunks=(1 << 20,))
        indptr = x["indptr"]
        nnz = 0
        for r0 in range(0, n_cells, write_rows):
            r1 = min(n_cells, r0 + write_rows)
            cells = (r1 - r0) * n_genes
            keys = np.unique(rng.integers(0, cells, int(cells * density * 1.0102)))
            rows, cols = np.divmod(keys, n_genes)
            n = len(cols)
            data.resize((nnz + n,))
            indices.resize((nnz + n,))
            data[nnz:] = rng.integers(1, 30, n).astype(np.float32)
            indices[nnz:] = cols.astype(np.int32)
            indptr[r0 + 1 : r1 + 1] = nnz + np.cumsum(np.bincount(rows, minlength=r1 - r0))
            nnz += n
    tmp.rename(path)
