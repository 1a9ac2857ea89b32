"""Inputs of the functions that tally X by group: repeated gene names, a
generator of genes, and an object that is not an AnnData."""

import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import deg, tolvar

pytestmark = pytest.mark.filterwarnings("ignore:Variable names are not unique")

MEAN = lambda a, genes: deg.get_gene_expression_mean(a, genes, nz_pct=False)
PER_SAMPLE = lambda a, genes: tolvar.get_gene_expression(a, items_to_plot=genes)


@pytest.fixture
def repeated_genes():
    obs = pd.DataFrame({"sample": ["A", "B"], "condition": ["x", "y"]}, index=["c1", "c2"])
    x = np.array([[1, 0, 2], [0, 3, 0]], dtype=np.float32)
    return ad.AnnData(x, obs=obs, var=pd.DataFrame(index=["GENE1", "GENE1", "CD3E"]))


@pytest.mark.parametrize("call, cd3e", [(MEAN, [2.0, 0.0]), (PER_SAMPLE, [1.0, 0.0])], ids=["deg-mean", "tolvar"])
def test_repeated_gene_names_and_a_generator_of_genes(repeated_genes, call, cd3e):
    # A repeated name that is not asked for is no obstacle; one that is asked for is.
    assert call(repeated_genes, (g for g in ["CD3E"]))["CD3E"].tolist() == cd3e
    with pytest.raises(ValueError, match="'GENE1'"):
        call(repeated_genes, ["CD3E", "GENE1"])
    with pytest.raises(KeyError, match="NOPE"):
        call(repeated_genes, ["NOPE"])


@pytest.mark.parametrize("call", [deg.get_gene_expression_mean, tolvar.get_gene_expression], ids=["deg-mean", "tolvar"])
def test_a_table_instead_of_anndata_names_the_parameter(repeated_genes, call):
    with pytest.raises(TypeError, match="adata must be an AnnData.*got DataFrame"):
        call(repeated_genes.to_df())
