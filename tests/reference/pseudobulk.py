"""Plain pandas pseudo-bulk: groups in first-appearance order, missing keys left out, NaN skipped."""

import numpy as np
import pandas as pd


def reference_pseudobulk(x, obs, keys, stat):
    df = pd.DataFrame(np.asarray(x, dtype=np.float64))
    if stat == "count_nonzero":
        df, stat = df.ne(0) & df.notna(), "sum"
    elif stat == "detected":
        df, stat = df > 0, "mean"
    grouped = df.groupby([obs[k].reset_index(drop=True) for k in keys], sort=False, observed=True, dropna=True)
    return grouped.var(ddof=1) if stat == "var" else grouped.agg(stat)
