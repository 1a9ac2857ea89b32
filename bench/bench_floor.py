"""How close each heavy function runs to one memory pass over its input.

Each workload is timed (best of 3) next to a single vectorised pass over the
same input, measured in the same run: `np.nansum` over the table, or
`pandas.factorize` of one label column. The package column also gives the
peak extra resident memory of one call.

    python -m bench.bench_floor               # the full sizes
    python -m bench.bench_floor --small       # a quick run of the script itself
    python -m bench.bench_floor --no-atlas    # skip the 1,000,000-cell AnnData
"""

import argparse
import gc
import time
import warnings

import numpy as np
import pandas as pd

from bench._common import rss_status
from bench.bench_cci import diff_table


def measure(fn, repeats=3):
    """Best wall time (s) and the peak resident memory one call adds (MiB)."""
    fn()  # first-call imports and caches
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the high-water mark
    base = rss_status()["VmRSS"]
    res = fn()
    peak = (rss_status()["VmHWM"] - base) / 2**20
    del res
    best = float("inf")
    for _ in range(repeats):
        t = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t)
    return best, peak


def row(name, pkg, floor, bar=None):
    (tp, mp), (tf, _) = pkg, floor
    ratio = tp / tf
    verdict = "" if bar is None else f"  (bar {bar}x: {'ok' if ratio <= bar else 'MISSED'})"
    print(
        f"{name:<58} package {tp:8.3f} s  one pass {tf:8.3f} s  ratio {ratio:6.1f}x  peak +{mp:7.1f} MiB{verdict}",
        flush=True,
    )


def labels(n, k, prefix, rng):
    names = np.array([f"{prefix}{i:03d}" for i in range(k)], dtype=object)
    return names[rng.integers(0, k, n)]


