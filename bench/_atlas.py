"""The 10,000,000-cell atlas of `python -m bench.bench_many_groups --atlas 10m`.

Writes once, without holding X, a 10,000,000 x 2,000 CSR float32 h5ad at
about 2 % (about 400M stored values, 3.8 GB) whose obs holds:

* `sample`: 1,000 donors of 10,000 cells, cells sorted by donor;
* `pb_100k`: donor x 100 cell types = 100,000 groups, the cell types drawn
  at random within each donor, so interleaved;
* `pb_100k_shuf`: the same groups at random positions;
* `condition`: one per donor;
* `cell_type`: the type of `pb_100k` (its code modulo 100), so that
  `sample` x `cell_type` are the same 100,000 groups (`with_cell_type` adds
  it to the obs of a file written before it was).

Then runs tolvar.get_gene_expression and deg.get_gene_expression_mean
(nz_pct=False) grouped by `pb_100k` and by `pb_100k_shuf`, backed (one fresh
process per case) and on Dask (LocalCluster of 2 workers x 1 thread, 6 GiB
each, chunks of 50,000 cells, then anndata's default of 1,000 cells; each
call cold, then warm). Each layout prints both calls' time (warm on Dask)
against one backed process (the last backed run's, kept beside the atlas),
against 5x one pass plus twice the fill time of one groups x genes float64 table,
the client and worker peaks against their bars, worker restarts, and the
check of 25 random groups against a scipy rendering of their rows; with both
chunkings, each layout's time in 1,000-cell chunks against 1.5x its time in
50,000-cell chunks.
"""

import json
import os
import subprocess
import sys
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

N_CELLS, N_GENES, DENSITY, WRITE_ROWS = 10_000_000, 2_000, 0.02, 50_000
CHUNKS = (50_000, 1_000)  # cells per chunk: the bench's, then anndata's lazy reader's default
N_DONORS, N_TYPES = 1_000, 100
N_GROUPS = N_DONORS * N_TYPES
LAYOUTS = ("pb_100k", "pb_100k_shuf")
N_CHECKED = 25


def atlas_path(out):
    return Path(out) / f"atlas_{N_CELLS}x{N_GENES}.h5ad"


def write_atlas(path):
    import pandas as pd

    rng = np.random.default_rng(10)
    donor = (np.arange(N_CELLS, dtype=np.int64) * N_DONORS) // N_CELLS
    group = donor * N_TYPES + rng.integers(0, N_TYPES, N_CELLS)
    donors = [f"d{d:04d}" for d in range(N_DONORS)]
    groups = [f"{d}_t{t:02d}" for d in donors for t in range(N_TYPES)]
    obs = pd.DataFrame(
        {
            "sample": pd.Categorical.from_codes(donor, donors),
            "pb_100k": pd.Categorical.from_codes(group, groups),
            "pb_100k_shuf": pd.Categorical.from_codes(rng.permutation(group), groups),
            "condition": pd.Categorical.from_codes(donor % 2, ["ctl", "trt"]),
        },
        index=pd.RangeIndex(N_CELLS).astype(str),
    )
    with_cell_type(obs)
    del donor, group
    write_sparse_atlas(path, obs, N_GENES, DENSITY, rng, WRITE_ROWS, progress=True)


def with_cell_type(obs):
    """Adds `cell_type` (the type of `pb_100k`) to the atlas's obs when it lacks it."""
    import pandas as pd

    if "cell_type" not in obs:
        codes = obs["pb_100k"].cat.codes.to_numpy() % N_TYPES
        obs["cell_type"] = pd.Categorical.from_codes(codes, [f"t{t:02d}" for t in range(N_TYPES)])


