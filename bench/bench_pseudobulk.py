"""Pseudo-bulk (deg.get_pseudobulk) and cell-level DE (deg.simple_DEG_adata):
exactness on real data, speed against scanpy, and the 10,000,000-cell atlas.

* real: scanpy's bundled pbmc68k_reduced (700 cells x 765 genes, read from
  the package, no network), its scaled dense X and its log-normalised sparse
  raw X as a layer. Sums, means, variances and non-zero counts by
  bulk_labels x phase against scanpy.get.aggregate; one-vs-rest p-values of
  simple_DEG_adata by bulk_labels against scipy.stats.ttest_ind
  (equal_var=False) on the same values, and the genes kept against the
  testability rule (more than one value and a deviation of at least 1e-08 on
  both sides). Bar: max relative difference <= 1e-9 (variances relative to
  the squared mean as well, where a one-pass variance cancels).
* memory: the 1,000,000 x 10,000 atlas of bench_scale in memory, plus a
  cell_type column of 20 types drawn per cell. get_pseudobulk(sum, var) by
  sample x cell_type (2,000 groups) against scanpy.get.aggregate(["sum",
  "var"]), bar 2x faster; simple_DEG_adata by cell_type against
  scanpy.tl.rank_genes_groups(method="t-test", every gene ranked), bar 10x
  faster. The sides alternate, two fresh processes each (each the best of
  up to 3 calls; peak RSS above the loaded atlas); scanpy runs under this
  interpreter and, when
  /work/peer-pre holds a different scanpy (the newest prerelease), under that
  one too.
* scale: the atlas of `bench_many_groups --atlas 10m` (bench/_atlas.py,
  written when missing), backed (one fresh process per call) and on Dask
  (2 workers x 1 thread, 6 GiB each, chunks of 50,000 cells):
  get_pseudobulk(sum, count_nonzero) by sample x cell_type (100,000 groups)
  against get_gene_expression_mean by pb_100k (the same groups), bar 2x, with
  25 groups checked against scipy; simple_DEG_adata one-vs-rest over the 100
  cell types against one get_gene_expression_mean by cell_type, bar 2x;
  client peak <= twice the pseudo-bulk result + 0.5 GiB, workers <= 2 GiB.
  Then the end-to-end example of docs/scaling.md on Dask, step by step.

Usage: python -m bench.bench_pseudobulk [--part real|memory|scale|all] [--out DIR]
"""

import argparse
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

from bench._common import GIB, ROOT, local_cluster, reset_peak, rss_status, timed, verdict, worker_peak

OUT = Path(__file__).resolve().parent / "out"
PEER_PRE = Path("/work/peer-pre/bin/python")
REPEATS, BUDGET = 3, 120.0  # best of up to 3 calls, no new call after 120 s
ROUNDS = 2  # fresh processes per side in the memory part, alternating
EXACT = 1e-9
N_TYPES_MEMORY = 20
CHUNK = 50_000


def load():
    """The 1-minute load average, beside each part's times: the 2 cores may be shared."""
    return f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores"


def best_of(fn):
    """(best seconds, last result) over up to REPEATS calls, stopping once BUDGET seconds are spent."""
    times, out = [], None
    while len(times) < REPEATS and sum(times) < BUDGET:
        t, out = timed(fn)
        times.append(t)
    return min(times), out


def measured(fn):
    """(best seconds, result, peak RSS above the start in bytes) of `fn` in this process."""
    start = rss_status()["VmRSS"]
    reset_peak()
    t, out = best_of(fn)
    return t, out, rss_status()["VmHWM"] - start


def result_bytes(pb):
    """Bytes of an AnnData's X and layers, a buffer shared between them counted once."""
    seen, total = set(), 0
    for m in [pb.X, *pb.layers.values()]:
        parts = [m.data, m.indices, m.indptr] if hasattr(m, "indptr") else [np.asarray(m)]
        for p in parts:
            base = p if p.base is None else p.base
            if id(base) not in seen:
                seen.add(id(base))
                total += p.nbytes
    return total


def dense(m):
    return np.asarray(m.toarray() if hasattr(m, "toarray") else m, dtype=np.float64)


