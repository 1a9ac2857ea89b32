"""Speed and memory of the DEG core against a plain pandas/scipy/statsmodels
rendering of the same steps (astype, means, counts, std, one ttest_ind call
with nan_policy='omit', multipletests).

    python -m bench.bench_deg [case ...]      # from the repository root

Cases: pair_nan, pair_clean (30,000 genes x 100 vs 100 samples, 5% / no
NaN), multi_clean, multi_nan (simple_DEG one-vs-rest, 8 groups of 20).
Every measurement runs in a fresh child process; the peak extra memory is
the resident-set high-water mark (reset just before the call) minus the
resident size before it, so allocations made in C++ are counted too.
"""

import json
import subprocess
import sys
import time

from bench._common import ROOT, rss_status

N_GENES = 30_000
CASES = {
    "pair_nan": dict(kind="pair", groups=2, per_group=100, nan=0.05),
    "pair_clean": dict(kind="pair", groups=2, per_group=100, nan=0.0),
    "multi_clean": dict(kind="multi", groups=8, per_group=20, nan=0.0),
    "multi_nan": dict(kind="multi", groups=8, per_group=20, nan=0.05),
}
BARS = {"pair_nan": 20.0, "pair_clean": 3.0, "multi_clean": 3.0, "multi_nan": 20.0}


def _make_input(case):
    import numpy as np
    import pandas as pd

    cfg = CASES[case]
    n = cfg["groups"] * cfg["per_group"]
    rng = np.random.default_rng(0)
    x = np.empty((N_GENES, n))
    # Filled in row blocks so no large temporary raises the high-water mark.
    for i in range(0, N_GENES, 1000):
        block = rng.normal(5.0, 1.0, (min(1000, N_GENES - i), n))
        block[: len(block) // 10, : cfg["per_group"]] += 1.0
        if cfg["nan"]:
            block[rng.random(block.shape) < cfg["nan"]] = np.nan
        x[i : i + len(block)] = block
    df = pd.DataFrame(x, index=[f"gene{i}" for i in range(N_GENES)], columns=[f"s{j}" for j in range(n)])
    groups = [f"G{k}" for k in range(cfg["groups"]) for _ in range(cfg["per_group"])]
    if cfg["kind"] == "pair":
        groups = ["ref" if g == "G0" else "test" for g in groups]
    return df, groups


def _child(case, impl):
    import pandas as pd  # noqa: F401

    from orvalen import deg
    from tests.reference.deg import reference_pair

    df, groups = _make_input(case)
    kind = CASES[case]["kind"]
    if impl == "package":
        if kind == "pair":

            def run():
                return deg.simple_DEG_pair(df, groups, ref_condition="ref", verbose=False)
        else:

            def run():
                return deg.simple_DEG(df, groups, verbose=False)
    else:
        if kind == "pair":

            def run():
                return reference_pair(df, groups, "ref")
        else:

            def run():
                out = {}
                for g in pd.unique(pd.Series(groups)):
                    res = reference_pair(df, [h if h == g else "others" for h in groups], "others")
                    if not res["error"]:
                        out[f"{g}_vs_others"] = res
                return out

    before = rss_status()["VmRSS"]
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    t0 = time.perf_counter()
    result = run()
    first = time.perf_counter() - t0
    peak = rss_status()["VmHWM"] - before
    del result
    times = [first]
    # The reference with NaN takes seconds per call; one run is enough there.
    repeats = 2 if (impl == "package" or CASES[case]["nan"] == 0) else 0
    for _ in range(repeats):
        t0 = time.perf_counter()
        run()
        times.append(time.perf_counter() - t0)
    table_bytes = df.memory_usage(index=False, deep=False).sum()
    print(json.dumps({"time": min(times), "peak": peak, "table": int(table_bytes)}))


def _measure(case, impl):
    out = subprocess.run(
        [sys.executable, "-m", "bench.bench_deg", "--child", case, impl],
        cwd=ROOT,
        capture_output=True,
        text=True,
        check=True,
    )
    return json.loads(out.stdout.strip().splitlines()[-1])


def main(argv):
    if argv[:1] == ["--child"]:
        _child(argv[1], argv[2])
        return
    cases = argv or list(CASES)
    print(
        f"{'case':<12} {'package s':>10} {'reference s':>12} {'speed-up':>9} {'bar':>5} "
        f"{'peak extra MB':>14} {'table MB':>9} {'peak/table':>10} {'ref peak/table':>15}"
    )
    for case in cases:
        pkg = _measure(case, "package")
        ref = _measure(case, "reference")
        ratio = ref["time"] / pkg["time"]
        mb = 1024.0 * 1024.0
        print(
            f"{case:<12} {pkg['time']:>10.3f} {ref['time']:>12.3f} {ratio:>8.1f}x {BARS[case]:>4.0f}x "
            f"{pkg['peak'] / mb:>14.1f} {pkg['table'] / mb:>9.1f} {pkg['peak'] / pkg['table']:>10.3f} "
            f"{ref['peak'] / ref['table']:>15.2f}",
            flush=True,
        )


if __name__ == "__main__":
    main(sys.argv[1:])
