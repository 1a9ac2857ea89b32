"""Time building the Dask tally graph alone, at 1,000 and 8,000 row chunks.

X is a lazy dask array of 1,000-row chunks x 50 columns (1,000,000 and
8,000,000 cells, never computed), grouped into 100 groups. The call to
tolvar.get_gene_expression stops where the graph would be computed, so the
time is the graph's building only. Prints both times, their ratio and the
verdict: 8x the chunks take at most 12x the time. `--profile` prints the
top of a cProfile of the larger case.

    python -m bench.bench_graph [--profile]
"""

import argparse
import cProfile
import pstats
import sys

import anndata as ad
import dask
import dask.array as da
import numpy as np
import pandas as pd

from bench._common import timed, verdict
from orvalen import tolvar

ROWS, COLS, N_GROUPS = 1_000, 50, 100


class _Built(Exception):
    """Raised where the graph would be computed."""


def _stop(*args, **kwargs):
    raise _Built


def adata_of(n_chunks):
    n = n_chunks * ROWS
    x = da.zeros((n, COLS), chunks=(ROWS, COLS), dtype=np.float32)
    obs = pd.DataFrame(
        {"g": pd.Categorical.from_codes(np.arange(n) % N_GROUPS, [f"g{k}" for k in range(N_GROUPS)])},
        index=pd.RangeIndex(n).astype(str),
    )
    return ad.AnnData(X=x, obs=obs)


def build_time(adata):
    def call():
        try:
            tolvar.get_gene_expression(adata, group_col="g")
        except _Built:
            return
        raise RuntimeError("the graph was never computed")

    real = dask.compute
    dask.compute = _stop
    try:
        return min(timed(call)[0] for _ in range(2))
    finally:
        dask.compute = real


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args(argv)
    small, large = adata_of(1_000), adata_of(8_000)
    t_small, t_large = build_time(small), build_time(large)
    ratio = t_large / t_small
    print(
        f"graph building: 1,000 chunks {t_small:.3f} s, 8,000 chunks {t_large:.3f} s,"
        f" {ratio:.1f}x for 8x the chunks (bar 12x: {verdict(ratio <= 12)})",
        flush=True,
    )
    if args.profile:
        prof = cProfile.Profile()
        prof.enable()
        build_time(large)
        prof.disable()
        pstats.Stats(prof, stream=sys.stdout).sort_stats("cumulative").print_stats(25)


if __name__ == "__main__":
    main()