def max_rel(got, want, scale=None):
    """Max of |got - want| / max(|want|, scale, 1e-300); NaN in both is equal, NaN in one is inf."""
    got, want = dense(got), dense(want)
    denom = np.abs(want) if scale is None else np.maximum(np.abs(want), scale)
    with np.errstate(invalid="ignore", divide="ignore"):
        d = np.abs(got - want) / np.maximum(denom, 1e-300)
    d[np.isnan(got) & np.isnan(want)] = 0.0
    d[np.isnan(d)] = np.inf
    return float(d.max()) if d.size else 0.0


# real data ------------------------------------------------------------------


def run_real():
    import warnings

    import scanpy as sc
    import scipy.stats

    from orvalen import deg

    warnings.simplefilter("ignore")
    a = sc.datasets.pbmc68k_reduced()
    a.layers["lognorm"] = a.raw.X  # CSR with each row's genes stored in descending order: kept as is
    peer = a.copy()  # scanpy gets its own copy; `a` is checked unchanged by orvalen's calls below
    before = snapshot(a)
    keys, stats = ["bulk_labels", "phase"], ["sum", "mean", "var", "count_nonzero"]
    print(f"real data: pbmc68k_reduced {a.n_obs} cells x {a.n_vars} genes, scanpy {version('scanpy')}:")
    for layer in (None, "lognorm"):
        what = "X (scaled, dense)" if layer is None else "layer lognorm (raw X, sparse)"
        x = dense(a.X if layer is None else a.layers[layer])
        ours = deg.get_pseudobulk(a, keys, stats=tuple(stats), layer=layer)
        theirs = sc.get.aggregate(peer, by=keys, func=stats, layer=layer)
        labels = list(zip(*(theirs.obs[k].astype(str) for k in keys)))
        where = {lab: i for i, lab in enumerate(labels)}
        ours_labels = list(zip(*(ours.obs[k].astype(str) for k in keys)))
        rows = [where[lab] for lab in ours_labels]
        exact = exact_aggregates(x, a.obs[keys].astype(str), ours_labels)
        two = ours.obs["n_cells"].to_numpy() >= 2  # a one-cell group has no sample variance
        vs_exact, vs_scanpy, scanpy_off = {}, {}, {}
        for s in stats:
            got, sc_got = dense(ours.layers[s]), dense(theirs.layers[s])[rows]
            keep, scale = (two, exact["mean"][two] ** 2) if s == "var" else (slice(None), None)
            vs_exact[s] = max_rel(got[keep], exact[s][keep], scale)
            vs_scanpy[s] = max_rel(got[keep], sc_got[keep], scale)
            scanpy_off[s] = max_rel(sc_got[keep], exact[s][keep], scale)
        same_rows = ours.n_obs == theirs.n_obs and len(set(ours_labels)) == ours.n_obs
        # Float32 results are rounded once: exact to half an ulp. Equal to scanpy
        # within that plus what scanpy itself is off a float64 two-pass rendering.
        tol = {s: max(EXACT, rounding(ours.layers[s].dtype)) for s in stats}
        ok = same_rows and all(vs_exact[s] <= tol[s] and vs_scanpy[s] <= tol[s] + scanpy_off[s] for s in stats)
        dtypes = ", ".join(f"{s} {ours.layers[s].dtype}" for s in stats)
        print(
            f"  get_pseudobulk {what}: {ours.n_obs} groups ({theirs.n_obs} in scanpy), {dtypes}; max rel diff",
            flush=True,
        )
        for name, d in (
            ("to scanpy", vs_scanpy),
            ("to float64 two-pass", vs_exact),
            ("scanpy to two-pass", scanpy_off),
        ):
            print(f"    {name:20s} " + ", ".join(f"{s} {v:.1e}" for s, v in d.items()))
        print(f"    {verdict(ok)}", flush=True)

        _, full = deg.simple_DEG_adata(a, "bulk_labels", layer=layer, verbose=False)
        worst, kept_ok, n_cmp = 0.0, True, 0
        for g in a.obs["bulk_labels"].cat.categories:
            inside = (a.obs["bulk_labels"] == g).to_numpy()
            test, rest = x[inside], x[~inside]
            testable = (
                (inside.sum() > 1)
                & ((~inside).sum() > 1)
                & (test.std(axis=0, ddof=1) >= 1e-8)
                & (rest.std(axis=0, ddof=1) >= 1e-8)
            )
            p = scipy.stats.ttest_ind(test, rest, axis=0, equal_var=False).pvalue
            table = full.get(f"{g}_vs_others")
            want_genes = set(a.var_names[testable & np.isfinite(p)])
            got_genes = set() if table is None else set(table.index)
            kept_ok &= got_genes == want_genes
            if table is not None:
                pos = a.var_names.get_indexer(table.index)
                worst = max(worst, max_rel(table["pval"].to_numpy(), p[pos]))
                n_cmp += len(pos)
        ok = kept_ok and worst <= EXACT
        print(
            f"  simple_DEG_adata one-vs-rest {what}: {n_cmp} p-values against scipy ttest_ind(equal_var=False),"
            f" max rel diff {worst:.1e}, genes kept {'as the rule' if kept_ok else 'NOT as the rule'}: {verdict(ok)}",
            flush=True,
        )
    same = all(np.array_equal(u, v) for u, v in zip(before, snapshot(a)))
    print(f"  X and layer unchanged by orvalen's calls: {verdict(same)}", flush=True)


