"""Speed and memory of the cohort metrics against straightforward pandas renderings.

Every measurement runs in a fresh interpreter; memory is the resident-set
high-water mark reached during the call above the level just before it.

    python -m bench.bench_metrics            # full sizes (from the repository root)
    python -m bench.bench_metrics --small    # quick check of the script itself
"""

import argparse
import json
import os
import subprocess
import sys
import time

import numpy as np

from bench._common import ROOT, rss_status

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "out")

SIZES = {
    "full": dict(
        expr_cells=50_000,
        expr_genes=20_000,
        density=0.05,
        expr_samples=40,
        pop_cells=2_000_000,
        pop_samples=100,
        pop_types=40,
        div_cells=1_000_000,
        div_clusters=300,
        div_samples=100,
    ),
    "small": dict(
        expr_cells=5_000,
        expr_genes=2_000,
        density=0.05,
        expr_samples=40,
        pop_cells=200_000,
        pop_samples=100,
        pop_types=40,
        div_cells=100_000,
        div_clusters=300,
        div_samples=100,
    ),
}


# ---------------------------------------------------------------- memory


def _reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def measure(fn, repeat=1):
    """Best wall time over `repeat` calls and peak extra resident memory."""
    import gc

    gc.collect()
    _reset_peak()
    base = rss_status()["VmRSS"]
    best = float("inf")
    for _ in range(repeat):
        t = time.perf_counter()
        res = fn()
        best = min(best, time.perf_counter() - t)
        del res
    return best, rss_status()["VmHWM"] - base


# ---------------------------------------------------------------- data


def expr_path(size):
    return os.path.join(OUT, f"expr_{size}.npz")


def make_expr_matrix(size):
    import scipy.sparse as sp

    p = SIZES[size]
    path = expr_path(size)
    if os.path.exists(path):
        return
    os.makedirs(OUT, exist_ok=True)
    rng = np.random.default_rng(0)
    n, g = p["expr_cells"], p["expr_genes"]
    chunks, indptr = [], [np.zeros(1, np.int64)]
    for start in range(0, n, 1000):
        rows = min(1000, n - start)
        mask = rng.random((rows, g), dtype=np.float32) < p["density"]
        r, c = np.nonzero(mask)
        chunks.append(c.astype(np.int32))
        indptr.append(np.cumsum(np.bincount(r, minlength=rows)) + indptr[-1][-1])
    indices = np.concatenate(chunks)
    data = rng.gamma(1.5, 1.0, indices.size).astype(np.float32)
    x = sp.csr_matrix((data, indices, np.concatenate(indptr).astype(np.int32)), shape=(n, g))
    sp.save_npz(path, x, compressed=False)


def load_expr_adata(size):
    import anndata as ad
    import pandas as pd
    import scipy.sparse as sp

    p = SIZES[size]
    x = sp.load_npz(expr_path(size)).tocsr()
    rng = np.random.default_rng(1)
    n, ns = x.shape[0], p["expr_samples"]
    codes = rng.integers(0, ns, n)
    samples = np.array([f"S{i:02d}" for i in range(ns)])[codes]
    cond = np.where(codes % 2 == 0, "ctrl", "case")
    obs = pd.DataFrame(
        {"sample": pd.Categorical(samples), "condition": pd.Categorical(cond)}, index=[f"cell{i}" for i in range(n)]
    )
    var = pd.DataFrame(index=[f"gene{j}" for j in range(x.shape[1])])
    return ad.AnnData(X=x, obs=obs, var=var)


def make_labels(n, k, prefix, rng):
    import pandas as pd

    names = np.array([f"{prefix}{i:03d}" for i in range(k)], dtype=object)
    return pd.Series(names[rng.integers(0, k, n)])


def pop_inputs(size, kind):
    p = SIZES[size]
    rng = np.random.default_rng(2)
    pids = make_labels(p["pop_cells"], p["pop_samples"], "P", rng)
    cts = make_labels(p["pop_cells"], p["pop_types"], "Celltype_", rng)
    if kind == "categorical":
        pids, cts = pids.astype("category"), cts.astype("category")
    return pids, cts


def div_adata(size):
    import anndata as ad
    import pandas as pd

    p = SIZES[size]
    rng = np.random.default_rng(3)
    n = p["div_cells"]
    clusters = rng.integers(0, p["div_clusters"], n)
    # Half the clusters patient-specific, half shared.
    own = clusters % p["div_samples"]
    samples = np.where(clusters % 2 == 0, own, rng.integers(0, p["div_samples"], n))
    obs = pd.DataFrame(
        {
            "sample": pd.Categorical([f"P{s:03d}" for s in samples]),
            "cnv_cluster": pd.Categorical(clusters.astype(str)),
            "ploidy_dec": pd.Categorical(np.where(rng.random(n) < 0.4, "Aneuploid", "Diploid")),
            "cnv_ref_ind": rng.random(n) < 0.1,
        },
        index=pd.Index([f"c{i}" for i in range(n)]),
    )
    return ad.AnnData(obs=obs)


# ---------------------------------------------------------------- child runs


