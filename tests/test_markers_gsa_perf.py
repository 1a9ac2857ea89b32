"""Markers from DEG tables, gene-set filter, classification scores, PCA subsampling."""

import random
import warnings

import anndata as ad
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp

from orvalen import tolvar


def deg_table(seed, genes):
    rng = np.random.default_rng(seed)
    n = len(genes)
    return pd.DataFrame(
        {
            "nz_pct_test": rng.choice([0.3, 0.5, 0.7, 0.9], n),
            "nz_pct_ref": rng.choice([0.0, 0.05, 0.1, 0.3], n),
            "score": rng.normal(size=n).round(2),
            "logFC": rng.normal(size=n),
        },
        index=genes,
    )


def ref_markers(df_dct, ref_col="score", N_mkrs=30, nz_pct_test_min=0.5, nz_pct_ref_max=0.1):
    out = {}
    for key, df in df_dct.items():
        d = df.copy(deep=True)
        d = d.loc[(d["nz_pct_test"] >= nz_pct_test_min) & (d["nz_pct_ref"] <= nz_pct_ref_max)]
        out[key.split("_")[0]] = list(d.sort_values([ref_col], ascending=False).index.values[:N_mkrs])
    return out


@pytest.fixture
def tables():
    genes = [f"G{i}" for i in range(120)]
    rng = np.random.default_rng(7)
    return {
        f"{ct}_vs_rest": deg_table(i, list(rng.permutation(genes)[:80]))
        for i, ct in enumerate(["Tcell", "Bcell", "Mono", "NK"])
    }


def test_markers_ranked_and_common_removed(tables):
    snapshot = {k: v.copy() for k, v in tables.items()}
    plain = tolvar.get_markers_from_deg(tables, N_mkrs=12, rem_common=False)
    assert plain == ref_markers(tables, N_mkrs=12)
    assert all(len(v) <= 12 for v in plain.values())
    got = tolvar.get_markers_from_deg(tables, N_mkrs=12)
    assert list(got) == ["Tcell", "Bcell", "Mono", "NK"]
    seen = {}
    for lst in plain.values():
        for g in set(lst):
            seen[g] = seen.get(g, 0) + 1
    for grp, lst in got.items():
        assert lst == [g for g in plain[grp] if seen[g] == 1]  # ranking order kept
    for k in tables:
        pd.testing.assert_frame_equal(tables[k], snapshot[k])


def test_marker_filter_edges_and_errors(capsys):
    t = pd.DataFrame(
        {"nz_pct_test": [0.5, 0.49, 0.9], "nz_pct_ref": [0.1, 0.0, 0.11], "score": [1.0, 2.0, 3.0]},
        index=["edge", "low", "leaky"],
    )
    got = tolvar.get_markers_from_deg({"A_1": t, "B": t.iloc[1:], "A_2": t.iloc[[2, 0]]}, rem_common=False)
    assert got == {"A": ["edge"], "B": []}  # later A_ key wins, at A's place
    assert tolvar.get_markers_from_deg({"A": t}, ref_col="logFC") is None
    assert capsys.readouterr().out == "ERROR: logFC not found in column name of DEG results.\n"
    with pytest.raises(KeyError):
        tolvar.get_markers_from_deg({"A": t.drop(columns="nz_pct_ref")})
    with pytest.raises(AttributeError):
        tolvar.get_markers_from_deg({1: t})


def test_gsa_filter():
    t = pd.DataFrame({"Term": ["a", "b", "c", "d"], "-log(p-val)": [3.0, 1.3, np.nan, 0.2]}, index=[5, 6, 7, 8])
    before = t.copy()
    got = tolvar.filter_gsa_result({"GO": t, "KEGG": t.iloc[3:]}, 1.3)
    assert list(got) == ["GO", "KEGG"]
    pd.testing.assert_frame_equal(got["GO"], t.loc[[5, 6]])
    assert got["KEGG"].empty and got["KEGG"].columns.tolist() == ["Term", "-log(p-val)"]
    pd.testing.assert_frame_equal(t, before)
    assert tolvar.filter_gsa_result({}, 2) == {}
    with pytest.raises(KeyError):
        tolvar.filter_gsa_result({"x": t.drop(columns="-log(p-val)")}, 1)