def rounding(dtype):
    """Relative error of one rounding to `dtype` (half an ulp), 0 for integers."""
    return float(np.finfo(dtype).eps) / 2 if np.issubdtype(dtype, np.floating) else 0.0


def snapshot(a):
    """Copies of the arrays behind X and the layers, to tell whether a call changed them in place."""
    out = []
    for m in [a.X, *a.layers.values()]:
        out += [m.data.copy(), m.indices.copy(), m.indptr.copy()] if hasattr(m, "indptr") else [np.array(m)]
    return out


def exact_aggregates(x, keys, labels):
    """Per group of `labels` (tuples of the `keys` frame's values): float64 sums,
    means, two-pass variances (ddof 1) and non-zero counts of `x`'s rows."""
    tuples = list(zip(*(keys[k] for k in keys.columns)))
    members = {}
    for i, lab in enumerate(tuples):
        members.setdefault(lab, []).append(i)
    out = {s: np.full((len(labels), x.shape[1]), np.nan) for s in ("sum", "mean", "var", "count_nonzero")}
    for r, lab in enumerate(labels):
        rows = x[members[lab]]
        out["sum"][r], out["mean"][r] = rows.sum(axis=0), rows.mean(axis=0)
        out["count_nonzero"][r] = (rows != 0).sum(axis=0)
        if len(rows) > 1:
            out["var"][r] = rows.var(axis=0, ddof=1)
    return out


def version(name):
    from importlib.metadata import version

    return version(name)


# in memory, 1,000,000 x 10,000 ---------------------------------------------


def memory_atlas():
    """bench_scale's atlas (written when missing) and its path."""
    from bench import bench_scale

    path = bench_scale.atlas_path(1_000_000)
    if not path.exists():
        OUT.mkdir(exist_ok=True)
        print(f"writing {path}", flush=True)
        t, _ = timed(lambda: bench_scale.write_atlas(path, 1_000_000))
        print(f"wrote {path} in {t:.0f} s", flush=True)
    return path


def memory_child(path, impl, what):
    """One side of one comparison in this fresh process: prints a JSON line."""
    import warnings

    import anndata as ad
    import pandas as pd

    warnings.simplefilter("ignore")
    a = ad.read_h5ad(path)
    types = np.random.default_rng(20).integers(0, N_TYPES_MEMORY, a.n_obs)
    a.obs["cell_type"] = pd.Categorical.from_codes(types, [f"t{t:02d}" for t in range(N_TYPES_MEMORY)])
    keys = ["sample", "cell_type"]
    if impl == "orvalen":
        from orvalen import deg

        fns = {
            "pseudobulk": lambda: deg.get_pseudobulk(a, keys, stats=("sum", "var")),
            "deg": lambda: deg.simple_DEG_adata(a, "cell_type", verbose=False),
        }
    else:
        import scanpy as sc

        fns = {
            "pseudobulk": lambda: sc.get.aggregate(a, by=keys, func=["sum", "var"]),
            "deg": lambda: sc.tl.rank_genes_groups(a, "cell_type", method="t-test", n_genes=a.n_vars, use_raw=False),
        }
    t, _, peak = measured(fns[what])
    print(json.dumps({"time": t, "peak": peak, "version": version(impl)}))


