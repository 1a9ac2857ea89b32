"""Per-group statistics at many groups (pseudo-bulk by donor x cell type).

Writes once, under bench/out/ and without holding X in memory, an h5ad of
1,000,000 cells x 5,000 genes, CSR float32 at about 2 %, whose obs holds group
columns of 100, 10,000 and 50,000 groups, each sorted (cells of a group
adjacent) and shuffled, and for each column a condition column giving every
group one condition. Then, for each column as group_col, it runs
tolvar.get_gene_expression and deg.get_gene_expression_mean(nz_pct=False):

* Dask: LocalCluster of 2 workers x 1 thread, memory_limit="6GiB", X from
  anndata.experimental.read_elem_lazy in chunks of 50,000 cells; each call
  cold (its first run) and warm (its second), worker and client peaks
  (VmHWM), restarts, both warm calls against one non-zero-counting pass,
  against filling one groups x genes float64 table and against one backed
  process on the same layout (the last backed run's times, kept in
  bench/out); scanpy.get.aggregate at 10,000 groups;
* backed (read_h5ad(..., backed="r")), in a fresh process per case;
* in memory: 100,000 groups on 300,000 cells (mean against detection), a
  1,000,000 x 10,000 atlas against one np.bincount(X.indices), and Dask's
  threaded scheduler against the synchronous one.

Each line ends with its bars' verdicts (Dask on warm calls): 100 groups at
most 2.6x one pass for both calls; 10,000 and 50,000 groups at most 5x one
pass plus twice the fill time; Dask no slower than one backed process;
client at most twice one groups x genes float64 table plus 0.5 GiB; workers
at most 2 GiB; no restart. Results of every path are checked against
each other. `--atlas 10m` runs the 10,000,000-cell atlas instead
(bench/_atlas.py). Usage:
python -m bench.bench_many_groups [--cells N] [--part dask|backed|memory|all]
    [--atlas 10m [--out DIR] [--scanpy] [--chunks CELLS ...]]
"""

import argparse
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

from bench._common import (
    GIB,
    ROOT,
    block_read,
    local_cluster,
    nnz_pass,
    reset_peak,
    rss_status,
    timed,
    verdict,
    worker_peak,
    write_sparse_atlas,
)

OUT = Path(__file__).resolve().parent / "out"
N_GENES, DENSITY, WRITE_ROWS, CHUNK = 5_000, 0.02, 20_000, 50_000
GROUPS = (100, 10_000, 50_000)
COLUMNS = [f"g{g}_{order}" for g in GROUPS for order in ("sorted", "shuffled")]


def atlas_path(n_cells):
    return OUT / f"many_groups_{n_cells}x{N_GENES}.h5ad"


def group_codes(n_cells, rng):
    """Per column: sorted codes (contiguous runs), and the same sizes shuffled."""
    out = {}
    for g in GROUPS:
        sorted_codes = (np.arange(n_cells, dtype=np.int64) * g) // n_cells
        out[f"g{g}_sorted"] = sorted_codes
        out[f"g{g}_shuffled"] = rng.permutation(sorted_codes)
    return out


def write_atlas(path, n_cells):
    """The benchmark's atlas, written block by block (bench._common.write_sparse_atlas)."""
    import pandas as pd

    rng = np.random.default_rng(0)
    obs = {}
    for col, codes in group_codes(n_cells, rng).items():
        g = int(col[1:].split("_")[0])
        obs[col] = pd.Categorical.from_codes(codes, [f"s{k:05d}" for k in range(g)])
        obs["cond_" + col] = pd.Categorical.from_codes(codes % 2, ["ctl", "trt"])
    obs = pd.DataFrame(obs, index=pd.RangeIndex(n_cells).astype(str))
    write_sparse_atlas(path, obs, N_GENES, DENSITY, rng, WRITE_ROWS)


def fill_time(n_groups, n_genes=N_GENES):
    """Seconds to fill one fresh groups x genes float64 table (first touch of its pages), best of 3."""
    times = []
    for _ in range(3):
        t0 = time.perf_counter()
        a = np.ones((n_groups, n_genes))
        times.append(time.perf_counter() - t0)
        del a
    return min(times)


def time_bar(n_groups, t_pass, t_fill):
    """The time bar of both calls together: 2.6 passes at 100 groups, else 5 passes plus two table fills."""
    return 2.6 * t_pass if n_groups <= 100 else 5 * t_pass + 2 * t_fill


def client_bar(n_groups, n_genes=N_GENES):
    """Twice one groups x genes float64 table plus 0.5 GiB, in bytes."""
    return 2 * n_groups * n_genes * 8 + GIB / 2