def child(case, size):
    import warnings

    warnings.simplefilter("ignore")
    from orvalen import deg, tolvar
    from tests.reference.expression import ref_expression_mean, ref_gene_expression
    from tests.reference.population import ref_div_index, ref_population

    res = {}
    if case.startswith("expr"):
        adata = load_expr_adata(size)
        x = adata.X
        res["x_bytes"] = int(x.data.nbytes + x.indices.nbytes + x.indptr.nbytes)
        small = adata[:50].copy()
        fns = {
            "expr_pkg_ge": lambda: tolvar.get_gene_expression(adata),
            "expr_pkg_gem": lambda: deg.get_gene_expression_mean(adata),
            "expr_pkg_gem_mean": lambda: deg.get_gene_expression_mean(adata, nz_pct=False),
        }
        if case in fns:
            fns[case]()  # first-call imports
            deg.get_gene_expression_mean(small), tolvar.get_gene_expression(small)
            res["time"], res["peak"] = measure(fns[case], repeat=3)
        elif case == "expr_ref_ge":  # one run of each dense rendering, each in its own process
            res["time"], res["peak"] = measure(lambda: ref_gene_expression(adata))
        else:
            res["time"], res["peak"] = measure(lambda: ref_expression_mean(adata))
    elif case.startswith("pop"):
        _, kind, impl = case.split("_")
        pids, cts = pop_inputs(size, kind)
        if impl == "pkg":
            tolvar.get_population(pids[:100], cts[:100])
            res["time"], res["peak"] = measure(lambda: tolvar.get_population(pids, cts), repeat=3)
        else:
            res["time"], res["peak"] = measure(lambda: ref_population(pids, cts))
    elif case.startswith("div"):
        adata = div_adata(size)
        if case == "div_pkg":
            tolvar.compute_sample_div_index(div_adata_small())
            res["time"], res["peak"] = measure(lambda: tolvar.compute_sample_div_index(adata), repeat=3)
        else:
            res["time"], res["peak"] = measure(lambda: ref_div_index(adata))
    print("RESULT " + json.dumps(res))


def div_adata_small():
    import anndata as ad
    import pandas as pd

    obs = pd.DataFrame(
        {
            "sample": ["a", "b"],
            "cnv_cluster": ["1", "1"],
            "ploidy_dec": ["Aneuploid", "Diploid"],
            "cnv_ref_ind": [True, False],
        }
    )
    return ad.AnnData(obs=obs)


def run(case, size):
    out = subprocess.run(
        [sys.executable, "-m", "bench.bench_metrics", "--child", case, "--size", size],
        cwd=ROOT,
        capture_output=True,
        text=True,
        check=False,
    )
    for line in out.stdout.splitlines():
        if line.startswith("RESULT "):
            return json.loads(line[7:])
    raise RuntimeError(f"{case} failed:\n{out.stderr[-3000:]}")


def check_agreement(size):
    """The package and the renderings agree on the benchmark inputs themselves."""
    import pandas as pd

    from orvalen import tolvar
    from tests.reference.population import ref_div_index, ref_population

    pids, cts = pop_inputs("small", "object")
    got = tolvar.get_population(pids, cts)
    ref = ref_population(pids, cts)
    pd.testing.assert_frame_equal(got[1], ref[1])
    a, b = div_adata("small"), div_adata("small")
    want, cell = ref_div_index(b)
    pd.testing.assert_frame_equal(tolvar.compute_sample_div_index(a), want, check_dtype=False)
    assert a.obs["sample_diversity_index"].astype(float).equals(cell)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--child")
    ap.add_argument("--size", default="full", choices=list(SIZES))
    ap.add_argument("--small", action="store_true")
    args = ap.parse_args()
    size = "small" if args.small else args.size
    if args.child:
        child(args.child, size)
        return
    p = SIZES[size]
    check_agreement(size)
    make_expr_matrix(size)
    mb = 1 / 2**20
    rows = []

    for case, label, ref_case in [
        ("expr_pkg_ge", "get_gene_expression", "expr_ref_ge"),
        ("expr_pkg_gem", "get_gene_expression_mean", "expr_ref_gem"),
    ]:
        r, ref = run(case, size), run(ref_case, size)
        rows.append(
            (
                f"{label} (CSR f32 {p['expr_cells']}x{p['expr_genes']}, {p['expr_samples']} samples)",
                r["time"],
                ref["time"],
                r["peak"] * mb,
                ref["peak"] * mb,
                r["peak"] / r["x_bytes"],
            )
        )
    r = run("expr_pkg_gem_mean", size)
    rows.append(
        (
            "get_gene_expression_mean nz_pct=False (no rendering timed)",
            r["time"],
            float("nan"),
            r["peak"] * mb,
            float("nan"),
            r["peak"] / r["x_bytes"],
        )
    )
    x_mb = r["x_bytes"] * mb
    for kind in ["object", "categorical"]:
        pk, rf = run(f"pop_{kind}_pkg", size), run(f"pop_{kind}_ref", size)
        rows.append(
            (
                f"get_population ({p['pop_cells']} cells, {p['pop_samples']} samples, "
                f"{p['pop_types']} types, {kind} labels)",
                pk["time"],
                rf["time"],
                pk["peak"] * mb,
                rf["peak"] * mb,
                float("nan"),
            )
        )
    pk, rf = run("div_pkg", size), run("div_ref", size)
    rows.append(
        (
            f"compute_sample_div_index ({p['div_cells']} cells, {p['div_clusters']} clusters, "
            f"{p['div_samples']} samples)",
            pk["time"],
            rf["time"],
            pk["peak"] * mb,
            rf["peak"] * mb,
            float("nan"),
        )
    )

    print(f"X buffers (data+indices+indptr): {x_mb:.0f} MB")
    print(
        f"{'operation':<88} {'package s':>10} {'pandas s':>10} {'speedup':>8} {'pkg MB':>8} {'pandas MB':>10} "
        f"{'pkg/X':>6}"
    )
    for name, t, tr, m, mr, frac in rows:
        print(f"{name:<88} {t:10.3f} {tr:10.3f} {tr / t:8.1f} {m:8.1f} {mr:10.1f} {frac:6.3f}")


if __name__ == "__main__":
    main()