def deg_table(n_genes, groups, per_group, nan):
    rng = np.random.default_rng(0)
    n = groups * per_group
    x = rng.normal(5.0, 1.0, (n_genes, n))
    x[: n_genes // 10, :per_group] += 1.0
    if nan:
        x[rng.random(x.shape) < nan] = np.nan
    df = pd.DataFrame(x, index=[f"gene{i}" for i in range(n_genes)], columns=[f"s{j}" for j in range(n)])
    return df, [f"G{k}" for k in range(groups) for _ in range(per_group)]


def random_csr(n, g, density, seed):
    """Canonical CSR (sorted, distinct columns per row), as stored atlases are."""
    import scipy.sparse as sp

    rng = np.random.default_rng(seed)
    indptr = [np.zeros(1, np.int64)]
    indices, step = [], 20_000
    for r0 in range(0, n, step):
        r1 = min(n, r0 + step)
        m = rng.binomial((r1 - r0) * g, density)
        flat = np.unique(rng.integers(0, (r1 - r0) * g, m))  # sorted by row, then column
        rows, cols = np.divmod(flat, g)
        indices.append(cols.astype(np.int32))
        indptr.append(indptr[-1][-1] + np.cumsum(np.bincount(rows, minlength=r1 - r0)))
    indices = np.concatenate(indices)
    indptr = np.concatenate(indptr)
    data = rng.gamma(1.5, 1.0, indices.size).astype(np.float32)
    idx_dtype = np.int32 if indices.size < 2**31 else np.int64
    return sp.csr_matrix((data, indices, indptr.astype(idx_dtype)), shape=(n, g))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--small", action="store_true")
    ap.add_argument("--no-atlas", action="store_true")
    a = ap.parse_args()
    warnings.simplefilter("ignore")
    import anndata as ad

    from orvalen import deg, tolvar

    s = 10 if a.small else 1
    rng = np.random.default_rng(1)
    print("(best of 3; 'one pass' is np.nansum over the input or pandas.factorize of one label column)")

    df, groups = deg_table(30_000 // s, 2, 100, 0.05)
    pair_groups = ["ref" if g == "G0" else "test" for g in groups]
    row(
        "simple_DEG_pair, 30,000 genes x 200 samples, 5% NaN",
        measure(lambda: deg.simple_DEG_pair(df, pair_groups, verbose=False)),
        measure(lambda: np.nansum(df.to_numpy())),
    )

    df, groups = deg_table(30_000 // s, 8, 20, 0.0)
    row(
        "simple_DEG one-vs-rest, 30,000 genes, 8 groups x 20",
        measure(lambda: deg.simple_DEG(df, groups, verbose=False)),
        measure(lambda: np.nansum(df.to_numpy())),
        4,
    )
    df = None

    table, mapping = diff_table(60, 20_000 // s, 0.05)
    row(
        "cci_get_diff_interactions, 60 x 20,000, 4 groups, 5% NaN",
        measure(lambda: tolvar.cci_get_diff_interactions(table, mapping)),
        measure(lambda: np.nansum(table.to_numpy())),
        4,
    )

    x = random_csr(50_000 // s, 20_000 // s, 0.05, 2)
    smp = labels(x.shape[0], 40, "S", rng)
    obs = pd.DataFrame(
        {"sample": pd.Categorical(smp), "condition": pd.Categorical(np.where(smp < "S020", "a", "b"))},
        index=[f"c{i}" for i in range(x.shape[0])],
    )
    adata = ad.AnnData(X=x, obs=obs, var=pd.DataFrame(index=[f"g{j}" for j in range(x.shape[1])]))
    row(
        "get_gene_expression_mean, CSR 50,000 x 20,000 at 5%",
        measure(lambda: deg.get_gene_expression_mean(adata)),
        measure(lambda: np.nansum(x.data)),
    )
    adata = x = obs = None

    pids = pd.Series(labels(2_000_000 // s, 100, "P", rng))
    cts = pd.Series(labels(2_000_000 // s, 40, "Celltype_", rng))
    row(
        "get_population, 2,000,000 cells, object labels",
        measure(lambda: tolvar.get_population(pids, cts)),
        measure(lambda: pd.factorize(pids)),
        2.5,
    )
    pids = cts = None

    n = 1_000_000 // s
    clusters = rng.integers(0, 300, n)
    samples = np.where(clusters % 2 == 0, clusters % 100, rng.integers(0, 100, n))
    obs = pd.DataFrame(
        {
            "sample": np.array([f"P{v:03d}" for v in range(100)], dtype=object)[samples],
            "cnv_cluster": np.array([str(v) for v in range(300)], dtype=object)[clusters],
            "ploidy_dec": np.where(rng.random(n) < 0.4, "Aneuploid", "Diploid").astype(object),
            "cnv_ref_ind": rng.random(n) < 0.1,
        },
        index=pd.Index([f"c{i}" for i in range(n)]),
    )
    div = ad.AnnData(obs=obs)
    row(
        "compute_sample_div_index, 1,000,000 cells, object labels",
        measure(lambda: tolvar.compute_sample_div_index(div)),
        measure(lambda: pd.factorize(obs["sample"])),
        5,
    )
    div = obs = None

    if a.no_atlas:
        return
    n = 1_000_000 // s
    x = random_csr(n, 10_000, 0.02, 3)
    codes = rng.integers(0, 100, n)
    names = np.array([f"S{i:03d}" for i in range(100)], dtype=object)
    cond = np.array(["ctrl", "case"], dtype=object)
    obs = pd.DataFrame(
        {"sample": pd.Categorical(names[codes]), "condition": pd.Categorical(cond[codes % 2])},
        index=[f"c{i}" for i in range(n)],
    )
    atlas = ad.AnnData(X=x, obs=obs, var=pd.DataFrame(index=[f"g{j}" for j in range(x.shape[1])]))
    print(f"atlas: {n:,} cells x 10,000 genes, CSR at 2%, 100 samples as categoricals")
    detect = measure(lambda: deg.get_gene_expression_mean(atlas))
    row(
        "  get_gene_expression_mean(nz_pct=False) vs detection mode",
        measure(lambda: deg.get_gene_expression_mean(atlas, nz_pct=False)),
        detect,
        1.5,
    )
    atlas = x = None
    fac = measure(lambda: pd.factorize(obs["sample"]))
    row(
        "  get_sample_to_group_map, categorical columns",
        measure(lambda: deg.get_sample_to_group_map(obs["sample"], obs["condition"])),
        fac,
        3,
    )
    s_obj, c_obj = obs["sample"].astype(object), obs["condition"].astype(object)
    fac = measure(lambda: pd.factorize(s_obj))
    row("  get_sample_to_group_map, object columns", measure(lambda: deg.get_sample_to_group_map(s_obj, c_obj)), fac, 3)


if __name__ == "__main__":
    main()