def calls(adata, col):
    from orvalen import deg, tolvar

    adata.obs["condition"] = adata.obs["cond_" + col]
    return {
        "detection": lambda: tolvar.get_gene_expression(adata, group_col=col),
        "mean": lambda: deg.get_gene_expression_mean(adata, group_col=col, nz_pct=False),
    }


def fingerprint(frame):
    """Labels, dtypes, row sums and a fixed sample of the values: enough to tell two results apart."""
    values = frame.select_dtypes("number").to_numpy(np.float64)
    rng = np.random.default_rng(0)
    rows, cols = rng.integers(0, values.shape[0], 20_000), rng.integers(0, values.shape[1], 20_000)
    return {
        "index": frame.index.tolist(),
        "columns": frame.columns.tolist(),
        "dtypes": [str(d) for d in frame.dtypes.unique()],
        "first": frame.iloc[:, 0].tolist(),
        "row_sums": np.nansum(values, axis=1),
        "sample": values[rows, cols],
    }


def check_same(got, ref_path):
    import pickle

    fp = fingerprint(got)
    if not ref_path.exists():
        ref_path.write_bytes(pickle.dumps(fp))
        return "reference"
    ref = pickle.loads(ref_path.read_bytes())
    for key in ("index", "columns", "dtypes", "first"):
        assert fp[key] == ref[key], key
    for key in ("row_sums", "sample"):
        np.testing.assert_allclose(fp[key], ref[key], rtol=1e-12, err_msg=key)
    return "same"


def backed_times(path, totals=None):
    """Both calls' backed time per layout: written by the backed run, read by the Dask run
    (bench/out/backed_<file>.json), so that `--part dask` compares with the last backed run."""
    where = Path(path).with_name(f"backed_{Path(path).stem}.json")
    if totals is not None:
        where.write_text(json.dumps(totals))
        return totals
    return json.loads(where.read_text()) if where.exists() else {}


def against_backed(total, backed):
    """The Dask time against one backed process on the same layout, with the bar's verdict (no slower)."""
    if backed is None:
        return "  (no backed time: run --part backed first)"
    return f"  = {total / backed:4.2f}x backed {backed:6.2f} s (bar 1.0x: {verdict(total <= backed)})"


def run_dask(path):
    import anndata as ad
    import h5py
    from anndata.experimental import read_elem_lazy
    from distributed import Client

    with local_cluster("6GiB") as cluster, Client(cluster) as client, h5py.File(path, "r") as f:
        backed = ad.read_h5ad(path, backed="r")
        x = read_elem_lazy(f["X"], chunks=(CHUNK, -1))
        adata = ad.AnnData(X=x, obs=backed.obs.copy(), var=backed.var.copy())
        pids = client.run(os.getpid)
        print("dask, LocalCluster 2 workers x 1 thread, 6 GiB each, chunks of 50,000 cells:")

        nnz_pass(x)
        t_pass = min(timed(lambda: nnz_pass(x))[0] for _ in range(3))
        print(f"  non-zero-counting pass {t_pass:6.2f} s", flush=True)
        backed_totals = backed_times(path)
        for col in COLUMNS:
            g = int(col[1:].split("_")[0])
            cold, warm, w_peak, c_peak = {}, {}, 0, 0
            for what, fn in calls(adata, col).items():
                client.run(reset_peak)
                start = rss_status()["VmRSS"]
                reset_peak()
                cold[what], res = timed(fn)
                c_peak = max(c_peak, rss_status()["VmHWM"] - start)
                same = check_same(res, OUT / f"ref_{path.stem}_{col}_{what}.pkl")
                del res
                reset_peak()  # the check's own copies are not the call's
                start = rss_status()["VmRSS"]
                warm[what] = timed(fn)[0]
                c_peak = max(c_peak, rss_status()["VmHWM"] - start)
                w_peak = max(w_peak, max(client.run(worker_peak).values()))
            total, t_fill = sum(warm.values()), fill_time(g)
            limit, c_limit = time_bar(g, t_pass, t_fill), client_bar(g)
            restarted = client.run(os.getpid) != pids
            print(
                f"  {col:16s} detection {cold['detection']:6.2f} s cold {warm['detection']:6.2f} s warm,"
                f" mean {cold['mean']:6.2f} s cold {warm['mean']:6.2f} s warm, both warm {total:6.2f} s ="
                f" {total / t_pass:4.1f}x pass (fill {t_fill:4.2f} s; bar {limit:6.2f} s: {verdict(total <= limit)})"
                f"{against_backed(total, backed_totals.get(col))}  worker peak {w_peak / GIB:4.2f} GiB"
                f" ({verdict(w_peak <= 2 * GIB)})  client peak +{c_peak / GIB:4.2f} GiB (bar {c_limit / GIB:4.2f}:"
                f" {verdict(c_peak <= c_limit)})  restarts: {'yes: FAIL' if restarted else 'none: PASS'}  {same}",
                flush=True,
            )
        from importlib.metadata import version

        try:
            import scanpy as sc
        except ImportError as e:
            print(f"  scanpy skipped: {e}")
            return
        col = "g10000_shuffled"
        ours = 0.0
        for fn in calls(adata, col).values():
            ours += timed(fn)[0]
        client.run(reset_peak)
        import dask

        def scanpy_both(data):
            r = sc.get.aggregate(data, by=col, func=["count_nonzero", "mean"])
            return dask.compute(r.layers["count_nonzero"], r.layers["mean"])

        where = "the same Dask AnnData"
        try:
            t_sc, _ = timed(lambda: scanpy_both(adata))
        except NotImplementedError:
            # Releases before 1.12 aggregate in-memory matrices only.
            where = "X in memory, its Dask aggregate needs scanpy >= 1.12"
            mem = ad.AnnData(X=backed.X[:], obs=adata.obs, var=adata.var)
            t_sc, _ = timed(lambda: scanpy_both(mem))
            del mem
        w_sc = max(client.run(worker_peak).values())
        print(
            f"  scanpy {version('scanpy')} aggregate at 10,000 groups ({where}): {t_sc:6.2f} s,"
            f" worker peak {w_sc / GIB:4.2f} GiB; orvalen both {ours:6.2f} s:"
            f" {t_sc / ours:4.1f}x faster ({verdict(t_sc >= 5 * ours)})"
        )