def test_performance_values_keys_and_nan():
    y = np.array(["Tumor", "Tumor", "Normal", "Normal"])
    p = np.array(["Tumor", "Normal", "Normal", "Normal"])
    got = tolvar.evaluate_performance(y, p)
    assert list(got) == [
        "Accuracy",
        "F1",
        "F1 (Tumor)",
        "Precision (Tumor)",
        "Recall (Tumor)",
        "FPR (Tumor)",
        "F1 (Normal)",
        "Precision (Normal)",
        "Recall (Normal)",
        "FPR (Normal)",
    ]
    assert got == {
        "Accuracy": 0.75,
        "F1": 0.733,
        "F1 (Tumor)": 0.667,
        "Precision (Tumor)": 1.0,
        "Recall (Tumor)": 0.5,
        "FPR (Tumor)": 0.0,
        "F1 (Normal)": 0.8,
        "Precision (Normal)": 0.667,
        "Recall (Normal)": 1.0,
        "FPR (Normal)": 0.5,
    }
    perfect = tolvar.evaluate_performance(pd.Series(y), pd.Series(y), labels=["Tumor"])
    assert list(perfect) == ["Accuracy", "F1", "F1 (Tumor)", "Precision (Tumor)", "Recall (Tumor)", "FPR (Tumor)"]
    assert perfect["F1"] == 1.0 and perfect["FPR (Tumor)"] == 0.0
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        never = tolvar.evaluate_performance(y, np.array(["Normal"] * 4), labels=["Tumor", "Normal", "Other"])
    assert np.isnan(never["Precision (Tumor)"]) and np.isnan(never["F1 (Tumor)"])
    assert np.isnan(never["Recall (Other)"]) and np.isnan(never["F1"])
    assert never["FPR (Normal)"] == 1.0


def test_pca_subsample_cap_must_be_whole():
    with pytest.raises(TypeError, match="N_cells_max_for_pca.*10.5"):
        tolvar.pca_subsample(np.ones((20, 5)), 2, 10.5)


@pytest.mark.parametrize("kind", ["ndarray", "csr", "frame"])
def test_pca_subsample(kind):
    rng = np.random.default_rng(0)
    x = rng.random((61, 8))
    data = {"ndarray": x, "csr": sp.csr_matrix(x), "frame": pd.DataFrame(x, index=[f"c{i}" for i in range(61)])}[kind]
    assert tolvar.pca_subsample(data, 3.0, 61).shape == (61, 3)  # cap reached: fitted whole
    fitted = []
    real = tolvar.TruncatedSVD

    class Spy(real):
        def fit(self, X, y=None):
            fitted.append(np.asarray(X.todense() if sp.issparse(X) else X))
            return super().fit(X, y)

    tolvar.TruncatedSVD = Spy
    try:
        random.seed(5)
        out = tolvar.pca_subsample(data, 2, 60)
        random.seed(5)
        tolvar.pca_subsample(data, 2, 60)
    finally:
        tolvar.TruncatedSVD = real
    assert out.shape == (61, 2)
    random.seed(5)
    rows = random.sample(list(range(61)), k=60)
    np.testing.assert_array_equal(fitted[0], x[rows])
    np.testing.assert_array_equal(fitted[1], fitted[0])


@pytest.mark.parametrize("given, shown", [("adata", "AnnData; pass adata.X"), (None, "NoneType"), ({"a": 1}, "dict")])
def test_pca_subsample_names_a_type_it_cannot_read(given, shown):
    if given == "adata":
        given = ad.AnnData(np.ones((3, 2)))
    with pytest.raises(TypeError, match="must be a cells-by-features matrix .*got " + shown):
        tolvar.pca_subsample(given, 1)