def child(python, *args):
    """The last JSON line of `python -m bench.bench_pseudobulk --child ...`, or the failure as {"error": ...}."""
    p = subprocess.run(
        [str(python), "-m", "bench.bench_pseudobulk", "--child", *map(str, args)],
        capture_output=True,
        text=True,
        cwd=ROOT,
    )
    if p.returncode != 0:
        return {"error": f"exit {p.returncode}: {p.stderr.strip().splitlines()[-1:]}"}
    return json.loads(p.stdout.strip().splitlines()[-1])


def peers():
    """(label, interpreter) of each scanpy to run: this venv's, and the prerelease venv's when it differs."""
    out = [(f"scanpy {version('scanpy')}", sys.executable)]
    if PEER_PRE.exists():
        p = subprocess.run(
            [str(PEER_PRE), "-c", "from importlib.metadata import version; print(version('scanpy'))"],
            capture_output=True,
            text=True,
        )
        pre = p.stdout.strip()
        if p.returncode == 0 and pre != version("scanpy"):
            out.append((f"scanpy {pre} (prerelease venv)", PEER_PRE))
        else:
            print(f"  prerelease venv {PEER_PRE.parent.parent}: scanpy {pre or '?'}, the same: not run twice")
    return out


def run_memory():
    path = memory_atlas()
    print(
        f"in memory: {path.name}, cell_type of {N_TYPES_MEMORY} types per cell;"
        f" best of {ROUNDS} fresh processes per side, alternating, each the best of up to {REPEATS} calls; {load()}:",
        flush=True,
    )
    cases = {
        "pseudobulk": ("get_pseudobulk(sum, var) by sample x cell_type", "aggregate(sum, var)", 2.0),
        "deg": ("simple_DEG_adata one-vs-rest by cell_type", "rank_genes_groups(t-test)", 10.0),
    }
    sides = peers()
    for what, (ours_label, peer_label, bar) in cases.items():
        # Sides alternate, ROUNDS times each, so that both meet the shared machine's load alike.
        runs = {label: [] for label in ["orvalen", *(label for label, _ in sides)]}
        for _ in range(ROUNDS):
            runs["orvalen"].append(child(sys.executable, "memory", path, "orvalen", what))
            for label, python in sides:
                runs[label].append(child(python, "memory", path, "scanpy", what))
        ours = fastest(runs.pop("orvalen"))
        if "error" in ours:
            print(f"  {ours_label}: FAIL {ours['error']}", flush=True)
            continue
        print(f"  {ours_label}: {ours['time']:7.2f} s, peak +{ours['peak'] / GIB:5.2f} GiB", flush=True)
        for label, results in runs.items():
            theirs = fastest(results)
            if "error" in theirs:
                print(f"    {label} {peer_label}: {theirs['error']}", flush=True)
                continue
            ratio = theirs["time"] / ours["time"]
            print(
                f"    {label} {peer_label}: {theirs['time']:7.2f} s, peak +{theirs['peak'] / GIB:5.2f} GiB;"
                f" orvalen {ratio:5.1f}x faster (bar {bar:g}x: {verdict(ratio >= bar)})",
                flush=True,
            )


def fastest(results):
    """The fastest of one side's child results, or the first failure."""
    failed = [r for r in results if "error" in r]
    return failed[0] if failed else min(results, key=lambda r: r["time"])


# the 10,000,000-cell atlas --------------------------------------------------


def scale_calls(adata):
    """The measured calls on the 10M atlas, by name."""
    from orvalen import deg

    return {
        "pseudobulk": lambda: deg.get_pseudobulk(adata, ["sample", "cell_type"], stats=("sum", "count_nonzero")),
        "mean_100k": lambda: deg.get_gene_expression_mean(adata, group_col="pb_100k", nz_pct=False),
        "deg": lambda: deg.simple_DEG_adata(adata, "cell_type", verbose=False),
        "mean_types": lambda: quiet(lambda: deg.get_gene_expression_mean(adata, group_col="cell_type", nz_pct=False)),
    }


def quiet(fn):
    """`fn()` without the warning that a cell type holds cells of both conditions: a time floor only."""
    import warnings

    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", message=".*of more than one condition")
        return fn()


