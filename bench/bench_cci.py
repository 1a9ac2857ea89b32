"""Speed and memory of the interaction functions against plain pandas/scipy.

    python -m bench.bench_cci [--quick]

Each line gives the package's best time, the reference's time, their ratio
and the peak memory the call adds on top of what the process held before it.
"""

import argparse
import gc
import time
import warnings

import numpy as np
import pandas as pd

from orvalen import tolvar
from tests.reference.cci import ref_diff, ref_means, ref_plot

CELLS = ["T cell", "B cell", "NK cell", "CD14 Mono", "CD16 Mono", "Plasma cell", "pDC", "Mast cell"]


# ------------------------------------------------------------------ data


def diff_table(n_samples, n_items, nan_frac, seed=0):
    rng = np.random.default_rng(seed)
    groups = [["ctrl", "mild", "severe", "recovered"][i % 4] for i in range(n_samples)]
    x = rng.gamma(2.0, 1.0, size=(n_samples, n_items))
    x += rng.normal(0, 0.5, size=(4, n_items))[[["ctrl", "mild", "severe", "recovered"].index(g) for g in groups]]
    x[rng.random(x.shape) < nan_frac] = np.nan
    samples = [f"S{i:02d}" for i in range(n_samples)]
    cols = [f"L{i}_R{i}--{CELLS[i % 8]}|{CELLS[(i // 8) % 8]}" for i in range(n_items)]
    return pd.DataFrame(x, index=samples, columns=cols), dict(zip(samples, groups))


def cci_dict(n_samples, per_sample, universe, seed=1):
    rng = np.random.default_rng(seed)
    ids = np.array(
        [f"G{i % 997}_H{i // 997}--{CELLS[i % 8]}|{CELLS[(i // 8) % 8]}" for i in range(universe)], dtype=object
    )
    out = {}
    for s in range(n_samples):
        pick = rng.choice(universe, size=per_sample, replace=False)
        idx = ids[pick]
        parts = [i.split("--") for i in idx]
        gp = [p[0].split("_") for p in parts]
        cp = [p[1].split("|") for p in parts]
        out[f"sample {s}"] = pd.DataFrame(
            {
                "gene_A": [g[0] for g in gp],
                "gene_B": [g[1] for g in gp],
                "cell_A": [c[0] for c in cp],
                "cell_B": [c[1] for c in cp],
                "mean": rng.gamma(2.0, 0.6, per_sample),
                "pval": rng.uniform(size=per_sample) ** 3,
                "rank": rng.uniform(size=per_sample),
            },
            index=idx,
        )
    return out


# ------------------------------------------------------------------ measuring


def _status_kb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def measure(fn, repeats):
    """Best wall time and the peak resident memory added by one call (MiB)."""
    gc.collect()
    peak = None
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # resets the peak resident set size
        base = _status_kb("VmRSS")
        result = fn()
        peak = (_status_kb("VmHWM") - base) / 1024
    except OSError:
        result = fn()
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best, peak, result


def report(name, pkg, ref, bar):
    (tp, mp, _), (tr, mr, _) = pkg, ref
    fmt = lambda m: "n/a" if m is None else f"{m:.1f} MiB"
    ratio = tr / tp
    print(
        f"{name:<44} package {tp * 1e3:9.1f} ms  reference {tr * 1e3:9.1f} ms  ratio {ratio:6.1f}x"
        f"  (bar {bar}x: {'ok' if ratio >= bar else 'MISSED'})  peak +{fmt(mp)} vs +{fmt(mr)}"
    )


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="smaller inputs, for a smoke run")
    ap.add_argument(
        "--only",
        choices=["diff", "means", "plot"],
        action="append",
        help="run only these (repeatable); the difference test's reference alone takes minutes",
    )
    args = ap.parse_args()
    run = set(args.only or ["diff", "means", "plot"])
    n_items, per_sample, universe = (2000, 500, 2000) if args.quick else (20000, 5000, 20000)
    warnings.simplefilter("ignore")

    if "diff" in run:
        df, mapping = diff_table(60, n_items, 0.05)
        pkg = measure(lambda: tolvar.cci_get_diff_interactions(df, mapping), 5)
        ref = measure(lambda: ref_diff(df, mapping), 1)
        got, want = pkg[2], ref[2]
        assert list(got.index) == list(want.index) and np.allclose(got.to_numpy(), want.to_numpy(), rtol=1e-10)
        report(f"cci_get_diff_interactions 60 x {n_items}, 4 groups", pkg, ref, 10)
        del df, got, want, pkg, ref

    d = cci_dict(60, per_sample, universe)
    if "means" in run:
        pkg = measure(lambda: tolvar.cci_get_means(d), 3)
        ref = measure(lambda: ref_means(d), 1)
        got, want = pkg[2], ref[2]
        assert got.shape == want.shape
        pd.testing.assert_frame_equal(got[want.columns], want)
        report(f"cci_get_means 60 samples x {per_sample}", pkg, ref, 3)
        del got, want, pkg, ref
    if "plot" not in run:
        return

    import contextlib
    import io

    with contextlib.redirect_stdout(io.StringIO()):
        pkg = measure(lambda: tolvar.cci_get_df_to_plot(d), 3)
        ref = measure(lambda: ref_plot(d), 1)
    got, want = pkg[2], ref[2]
    assert all(len(got[k]) == len(want[k]) for k in d)
    k0 = next(iter(d))
    pd.testing.assert_frame_equal(got[k0].loc[want[k0].index], want[k0], check_dtype=False)
    report(f"cci_get_df_to_plot 60 samples x {per_sample}", pkg, ref, 3)


if __name__ == "__main__":
    main()