def calls(adata, col):
    """Both calls grouped by `col`. A shuffled group keeps its donor's condition, so
    `condition` is rebuilt from the group codes (first occurrence wins otherwise)."""
    import pandas as pd

    from orvalen import deg, tolvar

    codes = adata.obs[col].cat.codes.to_numpy()
    adata.obs["condition"] = pd.Categorical.from_codes((codes // N_TYPES) % 2, ["ctl", "trt"])
    return {
        "detection": lambda: tolvar.get_gene_expression(adata, group_col=col),
        "mean": lambda: deg.get_gene_expression_mean(adata, group_col=col, nz_pct=False),
    }


def check_groups(path, frame, codes, what):
    """Compares N_CHECKED random groups of `frame` with scipy on their rows, read
    straight from the file. Returns "25/25 equal" or the first difference."""
    import h5py
    import scipy.sparse as sp

    rng = np.random.default_rng(7)
    picks = rng.choice(N_GROUPS, N_CHECKED, replace=False)
    rtol = 1e-6 if (frame.dtypes == np.float32).any() else 1e-12
    with h5py.File(path, "r") as f:
        indptr, data, indices = f["X/indptr"][:], f["X/data"], f["X/indices"]
        for g in picks:
            rows = np.flatnonzero(codes == g)
            parts = [(data[indptr[r] : indptr[r + 1]], indices[indptr[r] : indptr[r + 1]]) for r in rows]
            ptr = np.concatenate([[0], np.cumsum([len(d) for d, _ in parts])])
            sub = sp.csr_matrix(
                (np.concatenate([d for d, _ in parts]), np.concatenate([i for _, i in parts]), ptr),
                shape=(len(rows), N_GENES),
            )
            if what == "detection":
                want = np.asarray((sub > 0).sum(axis=0), dtype=np.float64).ravel() / len(rows)
            else:
                want = np.asarray(sub.sum(axis=0, dtype=np.float64)).ravel() / len(rows)
            label = f"d{g // N_TYPES:04d}_t{g % N_TYPES:02d}"
            got = frame.loc[label]
            if what == "mean":
                cond = ("ctl", "trt")[(g // N_TYPES) % 2]
                if got["Group"] != cond:
                    return f"FAIL: {label} Group {got['Group']!r}, not {cond!r}"
                got = got.drop("Group")
            got = got.to_numpy(np.float64)
            if not np.allclose(got, want, rtol=rtol, atol=0):
                bad = np.flatnonzero(~np.isclose(got, want, rtol=rtol, atol=0))[0]
                return f"FAIL: {label} gene {bad}: {got[bad]!r}, scipy {want[bad]!r}"
    return f"{N_CHECKED}/{N_CHECKED} equal: PASS"


def bars(t_pass, t_fill):
    return 5 * t_pass + 2 * t_fill, 2 * N_GROUPS * N_GENES * 8 + GIB / 2


def fill_time():
    from bench.bench_many_groups import fill_time

    return fill_time(N_GROUPS, N_GENES)


def backed_child(path, col, what):
    import anndata as ad

    adata = ad.read_h5ad(path, backed="r")
    fn = calls(adata, col)[what]
    start = rss_status()["VmRSS"]
    reset_peak()
    t, res = timed(fn)
    peak = rss_status()["VmHWM"] - start
    check = check_groups(path, res, adata.obs[col].cat.codes.to_numpy(), what)
    print(json.dumps({"time": t, "peak": peak, "check": check}))


def run_backed(path):
    block_read(path, 4 * 2**20)  # the page cache holds the file for every case alike
    t_read = min(timed(lambda: block_read(path, 4 * 2**20))[0] for _ in range(2))
    t_fill = fill_time()
    t_bar, c_bar = bars(t_read, t_fill)
    print(f"backed, one process per case (block-wise h5py read of X {t_read:.2f} s, fill {t_fill:.2f} s):", flush=True)
    totals = {}
    for col in LAYOUTS:
        res = {}
        for what in ("detection", "mean"):
            p = subprocess.run(
                [sys.executable, "-m", "bench._atlas", "--child", str(path), col, what],
                capture_output=True,
                text=True,
                cwd=ROOT,
            )
            if p.returncode != 0:
                res[what] = {"time": float("nan"), "peak": float("nan"), "check": f"FAIL: exit {p.returncode}"}
                print(p.stderr[-2000:], flush=True)
            else:
                res[what] = json.loads(p.stdout.strip().splitlines()[-1])
        total = res["detection"]["time"] + res["mean"]["time"]
        totals[col] = total
        peak = max(r["peak"] for r in res.values())
        print(
            f"  {col:13s} detection {res['detection']['time']:6.2f} s, mean {res['mean']['time']:6.2f} s,"
            f" both {total:6.2f} s = {total / t_read:4.1f}x read (bar {t_bar:6.2f} s: {verdict(total <= t_bar)})"
            f"  client peak +{peak / GIB:4.2f} GiB (bar {c_bar / GIB:4.2f}: {verdict(peak <= c_bar)})"
            f"  detection {res['detection']['check']}; mean {res['mean']['check']}",
            flush=True,
        )
    backed_times(path, totals)


def run_dask(path, with_scanpy, chunks=CHUNKS):
    from distributed import Client

    totals = {}
    with local_cluster("6GiB") as cluster, Client(cluster) as client:
        for chunk in chunks:
            totals[chunk] = dask_layouts(client, path, chunk, with_scanpy and chunk == chunks[0])
    if CHUNKS[0] in totals and CHUNKS[1] in totals:
        for col in LAYOUTS:
            wide, narrow = totals[CHUNKS[0]][col], totals[CHUNKS[1]][col]
            print(
                f"  {col:13s} in {CHUNKS[1]:,}-cell chunks {narrow:6.2f} s = {narrow / wide:4.2f}x its time in"
                f" {CHUNKS[0]:,}-cell chunks (bar 1.5x: {verdict(narrow <= 1.5 * wide)})",
                flush=True,
            )


def dask_layouts(client, path, chunk, with_scanpy):
    """Both calls on each layout with X read lazily in chunks of `chunk` cells; both calls' time per layout."""
    import anndata as ad
    import h5py
    from anndata.experimental import read_elem_lazy

    totals = {}
    with h5py.File(path, "r") as f:
        backed = ad.read_h5ad(path, backed="r")
        x = read_elem_lazy(f["X"], chunks=(chunk, -1))
        adata = ad.AnnData(X=x, obs=backed.obs, var=backed.var)
        del backed
        pids = client.run(os.getpid)
        nnz_pass(x)
        t_pass = min(timed(lambda: nnz_pass(x))[0] for _ in range(2))
        t_fill = fill_time()
        t_bar, c_bar = bars(t_pass, t_fill)
        print(
            f"dask, LocalCluster 2 workers x 1 thread, 6 GiB each, chunks of {chunk:,} cells"
            f" (non-zero-counting pass {t_pass:.2f} s, fill {t_fill:.2f} s):",
            flush=True,
        )
        backed = backed_times(path)
        for col in LAYOUTS:
            cold, times, checks, w_peak, c_peak = {}, {}, {}, 0, 0
            codes = adata.obs[col].cat.codes.to_numpy()
            for what, fn in calls(adata, col).items():
                client.run(reset_peak)
                start = rss_status()["VmRSS"]
                reset_peak()
                try:
                    cold[what], res = timed(fn)
                    c_peak = max(c_peak, rss_status()["VmHWM"] - start)
                    checks[what] = check_groups(path, res, codes, what)
                    del res
                    reset_peak()  # the check's own reads are not the call's
                    start = rss_status()["VmRSS"]
                    times[what] = timed(fn)[0]
                except Exception as e:  # a failed call is a result to print, not the end of the run
                    cold.setdefault(what, float("nan"))
                    times[what], checks[what] = float("nan"), f"FAIL: {type(e).__name__}: {e}"[:300]
                finally:
                    c_peak = max(c_peak, rss_status()["VmHWM"] - start)
                    w_peak = max(w_peak, max(client.run(worker_peak).values()))
            total = times["detection"] + times["mean"]
            totals[col] = total
            restarted = client.run(os.getpid) != pids
            vs_backed = "  (no backed time: run --part backed first)"
            if col in backed:
                vs_backed = (
                    f"  = {total / backed[col]:4.2f}x backed {backed[col]:6.2f} s"
                    f" (bar 1.0x: {verdict(total <= backed[col])})"
                )
            print(
                f"  {col:13s} detection {cold['detection']:6.2f} s cold {times['detection']:6.2f} s warm,"
                f" mean {cold['mean']:6.2f} s cold {times['mean']:6.2f} s warm,"
                f" both warm {total:6.2f} s = {total / t_pass:4.1f}x pass"
                f" (bar {t_bar:6.2f} s: {verdict(total <= t_bar)}){vs_backed}"
                f"  worker peak {w_peak / GIB:4.2f} GiB ({verdict(w_peak <= 2 * GIB)})"
                f"  client peak +{c_peak / GIB:4.2f} GiB (bar {c_bar / GIB:4.2f}: {verdict(c_peak <= c_bar)})"
                f"  restarts: {'yes: FAIL' if restarted else 'none: PASS'}"
                f"  detection {checks['detection']}; mean {checks['mean']}",
                flush=True,
            )
        if with_scanpy:
            run_scanpy(client, adata)
    return totals


def backed_times(path, totals=None):
    """Both calls' backed time per layout, kept beside the atlas for the Dask run to compare with."""
    where = Path(path).with_name(f"backed_{Path(path).stem}.json")
    if totals is not None:
        where.write_text(json.dumps(totals))
        return totals
    return json.loads(where.read_text()) if where.exists() else {}


def run_scanpy(client, adata):
    """scanpy's Dask aggregate (count_nonzero) on the donor-sorted layout, when scanpy >= 1.12 is present."""
    try:
        from importlib.metadata import version

        import scanpy as sc
        from packaging.version import Version

        if Version(version("scanpy")) < Version("1.12"):
            raise ImportError(f"scanpy {version('scanpy')} < 1.12")
    except ImportError as e:
        print(f"  scanpy skipped: {e}")
        return
    pids = client.run(os.getpid)
    client.run(reset_peak)
    try:
        t, _ = timed(
            lambda: sc.get.aggregate(adata, by="pb_100k", func="count_nonzero").layers["count_nonzero"].compute()
        )
        outcome = f"{t:6.2f} s"
    except Exception as e:  # KilledWorker and the like: the outcome to report
        outcome = f"failed: {type(e).__name__}"
    w_peak = max(client.run(worker_peak).values())
    print(
        f"  scanpy {version('scanpy')} aggregate count_nonzero by pb_100k: {outcome},"
        f" worker peak {w_peak / GIB:4.2f} GiB, restarts: {'yes' if client.run(os.getpid) != pids else 'none'}",
        flush=True,
    )


def run(out, part="all", with_scanpy=False, chunks=CHUNKS):
    import time

    path = atlas_path(out)
    if not path.exists():
        path.parent.mkdir(parents=True, exist_ok=True)
        print(f"writing {path}", flush=True)
        t, _ = timed(lambda: write_atlas(path))
        print(f"wrote {path} in {t:.0f} s", flush=True)
    print(f"{path.name}: {os.path.getsize(path) / 1e9:.2f} GB, {time.strftime('%H:%M')}", flush=True)
    if part in ("backed", "all"):
        run_backed(path)
    if part in ("dask", "all"):
        run_dask(path, with_scanpy, chunks)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        backed_child(Path(sys.argv[2]), sys.argv[3], sys.argv[4])