def check_pseudobulk(path, pb, codes):
    """25 random groups of the sums (as means) and non-zero counts (as fractions) against scipy on their rows."""
    import pandas as pd

    from bench import _atlas

    labels = [f"{s}_{t}" for s, t in zip(pb.obs["sample"].astype(str), pb.obs["cell_type"].astype(str))]
    n = pb.obs["n_cells"].to_numpy(np.float64)[:, None]
    out = []
    for stat, what in (("sum", "mean"), ("count_nonzero", "detection")):
        frame = pd.DataFrame(dense(pb.layers[stat]) / n, index=labels)
        if what == "mean":
            frame.insert(0, "Group", pb.obs["condition"].astype(str).to_numpy())
        out.append(f"{stat} {_atlas.check_groups(path, frame, codes, what)}")
        del frame
    return "; ".join(out)


def scale_backed_child(path, what):
    import anndata as ad

    from bench import _atlas

    adata = ad.read_h5ad(path, backed="r")
    _atlas.with_cell_type(adata.obs)
    start = rss_status()["VmRSS"]
    reset_peak()
    t, res = timed(scale_calls(adata)[what])
    peak = rss_status()["VmHWM"] - start
    out = {"time": t, "peak": peak}
    if what == "pseudobulk":
        out["bytes"] = result_bytes(res)
        out["check"] = check_pseudobulk(path, res, adata.obs["pb_100k"].cat.codes.to_numpy())
    print(json.dumps(out))


def scale_verdicts(res):
    """The bars' lines of the four calls' {time, peak, bytes, check}; `res` may hold an "error" per call."""
    bad = [f"{k}: {r['error']}" for k, r in res.items() if "error" in r]
    if bad:
        return [f"    FAIL {b}" for b in bad]
    pb, m100k, dg, mt = res["pseudobulk"], res["mean_100k"], res["deg"], res["mean_types"]
    c_bar, c_peak = 2 * pb["bytes"] + GIB / 2, pb["peak"]
    return [
        f"    get_pseudobulk(sum, count_nonzero) by sample x cell_type {pb['time']:7.2f} s,"
        f" get_gene_expression_mean by pb_100k {m100k['time']:7.2f} s:"
        f" {pb['time'] / m100k['time']:4.2f}x (bar 2x: {verdict(pb['time'] <= 2 * m100k['time'])})",
        f"    simple_DEG_adata over cell_type {dg['time']:7.2f} s, get_gene_expression_mean by cell_type"
        f" {mt['time']:7.2f} s: {dg['time'] / mt['time']:4.2f}x (bar 2x: {verdict(dg['time'] <= 2 * mt['time'])})",
        f"    get_pseudobulk client peak +{c_peak / GIB:4.2f} GiB (result {pb['bytes'] / GIB:4.2f} GiB,"
        f" bar {c_bar / GIB:4.2f}: {verdict(c_peak <= c_bar)}); {pb['check']}",
    ]


def run_scale_backed(path):
    from bench._common import block_read

    block_read(path, 4 * 2**20)  # the page cache holds the file for every case alike
    print("backed, one fresh process per call:", flush=True)
    res = {what: child(sys.executable, "scale-backed", path, what) for what in scale_calls(None)}
    for line in scale_verdicts(res):
        print(line, flush=True)


