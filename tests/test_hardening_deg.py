"""The two commonest wrong-shape calls of the DEG entry points raise ValueError
saying which layout is expected; wrong types and repeated gene names say what
is expected too."""

import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import deg

LAYOUT = "expected genes as rows, one condition per sample column"


@pytest.fixture
def pseudo_bulk():
    rng = np.random.default_rng(0)
    genes = ["g%d" % i for i in range(400)]
    samples = ["s%d" % i for i in range(8)]
    return pd.DataFrame(rng.random((400, 8)) + 1, index=genes, columns=samples)


@pytest.mark.parametrize("call", [deg.simple_DEG_pair, deg.simple_DEG])
def test_wrong_shape_calls(pseudo_bulk, call):
    conds = ["ctrl"] * 4 + ["stim"] * 4
    # Samples as rows, their condition in a column.
    untransposed = pseudo_bulk.T.assign(condition=conds)
    with pytest.raises(ValueError, match=LAYOUT + " holding numbers; could not convert string to float: 'ctrl'"):
        call(untransposed, conds)
    # One label per cell (or per gene) instead of per sample column, as a list and as a Series.
    per_cell = ["ctrl", "stim"] * 200
    for labels in (per_cell, pd.Series(per_cell)):
        with pytest.raises(ValueError, match=LAYOUT + "; got 400 conditions for 8 columns"):
            call(pseudo_bulk, labels)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda a, df: deg.simple_DEG(a, ["x", "y"]), "df_gene_by_sample_log_expr must be a pandas DataFrame.*AnnData"),
        (lambda a, df: deg.simple_DEG_pair(df, ["c"] * 4 + ["s"] * 4, pval_cutoff="0.05"), "pval_cutoff.*str '0.05'"),
        (lambda a, df: deg.simple_DEG(df, ["c"] * 4 + ["s"] * 4, logFC_cutoff=None), "logFC_cutoff.*NoneType"),
        (lambda a, df: deg.get_gene_expression_mean(a.to_df()), "adata must be an AnnData.*got DataFrame"),
    ],
    ids=["table", "pval_cutoff", "logFC_cutoff", "adata"],
)
@pytest.mark.filterwarnings("ignore:Variable names are not unique")
def test_wrong_types_name_the_parameter(pseudo_bulk, call, message):
    adata = ad.AnnData(np.ones((2, 2), dtype=np.float32), obs=pd.DataFrame(index=["c1", "c2"]))
    with pytest.raises(TypeError, match=message):
        call(adata, pseudo_bulk)


@pytest.mark.filterwarnings("ignore:Variable names are not unique")
def test_group_mean_with_repeated_gene_names():
    obs = pd.DataFrame({"sample": ["A", "B"], "condition": ["x", "y"]}, index=["c1", "c2"])
    x = np.array([[1, 0, 2], [0, 3, 0]], dtype=np.float32)
    adata = ad.AnnData(x, obs=obs, var=pd.DataFrame(index=["GENE1", "GENE1", "CD3E"]))
    got = deg.get_gene_expression_mean(adata, (g for g in ["CD3E"]), nz_pct=False)
    assert got["CD3E"].tolist() == [2.0, 0.0]
    with pytest.raises(ValueError, match="'GENE1'"):
        deg.get_gene_expression_mean(adata, ["GENE1"])
