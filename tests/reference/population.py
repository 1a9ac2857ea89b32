"""Plain pandas renderings of the population table and the diversity index."""

import numpy as np
import pandas as pd


def ref_population(pids, cts, sort_by=[]):
    pid_lst = sorted(list(set(list(pids))))
    ct_lst = sorted(list(set(list(cts))))
    cnt = pd.DataFrame(index=pid_lst, columns=ct_lst)
    cnt.loc[:, :] = 0
    for pid in pid_lst:
        b = np.array(pids) == pid
        ct_sel = np.array(cts)[b]
        for ct in ct_lst:
            cnt.loc[pid, ct] = np.sum(ct_sel == ct)
    pct = (cnt.div(cnt.sum(axis=1), axis=0) * 100).astype(float)
    if len(sort_by) > 0:
        pct = pct.sort_values(by=sort_by)
    return cnt, pct


def ref_div_index(
    adata,
    sample_col="sample",
    cluster_col="cnv_cluster",
    tumor_dec="ploidy_dec",
    ref_ind_col="cnv_ref_ind",
    sdi_col="sample_diversity_index",
    tumor_name="Aneuploid",
    full=True,
):
    obs = adata.obs
    clust_lst = obs[cluster_col].unique().tolist()
    clust_lst.sort()
    df = pd.DataFrame(columns=["Tumor_pct", "N_samples", "sample_diversity_index"], index=clust_lst)
    for c in clust_lst:
        b = obs[cluster_col] == str(c)
        pcnt = obs.loc[b, sample_col].value_counts()
        p = pcnt / np.sum(pcnt)
        p = p[p > 0]
        h = np.sum(-p * np.log2(p))
        ns = np.sum(p > 0)
        if full:
            pt = int(100 * (obs.loc[b, tumor_dec] == tumor_name).sum() / np.sum(b))
            pt_ref = int(100 * obs.loc[b, ref_ind_col].sum() / np.sum(b))
            df.loc[c, "Tumor_pct"] = pt
            df.loc[c, "Ref_pct"] = pt_ref
            df.loc[c, "N_samples"] = ns
            df.loc[c, "sample_diversity_index"] = h
        else:
            df.loc[c, "N_samples"] = ns
            df.loc[c, sdi_col] = h
    if full:
        df["Tumor"] = df["Tumor_pct"] >= 50
    col = "sample_diversity_index" if full else sdi_col
    cell = pd.Series(0.0, index=obs.index)
    for c in df.index.values.tolist():
        cell[obs[cluster_col] == str(c)] = df.loc[c, col].round()
    return df, cell