def run_scale_dask(path):
    import anndata as ad
    import h5py
    from anndata.experimental import read_elem_lazy
    from distributed import Client

    from bench import _atlas

    with local_cluster("6GiB") as cluster, Client(cluster) as client, h5py.File(path, "r") as f:
        backed = ad.read_h5ad(path, backed="r")
        adata = ad.AnnData(X=read_elem_lazy(f["X"], chunks=(CHUNK, -1)), obs=backed.obs, var=backed.var)
        del backed
        _atlas.with_cell_type(adata.obs)
        codes = adata.obs["pb_100k"].cat.codes.to_numpy()
        pids = client.run(os.getpid)
        print(f"dask, LocalCluster 2 workers x 1 thread, 6 GiB each, chunks of {CHUNK:,} cells:", flush=True)
        res, w_peak = {}, 0
        for what, fn in scale_calls(adata).items():
            client.run(reset_peak)
            start = rss_status()["VmRSS"]
            reset_peak()
            try:
                t, out = timed(fn)
            except Exception as e:  # a failed call is a result to print, not the end of the run
                res[what] = {"error": f"{type(e).__name__}: {e}"[:300]}
                continue
            res[what] = {"time": t, "peak": rss_status()["VmHWM"] - start}
            w_peak = max(w_peak, max(client.run(worker_peak).values()))
            if what == "pseudobulk":
                res[what]["bytes"] = result_bytes(out)
                res[what]["check"] = check_pseudobulk(path, out, codes)
            del out
        for line in scale_verdicts(res):
            print(line, flush=True)
        restarted = client.run(os.getpid) != pids
        print(
            f"    worker peak {w_peak / GIB:4.2f} GiB ({verdict(w_peak <= 2 * GIB)}),"
            f" restarts: {'yes: FAIL' if restarted else 'none: PASS'}",
            flush=True,
        )
        print("  end to end (docs/scaling.md) on the same cluster:", flush=True)
        for step, t in end_to_end(adata).items():
            print(f"    {step:58s} {t:7.2f} s", flush=True)


# The end-to-end example of docs/scaling.md, step by step; keep the two alike.


def log_normalise(pb):
    """log2 counts per million of each pseudo-bulk sample (an empty sample stays 0)."""
    x = pb.X.toarray() if hasattr(pb.X, "toarray") else np.array(pb.X)  # a copy, normalised in place
    lib = x.sum(axis=1, keepdims=True)
    x *= 1e6 / np.where(lib > 0, lib, 1)
    np.log1p(x, out=x)
    x /= np.log(2)
    return x


def per_type_deg(pb, logcpm):
    """simple_DEG of trt against ctl within each cell type, donors as samples."""
    import pandas as pd

    from orvalen import deg

    out = {}
    for cell_type, rows in pb.obs.groupby("cell_type", observed=True).indices.items():
        df = pd.DataFrame(logcpm[rows].T, index=pb.var_names, columns=pb.obs_names[rows])
        out[cell_type] = deg.simple_DEG(df, pb.obs["condition"].iloc[rows].tolist(), ref_condition="ctl", verbose=False)
    return out


def end_to_end(adata):
    from orvalen import deg

    steps = {}
    t0 = time.perf_counter()
    steps["pseudo-bulk sums by donor x cell type (get_pseudobulk)"], pb = timed(
        lambda: deg.get_pseudobulk(adata, group_cols=["sample", "cell_type"], stats=("sum",))
    )
    steps["log-normalise the pseudo-bulk"], logcpm = timed(lambda: log_normalise(pb))
    steps[f"simple_DEG trt vs ctl per cell type ({pb.obs['cell_type'].nunique()} types)"], _ = timed(
        lambda: per_type_deg(pb, logcpm)
    )
    steps["cell-level simple_DEG_adata one-vs-rest over cell_type"], _ = timed(
        lambda: deg.simple_DEG_adata(adata, "cell_type", verbose=False)
    )
    steps["total"] = time.perf_counter() - t0
    return steps


def run_scale(out):
    from bench import _atlas

    path = _atlas.atlas_path(out)
    if not path.exists():
        path.parent.mkdir(parents=True, exist_ok=True)
        print(f"writing {path}", flush=True)
        t, _ = timed(lambda: _atlas.write_atlas(path))
        print(f"wrote {path} in {t:.0f} s", flush=True)
    print(f"scale: {path.name}, {os.path.getsize(path) / 1e9:.2f} GB, {time.strftime('%H:%M')}; {load()}", flush=True)
    run_scale_backed(path)
    run_scale_dask(path)


def main():
    if sys.argv[1:2] == ["--child"]:
        kind, path, *rest = sys.argv[2:]
        if kind == "memory":
            memory_child(Path(path), *rest)
        else:
            scale_backed_child(Path(path), *rest)
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("--part", choices=["real", "memory", "scale", "all"], default="all")
    ap.add_argument("--out", type=Path, default=OUT, help="folder of the 10M atlas (default bench/out)")
    args = ap.parse_args()
    if args.part in ("real", "all"):
        run_real()
    if args.part in ("memory", "all"):
        run_memory()
    if args.part in ("scale", "all"):
        run_scale(args.out)


if __name__ == "__main__":
    main()
