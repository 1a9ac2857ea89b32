"""Plain pandas/scipy renderings of the interaction functions."""

import warnings

import numpy as np
import pandas as pd
from scipy import stats

PARTS = ["gene_pair", "cell_pair", "gene_A", "gene_B", "cell_A", "cell_B"]


def ref_means(d, idx=None, cells=(), genes=(), pval_cutoff=0.05):
    if idx is None:
        idx = []
        for k, t in enumerate(d.values()):
            m = t["pval"] <= pval_cutoff
            if len(cells):
                m &= t["cell_A"].isin(cells) | t["cell_B"].isin(cells)
            if len(genes):
                m &= t["gene_A"].isin(genes) | t["gene_B"].isin(genes)
            ids = list(t.index[m])
            idx = ids if k == 0 else list(dict.fromkeys(idx + ids))
    out = pd.DataFrame(index=list(d), columns=idx)
    for s, t in d.items():
        have = set(t.index)
        common = [i for i in dict.fromkeys(idx) if i in have]
        out.loc[s, common] = t.loc[common, "mean"].astype(float)
    return out.astype(float)


def ref_diff(df, mapping, ref=None, pc=0.05):
    labels = [mapping[s] for s in df.index]
    groups = sorted(dict.fromkeys(labels))
    gv = pd.Series(labels, index=df.index)
    res = pd.DataFrame(index=list(df.columns))

    def test(g1, g2):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            r = stats.ttest_ind(df[gv == g1], df[gv == g2], axis=0, equal_var=False, nan_policy="omit")
        res[f"{g1}_vs_{g2}"] = np.asarray(r.pvalue, dtype=float)

    if ref is None:
        for i, g1 in enumerate(groups):
            for g2 in groups[:i]:
                if (gv == g1).sum() and (gv == g2).sum():
                    test(g1, g2)
    elif ref in groups:
        for g in groups:
            if g != ref and (gv == g).sum() and (gv == ref).sum():
                test(g, ref)
    res = res.fillna(1)
    res = res[res.min(axis=1) <= pc] if res.shape[1] else res.iloc[:0]
    ss = (res <= pc).sum(axis=1)
    pp = -np.log10(res.prod(axis=1))
    res = res.assign(ss=ss, pp=pp).sort_values(by=["ss", "pp"], ascending=False)
    return res.iloc[:, :-2]


def ref_cpdb(idx):
    gp, cp = idx.split("--")[:2]
    return (gp, cp, *gp.split("_")[:2], *cp.split("|")[:2])


def ref_remove_common(d):
    keys = list(d)
    if not keys:
        return {}
    common = list(d[keys[0]].index)
    for k in keys[1:]:
        have = set(d[k].index)
        common = [i for i in common if i in have]
    common = set(common)
    return {k: t[[i not in common for i in t.index]] for k, t in d.items()}


def ref_ni_mat(d, remove_common=True):
    tabs = ref_remove_common(d) if remove_common else d
    cells = []
    for t in tabs.values():
        cells = list(dict.fromkeys(cells + list(t["cell_A"].unique()) + list(t["cell_B"].unique())))
    cells = sorted(cells)
    out = {}
    for k, t in tabs.items():
        m = pd.DataFrame(0, index=cells, columns=cells)
        for a, b in zip(t["cell_A"], t["cell_B"]):
            m.loc[a, b] += 1
        out[k] = m
    return out


def ref_plot(d, pval_cutoff=0.01, mean_cutoff=1, target_cells=None):
    sel = []
    for t in d.values():
        m = (t["pval"] <= pval_cutoff) & (t["mean"] >= mean_cutoff)
        if isinstance(target_cells, list):
            m &= t["cell_A"].isin(target_cells) | t["cell_B"].isin(target_cells)
        sel += list(t.index[m])
    union = list(dict.fromkeys(sel))
    parts = [ref_cpdb(i) for i in union]
    out = {}
    for s, t in d.items():
        new = pd.DataFrame(index=union, columns=t.columns, dtype=object)
        new["mean"] = 0.0
        new["pval"] = 1.0
        have = set(t.index)
        present = [i for i in union if i in have]
        cols = [c for c in t.columns if c not in ("mean", "pval")]
        for c in cols:
            new.loc[present, c] = t.loc[present, c]
        new.loc[present, "mean"] = t.loc[present, "mean"]
        new.loc[present, "pval"] = t.loc[present, "pval"]
        for k, c in enumerate(PARTS):
            new[c] = [p[k] for p in parts]
        out[s] = new
    return out
