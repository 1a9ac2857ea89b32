"""The example study's data generator: deterministic, shaped like the real inputs,
and with planted effects that a straightforward analysis recovers."""

import re

import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp
from scipy import stats
from statsmodels.stats.multitest import multipletests

from tests.example_scripts import load_example

anndata = pytest.importorskip("anndata")


def _generator():
    return load_example("make_study_data")


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    gen = _generator()
    out = tmp_path_factory.mktemp("study")
    gen.generate(out)
    adata = anndata.read_h5ad(out / "study.h5ad")
    cci, markers, gsa = gen.load_tables(out)
    return gen, out, adata, cci, markers, gsa


def test_same_seed_same_study(study, tmp_path):
    gen, out, adata, cci, _, _ = study
    gen.generate(tmp_path)
    again = anndata.read_h5ad(tmp_path / "study.h5ad")
    assert (adata.X != again.X).nnz == 0
    pd.testing.assert_frame_equal(adata.obs, again.obs)
    for name in (
        "planted_degs.csv",
        "planted_interactions.csv",
        "cci/T02.csv",
        "markers/T_cell.csv",
        "gsa/Tumor_up.csv",
    ):
        assert (out / name).read_bytes() == (tmp_path / name).read_bytes(), name


def test_anndata_layout(study):
    gen, _, adata, _, _, _ = study
    assert adata.shape == (5000, 2000)
    assert sp.issparse(adata.X) and adata.X.format == "csr"
    assert adata.X.dtype == np.float32 and adata.X.min() >= 0
    obs = adata.obs
    for col in ("sample", "condition", "cell_type", "cnv_cluster", "ploidy_dec", "cnv_ref_ind", "malignancy"):
        assert col in obs.columns
    # One condition per sample, three samples each.
    per_sample = obs.groupby("sample", observed=True)["condition"].nunique()
    assert (per_sample == 1).all() and len(per_sample) == 6
    assert set(obs["ploidy_dec"].astype(str)) == {"Aneuploid", "Diploid"}
    assert all(isinstance(c, str) for c in obs["cnv_cluster"].unique())
    up, down = adata.uns["planted_degs"]["up"], adata.uns["planted_degs"]["down"]
    planted = pd.read_csv(study[1] / "planted_degs.csv")
    assert list(planted["gene"]) == list(up) + list(down)


def test_cell_types_have_abbreviations(study):
    tolvar = pytest.importorskip("orvalen.tolvar")
    major = tolvar.get_abbreviations()["celltype_major"]
    assert set(study[2].obs["cell_type"].astype(str)) <= set(major)


def test_cci_tables_follow_the_identifier_form(study):
    cci = study[3]
    assert list(cci) == ["N01", "N02", "N03", "T01", "T02", "T03"]
    form = re.compile(r"^([^_|-]+)_([^_|-]+)--([^|]+)\|([^|]+)$")
    for table in cci.values():
        assert list(table.columns) == ["gene_A", "gene_B", "cell_A", "cell_B", "mean", "pval"]
        assert table.index.is_unique
        parts = [form.match(i).groups() for i in table.index]
        assert parts == list(table[["gene_A", "gene_B", "cell_A", "cell_B"]].itertuples(index=False, name=None))
        assert table["pval"].between(0, 1).all() and (table["mean"] >= 0).all()


def test_planted_markers_are_exactly_what_the_default_filter_keeps(study):
    out, markers = study[1], study[4]
    truth = pd.read_csv(out / "planted_markers.csv")
    for key, table in markers.items():
        cell_type = key.split("_")[0]
        passing = table[(table["nz_pct_test"] >= 0.5) & (table["nz_pct_ref"] <= 0.1)]
        assert set(passing.index) == set(truth.loc[truth["cell_type"] == cell_type, "gene"])
        assert table["score"].is_monotonic_decreasing


def test_planted_degs_are_recoverable(study):
    # Welch's test on per-sample means with BH correction, as a plain rendering.
    adata, out = study[2], study[1]
    df = adata.to_df()
    df["sample"] = adata.obs["sample"].astype(str).to_numpy()
    pseudo = df.groupby("sample").mean().T
    cond = adata.obs.groupby("sample", observed=True)["condition"].first().astype(str)
    ref, test = pseudo.loc[:, cond[pseudo.columns] == "Normal"], pseudo.loc[:, cond[pseudo.columns] == "Tumor"]
    ok = (ref.std(axis=1) >= 1e-8) & (test.std(axis=1) >= 1e-8)
    p = stats.ttest_ind(test[ok], ref[ok], axis=1, equal_var=False).pvalue
    padj = pd.Series(multipletests(p, method="fdr_bh")[1], index=ref.index[ok])
    lfc = np.log2(test[ok].mean(axis=1) / (ref[ok].mean(axis=1) + 1e-10) + 1e-10)
    significant = padj.index[(padj <= 0.05) & (lfc.abs() >= 0.5)]
    planted = pd.read_csv(out / "planted_degs.csv")["gene"]
    assert planted.isin(significant).mean() >= 0.9


def test_gene_set_tables(study):
    gsa = study[5]
    assert list(gsa) == ["Tumor_up", "Tumor_down"]
    for table in gsa.values():
        assert "-log(p-val)" in table.columns
        assert table.index.str.startswith("PATHWAY_").all()
    # The enriched sets stand out at the cut-off the study uses.
    assert (gsa["Tumor_up"]["-log(p-val)"] >= 2).sum() >= 6
    assert (gsa["Tumor_down"]["-log(p-val)"] >= 2).sum() >= 4
