"""Per-group statistics on an atlas that does not fit comfortably in memory.

Writes once (cached under bench/out/) an h5ad of 1,000,000 cells x 10,000
genes, CSR float32 at about 2 % density, in row blocks, then prints:

* backed (read_h5ad(..., backed="r")), one process: get_gene_expression and
  get_gene_expression_mean(nz_pct=False) by sample, against one block-wise
  h5py read of X's arrays (the floor), with the peak RSS above the start;
* Dask, LocalCluster of 2 single-threaded workers, X from
  anndata.experimental.read_elem_lazy in chunks of 50,000 cells: both
  functions against one map_blocks pass that only counts non-zeros, and
  against scanpy.get.aggregate when scanpy >= 1.12 is importable.

Each time is the best of 3. Usage: python bench/bench_scale.py [--cells N]
[--part backed|dask|all]
"""

import argparse
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

from bench._common import write_sparse_atlas

OUT = Path(__file__).resolve().parent / "out"
N_GENES, DENSITY, N_SAMPLES, WRITE_ROWS = 10_000, 0.02, 100, 20_000
REPEATS = 3


def atlas_path(n_cells):
    return OUT / f"atlas_{n_cells}x{N_GENES}.h5ad"


def write_atlas(path, n_cells):
    """The benchmark's atlas, written block by block (bench._common.write_sparse_atlas)."""
    import pandas as pd

    rng = np.random.default_rng(0)
    samples = np.array([f"s{k:03d}" for k in range(N_SAMPLES)])
    codes = rng.integers(0, N_SAMPLES, n_cells)
    obs = pd.DataFrame(
        {
            "sample": pd.Categorical.from_codes(codes, samples),
            "condition": pd.Categorical.from_codes(codes % 2, ["ctl", "trt"]),
        },
        index=pd.RangeIndex(n_cells).astype(str),
    )
    write_sparse_atlas(path, obs, N_GENES, DENSITY, rng, WRITE_ROWS)


def rss_mb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return float("nan")


def best(fn):
    times, out = [], None
    for _ in range(REPEATS):
        t0 = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t0)
    return min(times), out


def backed_child(path, what):
    """One measurement in this fresh process: best time, peak RSS above the start."""
    import anndata as ad
    import h5py

    import orvalen
    from orvalen import deg, tolvar

    adata = ad.read_h5ad(path, backed="r")
    calls = {
        "h5py floor": None,
        "get_gene_expression": lambda: tolvar.get_gene_expression(adata),
        "get_gene_expression_mean": lambda: deg.get_gene_expression_mean(adata, nz_pct=False),
    }
    if what == "h5py floor":

        def floor():
            with h5py.File(path, "r") as f:
                data, indices = f["X/data"], f["X/indices"]
                step = orvalen.settings.block_bytes // 8
                for p0 in range(0, data.shape[0], step):
                    data[p0 : p0 + step], indices[p0 : p0 + step]

        fn = floor
    else:
        fn = calls[what]
    start = rss_mb("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # reset the peak (VmHWM) to the current RSS
    t, out = best(fn)
    peak = rss_mb("VmHWM")
    if out is not None:
        out.to_pickle(OUT / f"{path.stem}_{what}.pkl")
    print(json.dumps({"time": t, "peak_above_start_mb": peak - start}))


def run_backed(path):
    print(f"backed, one process, best of {REPEATS}:")
    res = {}
    for what in ("h5py floor", "get_gene_expression", "get_gene_expression_mean"):
        p = subprocess.run(
            [sys.executable, __file__, "--child", str(path), what], check=True, capture_output=True, text=True
        )
        res[what] = json.loads(p.stdout.strip().splitlines()[-1])
        r = res[what]
        ratio = r["time"] / res["h5py floor"]["time"]
        print(f"  {what:26s} {r['time']:7.2f} s  ({ratio:4.2f}x floor)  peak RSS +{r['peak_above_start_mb']:6.0f} MB")


def run_dask(path):
    import anndata as ad
    import h5py
    import pandas as pd
    from anndata.experimental import read_elem_lazy
    from distributed import Client, LocalCluster

    from orvalen import deg, tolvar

    with (
        LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None) as cluster,
        Client(cluster),
        h5py.File(path, "r") as f,
    ):
        backed = ad.read_h5ad(path, backed="r")
        x = read_elem_lazy(f["X"], chunks=(50_000, -1))
        adata = ad.AnnData(X=x, obs=backed.obs.copy(), var=backed.var.copy())
        print(f"dask, LocalCluster 2 workers x 1 thread, chunks of 50,000 cells, best of {REPEATS}:")

        def count_pass():
            return x.map_blocks(lambda b: np.array([[b.nnz]]), chunks=(1, 1), dtype=np.int64).sum().compute()

        t_floor, _ = best(count_pass)
        print(f"  {'map_blocks nnz pass':26s} {t_floor:7.2f} s")
        runs = {
            "get_gene_expression": lambda: tolvar.get_gene_expression(adata),
            "get_gene_expression_mean": lambda: deg.get_gene_expression_mean(adata, nz_pct=False),
        }
        for name, fn in runs.items():
            t, out = best(fn)
            ref = OUT / f"{path.stem}_{name}.pkl"
            same = ""
            if ref.exists():
                # Loose on label dtypes only: the reference may come from another pandas.
                pd.testing.assert_frame_equal(
                    out,
                    pd.read_pickle(ref),
                    check_exact=False,
                    rtol=1e-12,
                    check_dtype=False,
                    check_index_type=False,
                    check_column_type=False,
                )
                same = "  equal to backed"
            print(f"  {name:26s} {t:7.2f} s  ({t / t_floor:4.2f}x pass){same}")
        try:
            import scanpy as sc
            from packaging.version import Version

            if Version(sc.__version__) < Version("1.12"):
                raise ImportError(sc.__version__)
        except ImportError as e:
            print(f"  scanpy.get.aggregate skipped: scanpy >= 1.12 not importable here ({e})")
            return
        for func in ("count_nonzero", "mean"):
            sc.get.aggregate(adata, by="sample", func=func)  # warm
            t, _ = best(lambda: sc.get.aggregate(adata, by="sample", func=func).layers[func].compute())
            print(f"  {'scanpy aggregate ' + func:26s} {t:7.2f} s  ({t / t_floor:4.2f}x pass)")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        backed_child(Path(sys.argv[2]), sys.argv[3])
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("--cells", type=int, default=1_000_000)
    ap.add_argument("--part", choices=["backed", "dask", "all"], default="all")
    args = ap.parse_args()
    OUT.mkdir(exist_ok=True)
    path = atlas_path(args.cells)
    if not path.exists():
        t0 = time.perf_counter()
        write_atlas(path, args.cells)
        print(f"wrote {path} in {time.perf_counter() - t0:.0f} s")
    print(f"{path.name}: {os.path.getsize(path) / 1e9:.2f} GB")
    if args.part in ("backed", "all"):
        run_backed(path)
    if args.part in ("dask", "all"):
        run_dask(path)


if __name__ == "__main__":
    main()