def backed_child(path, col, what):
    import anndata as ad

    adata = ad.read_h5ad(path, backed="r")
    fn = calls(adata, col)[what]
    start = rss_status()["VmRSS"]
    reset_peak()
    t, res = timed(fn)
    peak = rss_status()["VmHWM"] - start
    same = check_same(res, OUT / f"ref_{path.stem}_{col}_{what}.pkl")
    print(json.dumps({"time": t, "peak": peak, "same": same}))


def run_backed(path):
    block_read(path, 4 * 2**20)  # the page cache holds the file for every case alike
    t_read = min(timed(lambda: block_read(path, 4 * 2**20))[0] for _ in range(2))
    print(f"backed, one process per case (block-wise h5py read of X: {t_read:.2f} s):")
    totals = {}
    for col in COLUMNS:
        g = int(col[1:].split("_")[0])
        res = {}
        for what in ("detection", "mean"):
            p = subprocess.run(
                [sys.executable, "-m", "bench.bench_many_groups", "--child", str(path), col, what],
                check=True,
                capture_output=True,
                text=True,
                cwd=ROOT,
            )
            res[what] = json.loads(p.stdout.strip().splitlines()[-1])
        total, t_fill = res["detection"]["time"] + res["mean"]["time"], fill_time(g)
        totals[col] = total
        limit, c_limit = time_bar(g, t_read, t_fill), client_bar(g)
        peak = max(r["peak"] for r in res.values())
        print(
            f"  {col:16s} detection {res['detection']['time']:6.2f} s, mean {res['mean']['time']:6.2f} s,"
            f" both {total:6.2f} s = {total / t_read:4.1f}x read (fill {t_fill:4.2f} s; bar {limit:6.2f} s:"
            f" {verdict(total <= limit)})  peak +{peak / GIB:4.2f} GiB (bar {c_limit / GIB:4.2f}:"
            f" {verdict(peak <= c_limit)})  {res['detection']['same']}/{res['mean']['same']}",
            flush=True,
        )
    backed_times(path, totals)


