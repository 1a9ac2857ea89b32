"""Plain pandas/scipy/statsmodels rendering of the pairwise DEG steps, used by
the tests and the benchmark as the reference result."""

import warnings

import numpy as np
import pandas as pd
from scipy import stats
from statsmodels.stats.multitest import multipletests


def welch_pvalues(test_block, ref_block):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return stats.ttest_ind(test_block, ref_block, axis=1, equal_var=False, nan_policy="omit").pvalue


def reference_pair(
    df,
    conditions,
    ref_condition=None,
    pval_cutoff=0.05,
    logFC_cutoff=0.5,
    corr_method="fdr_bh",
    pval_ref_col="pval_adj",
):
    expr = df.astype(float)
    if isinstance(conditions, pd.Series):
        cond = conditions.copy()
    else:
        cond = pd.Series(conditions, index=expr.columns)
    unique_conds = list(pd.unique(cond))
    if len(unique_conds) != 2:
        return {
            "error": True,
            "error_message": "simple_DEG_pair supports ***exactly 2 groups***. Received groups: " + str(unique_conds),
        }
    if ref_condition is None:
        ref_condition = unique_conds[0]
    elif ref_condition not in unique_conds:
        return {
            "error": True,
            "error_message": "simple_DEG_pair ref_condition '" + ref_condition + "' must be in " + str(unique_conds),
        }
    test_condition = [c for c in unique_conds if c != ref_condition][0]
    idx_ref = np.where(cond.values == ref_condition)[0]
    idx_test = np.where(cond.values == test_condition)[0]
    if len(idx_ref) < 2 or len(idx_test) < 2:
        return {
            "error": True,
            "error_message": "simple_DEG_pair need >=2 samples per group. ref=%d, test=%d"
            % (len(idx_ref), len(idx_test)),
        }
    test, ref = expr.iloc[:, idx_test], expr.iloc[:, idx_ref]
    res = pd.DataFrame(index=expr.index)
    mean_test, mean_ref = test.mean(axis=1), ref.mean(axis=1)
    with np.errstate(invalid="ignore"):  # a negative ratio gives NaN, as in the package
        res["log2_FC"] = np.log2(mean_test / (mean_ref + 1e-10) + 1e-10)
    res["mean_ref"] = mean_ref
    res["mean_test"] = mean_test
    res["pval"] = np.nan
    ok = (
        (test.notna().sum(axis=1) > 1)
        & (ref.notna().sum(axis=1) > 1)
        & (test.std(axis=1) >= 1e-08)
        & (ref.std(axis=1) >= 1e-08)
    ).to_numpy()
    if ok.any():
        res.iloc[np.flatnonzero(ok), 3] = welch_pvalues(
            np.ascontiguousarray(test.to_numpy()[ok]), np.ascontiguousarray(ref.to_numpy()[ok])
        )
    res = res[res["pval"].notna()].copy()
    if res.empty:
        return {"error": True, "error_message": "No valid p-values in simple_DEG_pair. Returning empty DEG result."}
    if corr_method is not None:
        res["pval_adj"] = multipletests(res["pval"], method=corr_method)[1]
    else:
        res["pval_adj"] = res["pval"].copy()
    res = res.sort_values("pval", kind="stable")
    res["abs_log2_FC"] = res["log2_FC"].abs()
    sig = res[(res[pval_ref_col] <= pval_cutoff) & (res["abs_log2_FC"] >= logFC_cutoff)]
    sig = sig.sort_values("abs_log2_FC", ascending=False, kind="stable").drop(columns="abs_log2_FC")
    return {"error": False, "deg": sig, "deg_raw": res.drop(columns="abs_log2_FC")}
