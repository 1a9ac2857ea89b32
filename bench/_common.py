"""What the benchmark scripts share. The scripts run as modules from the
repository root (``python -m bench.bench_deg``), so this file and the test
helpers (``tests.reference``) are imported as packages."""

import os
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GIB = 2**30


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


def reset_peak():
    """Resets this process's VmHWM to its current RSS. Module-level, so Dask
    workers run it by reference (`client.run(reset_peak)`)."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def worker_peak():
    """VmHWM in bytes, for `client.run` on the workers."""
    return rss_status()["VmHWM"]


def timed(fn):
    """(seconds, result) of one call."""
    t0 = time.perf_counter()
    out = fn()
    return time.perf_counter() - t0, out


def verdict(ok):
    return "PASS" if ok else "FAIL"


def local_cluster(memory_limit="auto"):
    """The benchmarks' cluster: 2 single-threaded workers on 127.0.0.1, no dashboard."""
    from distributed import LocalCluster

    return LocalCluster(
        n_workers=2, threads_per_worker=1, memory_limit=memory_limit, host="127.0.0.1", dashboard_address=None
    )


def nnz_pass(x):
    """One Dask pass over `x` that only counts the stored values of each chunk."""
    import numpy as np

    return x.map_blocks(lambda b: np.array([[b.nnz]]), chunks=(1, 1), dtype=np.int64).sum().compute()


def block_read(path, step):
    """One read of X's data and indices from the h5ad at `path`, `step` values at a time."""
    import h5py

    with h5py.File(path, "r") as f:
        data, indices = f["X/data"], f["X/indices"]
        for p0 in range(0, data.shape[0], step):
            data[p0 : p0 + step], indices[p0 : p0 + step]


def write_sparse_atlas(path, obs, n_genes, density, rng, write_rows=20_000, progress=False):
    """A cells x genes CSR float32 h5ad at about `density`, written without
    holding X: obs/var by anndata around an empty X, then X's arrays appended
    block by block (distinct (row, gene) positions, row-major). indptr is
    int64 when the stored values may pass int32. The file appears under
    `path` only once complete."""
    import anndata as ad
    import h5py
    import numpy as np
    import pandas as pd
    import scipy.sparse as sp

    n_cells = len(obs)
    var = pd.DataFrame(index=[f"G{j}" for j in range(n_genes)])
    tmp = path.with_suffix(".part")
    ad.AnnData(sp.csr_matrix((n_cells, n_genes), dtype=np.float32), obs=obs, var=var).write_h5ad(tmp)
    wide = n_cells * n_genes * density * 1.05 >= 2**31
    with h5py.File(tmp, "r+") as f:
        x = f["X"]
        del x["data"], x["indices"]
        if wide:
            del x["indptr"]
            x.create_dataset("indptr", (n_cells + 1,), np.int64, fillvalue=0)
        data = x.create_dataset("data", (0,), np.float32, maxshape=(None,), chunks=(1 << 20,))
        indices = x.create_dataset("indices", (0,), np.int32, maxshape=(None,), chunks=(1 << 20,))
        indptr = x["indptr"]
        nnz = 0
        t0 = time.perf_counter()
        for r0 in range(0, n_cells, write_rows):
            r1 = min(n_cells, r0 + write_rows)
            cells = (r1 - r0) * n_genes
            keys = np.sort(rng.integers(0, cells, int(cells * density * 1.0102)))
            keys = keys[np.concatenate(([True], keys[1:] != keys[:-1]))]  # np.unique, without its slow hash pass
            rows, cols = np.divmod(keys, n_genes)
            n = len(cols)
            data.resize((nnz + n,))
            indices.resize((nnz + n,))
            data[nnz:] = rng.integers(1, 30, n).astype(np.float32)
            indices[nnz:] = cols.astype(np.int32)
            indptr[r0 + 1 : r1 + 1] = nnz + np.cumsum(np.bincount(rows, minlength=r1 - r0))
            nnz += n
            if progress and (r1 // write_rows) % 20 == 0:
                print(f"  {r1:,} of {n_cells:,} rows, {nnz:,} values, {time.perf_counter() - t0:.0f} s", flush=True)
    tmp.rename(path)
