"""Dense pandas renderings of the per-group expression functions."""

import pandas as pd

from orvalen import deg


def ref_gene_expression(adata, items=[], group_col="sample"):
    slst = adata.obs[group_col].unique().tolist()
    slst.sort()
    if items is None or len(items) == 0:
        xs = adata.to_df()
        df = pd.DataFrame(index=slst, columns=adata.var.index)
    else:
        xs = adata[:, items].to_df()
        df = pd.DataFrame(index=slst, columns=items)
    for g in slst:
        b = adata.obs[group_col] == g
        df.loc[g, :] = list((xs.loc[b, :] > 0).mean(axis=0))
    return df.astype(float)


def ref_expression_mean(adata, genes=[], group_col="sample", nz_pct=True, min_nz_pct=0.2):
    sg_map = deg.get_sample_to_group_map(adata.obs[group_col], adata.obs["condition"])
    if nz_pct:
        xs = ref_gene_expression(adata, genes, group_col)
    else:
        x = adata.to_df() if genes is None or len(genes) == 0 else adata[:, genes].to_df()
        x["Group"] = adata.obs[group_col]
        xs = x.groupby("Group").mean(numeric_only=True)
    xs.insert(0, "Group", list(xs.index.values))
    xs["Group"] = xs["Group"].replace(sg_map)
    if nz_pct:
        mns = xs.groupby("Group").mean(numeric_only=True)
        keep = mns.columns[mns.max(axis=0) >= min_nz_pct].tolist()
        xs = xs[["Group"] + keep]
    return xs
