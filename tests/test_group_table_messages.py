"""What the per-group tables say when a column is missing, a group mixes
conditions, or nothing is selected."""

import warnings

import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import deg, tolvar


def make_adata(conditions=("A", "A", "B", "B"), samples=("s1", "s1", "s2", "s2")):
    obs = pd.DataFrame({"sample": list(samples), "condition": list(conditions), "cell_type": ["T", "B", "T", "B"]})
    obs.index = [f"c{i}" for i in range(len(obs))]
    return ad.AnnData(np.ones((len(obs), 2), dtype=np.float32), obs=obs, var=pd.DataFrame(index=["G1", "G2"]))


@pytest.mark.parametrize(
    "call",
    [
        lambda a: tolvar.get_gene_expression(a, group_col="samples"),
        lambda a: deg.get_gene_expression_mean(a, group_col="samples"),
        lambda a: tolvar.compute_sample_div_index_v2(a, sample_col="samples", cluster_col="cell_type"),
    ],
)
def test_missing_column_lists_the_columns(call):
    with pytest.raises(KeyError) as err:
        call(make_adata())
    assert err.value.args[0] == "column 'samples' not found in obs; obs has: sample, condition, cell_type"


def test_mean_says_why_it_needs_condition():
    a = make_adata()
    del a.obs["condition"]
    with pytest.raises(KeyError, match=r"labels each row with obs\['condition'\] and needs that column"):
        deg.get_gene_expression_mean(a)


def test_mean_warns_once_when_groups_mix_conditions():
    with pytest.warns(UserWarning) as record:
        table = deg.get_gene_expression_mean(make_adata(), group_col="cell_type")
    assert [str(w.message) for w in record if w.category is UserWarning] == [
        "get_gene_expression_mean: 2 of 2 groups of obs['cell_type'] have cells of more than one condition "
        "(for example 'B'); each row's Group is the condition of the group's first cell"
    ]
    assert table["Group"].tolist() == ["A", "A"]  # the first cell's condition, as before
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        deg.get_gene_expression_mean(make_adata())  # one condition per sample: silent


@pytest.mark.parametrize(
    "adata, cause",
    [
        (make_adata()[:0], "adata has no cells"),
        (make_adata(samples=[None] * 4), "obs['sample'] is missing (None or NaN) in all 4 cells"),
    ],
)
@pytest.mark.parametrize(
    "name, call",
    [
        ("get_gene_expression", tolvar.get_gene_expression),
        ("get_gene_expression_mean", deg.get_gene_expression_mean),
        ("get_gene_expression_mean", lambda a: deg.get_gene_expression_mean(a, nz_pct=False)),
        ("compute_sample_div_index_v2", lambda a: tolvar.compute_sample_div_index_v2(a, cluster_col="sample")),
    ],
)
def test_empty_selection_warns_with_its_cause(adata, cause, name, call):
    with pytest.warns(UserWarning) as record:
        assert len(call(adata.copy())) == 0
    assert [str(w.message) for w in record if w.category is UserWarning] == [
        f"{name}: no group selected, so the result has no rows: {cause}"
    ]