def csr_atlas(n_cells, n_genes, per_row, rng):
    """A canonical CSR float32 matrix with `per_row` stored values in every row."""
    import scipy.sparse as sp

    # Gaps of 1 to n_genes // per_row keep every row's last index in range.
    gaps = rng.integers(1, n_genes // per_row + 1, (n_cells, per_row), dtype=np.int32)
    indices = np.cumsum(gaps, axis=1, dtype=np.int32).ravel() - 1
    del gaps
    data = rng.integers(1, 30, indices.size).astype(np.float32)
    indptr = np.arange(0, indices.size + 1, per_row, dtype=np.int64)
    return sp.csr_matrix((data, indices, indptr), shape=(n_cells, n_genes))


def run_memory():
    import anndata as ad
    import pandas as pd

    from orvalen import deg, tolvar

    rng = np.random.default_rng(1)
    print("in memory, best of 3:")
    n, g = 300_000, 100_000
    codes = rng.permutation(np.arange(n) % g)
    obs = pd.DataFrame(
        {"sample": pd.Categorical.from_codes(codes, [f"s{k:06d}" for k in range(g)]), "condition": codes % 2}
    )
    a = ad.AnnData(csr_atlas(n, 20, 4, rng), obs=obs.set_index(obs.index.astype(str)))
    t_det = min(timed(lambda: tolvar.get_gene_expression(a))[0] for _ in range(3))
    t_mean = min(timed(lambda: deg.get_gene_expression_mean(a, nz_pct=False))[0] for _ in range(3))
    print(
        f"  100,000 groups on 300,000 cells x 20 genes: detection {t_det:5.2f} s, mean {t_mean:5.2f} s"
        f" ({t_mean / t_det:4.2f}x; bar 2x: {verdict(t_mean <= 2 * t_det)})"
    )
    del a

    n = 1_000_000
    x = csr_atlas(n, 10_000, 200, rng)
    codes = rng.integers(0, 100, n)
    obs = pd.DataFrame({"sample": pd.Categorical.from_codes(codes, [f"s{k:03d}" for k in range(100)])})
    obs["condition"] = np.where(codes % 2 == 0, "ctl", "trt")
    a = ad.AnnData(x, obs=obs.set_index(obs.index.astype(str)))
    t_bc = min(timed(lambda: np.bincount(x.indices, minlength=x.shape[1]))[0] for _ in range(3))
    t_det = min(timed(lambda: tolvar.get_gene_expression(a))[0] for _ in range(3))
    t_mean = min(timed(lambda: deg.get_gene_expression_mean(a, nz_pct=False))[0] for _ in range(3))
    print(
        f"  1,000,000 x 10,000 atlas: bincount {t_bc:5.2f} s, detection {t_det:5.2f} s"
        f" ({verdict(t_det <= t_bc)}), mean {t_mean:5.2f} s ({verdict(t_mean <= t_bc)})"
    )
    try:
        import dask
        import dask.array as da
    except ImportError:
        return
    b = ad.AnnData(da.from_array(x[:400_000], chunks=(CHUNK, -1), asarray=False), obs=a.obs.iloc[:400_000].copy())
    times = {}
    for scheduler in ("synchronous", "threads"):
        with dask.config.set(scheduler=scheduler):
            times[scheduler] = min(
                timed(lambda: deg.get_gene_expression_mean(b, nz_pct=False))[0] for _ in range(3)
            ) + min(timed(lambda: tolvar.get_gene_expression(b))[0] for _ in range(3))
    ratio = times["synchronous"] / times["threads"]
    print(
        f"  400,000-cell Dask array in memory, both calls: synchronous {times['synchronous']:5.2f} s,"
        f" threads {times['threads']:5.2f} s ({ratio:4.2f}x; bar 1.6x: {verdict(ratio >= 1.6)})"
    )


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        backed_child(Path(sys.argv[2]), sys.argv[3], sys.argv[4])
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("--cells", type=int, default=1_000_000)
    ap.add_argument("--part", choices=["dask", "backed", "memory", "all"], default="all")
    ap.add_argument("--atlas", choices=["10m"], help="run the 10,000,000 x 2,000 atlas (bench/_atlas.py) instead")
    ap.add_argument("--out", type=Path, default=OUT, help="folder of the --atlas file (default bench/out)")
    ap.add_argument("--scanpy", action="store_true", help="with --atlas: also scanpy's Dask aggregate, when present")
    ap.add_argument(
        "--chunks", type=int, nargs="+", help="with --atlas: the Dask chunkings run, in cells (default 50000 1000)"
    )
    args = ap.parse_args()
    if args.atlas:
        from bench import _atlas

        _atlas.run(args.out, args.part, args.scanpy, tuple(args.chunks or _atlas.CHUNKS))
        return
    OUT.mkdir(exist_ok=True)
    path = atlas_path(args.cells)
    if args.part != "memory" and not path.exists():
        t0 = time.perf_counter()
        write_atlas(path, args.cells)
        print(f"wrote {path} in {time.perf_counter() - t0:.0f} s")
    if args.part in ("memory", "all"):
        run_memory()
    if args.part in ("backed", "all"):
        run_backed(path)
    if args.part in ("dask", "all"):
        run_dask(path)


if __name__ == "__main__":
    main()
