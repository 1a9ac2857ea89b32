"""Time building the Dask tally graph alone, at 1,000 and 8,000 row chunks.

X is a lazy dask array of 50 columns, never computed, grouped into 100
groups. The call to tolvar.get_gene_expression stops where the graph would
be computed, so the time is the call's work before any chunk is read. Two
comparisons of 1,000 against 8,000 chunks: 1,000-row chunks of 1,000,000
and 8,000,000 cells (the per-cell work grows 8x too), and 8,000,000 cells in
8,000-row against 1,000-row chunks (only the chunks change). Prints the
times, ratios and verdicts: 8x the chunks take at most 12x the time.
`--profile` prints the top of a cProfile of the 8,000-chunk case.

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


def adata_of(n_cells, rows=ROWS, obs=None):
    x = da.zeros((n_cells, COLS), chunks=(rows, COLS), dtype=np.float32)
    if obs is None:
        obs = pd.DataFrame(
            {"g": pd.Categorical.from_codes(np.arange(n_cells) % N_GROUPS, [f"g{k}" for k in range(N_GROUPS)])},
            index=pd.RangeIndex(n_cells).astype(str),
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
        return min(timed(call)[0] for _ in range(3))
    finally:
        dask.compute = real


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args(argv)
    large = adata_of(8_000 * ROWS)
    cases = {
        "1,000-row chunks, 1M against 8M cells": (adata_of(1_000 * ROWS), large),
        "8M cells, 8,000-row against 1,000-row chunks": (adata_of(8_000 * ROWS, 8 * ROWS, large.obs), large),
    }
    for what, (few, many) in cases.items():
        t_few, t_many = build_time(few), build_time(many)
        ratio = t_many / t_few
        print(
            f"graph building, {what}: 1,000 chunks {t_few:.3f} s, 8,000 chunks {t_many:.3f} s,"
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
