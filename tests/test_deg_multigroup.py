import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import deg
from tests.reference.deg import reference_pair


def make_expr(rng, groups, n_genes=150, nan_frac=0.05):
    x = rng.normal(5.0, 1.0, (n_genes, len(groups)))
    for k, g in enumerate(pd.unique(pd.Series(groups))):
        cols = [j for j, h in enumerate(groups) if h == g]
        x[k * 10 : (k + 1) * 10, cols] += 2.5
    x[rng.random(x.shape) < nan_frac] = np.nan
    return pd.DataFrame(x, index=[f"g{i}" for i in range(n_genes)], columns=[f"s{j}" for j in range(len(groups))])


def assert_frames(got, want):
    assert list(got.index) == list(want.index)
    assert list(got.columns) == list(want.columns)
    np.testing.assert_allclose(got.to_numpy(), want.to_numpy(), rtol=1e-10, equal_nan=True)


def test_one_vs_rest_matches_reference_per_group(capsys):
    rng = np.random.default_rng(0)
    groups = ["A"] * 4 + ["B"] * 3 + ["C"] * 5 + ["B"] * 2
    df = make_expr(rng, groups)
    sig, full = deg.simple_DEG(df, groups, corr_method="holm")
    assert list(sig) == list(full) == ["A_vs_others", "B_vs_others", "C_vs_others"]
    out = capsys.readouterr().out.splitlines()
    assert out[0] == "### MODE: one-vs-rest ###"
    assert [line.split(" = ")[0] for line in out[1:]] == [
        "Significant DEGs (A vs others)",
        "Significant DEGs (B vs others)",
        "Significant DEGs (C vs others)",
    ]
    for g in "ABC":
        want = reference_pair(df, [h if h == g else "others" for h in groups], "others", corr_method="holm")
        assert_frames(sig[g + "_vs_others"], want["deg"])
        assert_frames(full[g + "_vs_others"], want["deg_raw"])


def test_one_vs_reference_uses_only_the_pair_of_groups(capsys):
    rng = np.random.default_rng(1)
    groups = ["KO1", "WT", "KO2", "WT", "KO1", "WT", "KO2", "KO1", "KO2", "WT"]
    df = make_expr(rng, groups)
    conds = pd.Series(groups, index=[f"x{j}" for j in range(len(groups))])  # index ignored
    sig, full = deg.simple_DEG(df, conds, ref_condition="WT", pval_cutoff=0.2, logFC_cutoff=0.1)
    assert list(full) == ["KO1_vs_others", "KO2_vs_others"]
    out = capsys.readouterr().out.splitlines()
    assert out[0] == "### MODE: one-vs-reference (WT) ###"
    assert out[1].startswith("Significant DEGs (KO1 vs WT) = ")
    for g in ("KO1", "KO2"):
        keep = [j for j, h in enumerate(groups) if h in (g, "WT")]
        want = reference_pair(df.iloc[:, keep], [groups[j] for j in keep], "WT", pval_cutoff=0.2, logFC_cutoff=0.1)
        assert_frames(sig[g + "_vs_others"], want["deg"])
        assert_frames(full[g + "_vs_others"], want["deg_raw"])


def test_failed_comparisons_are_skipped_silently(capsys):
    rng = np.random.default_rng(2)
    groups = ["A"] * 3 + ["B"] + ["C"] * 3
    df = make_expr(rng, groups, n_genes=40)
    sig, full = deg.simple_DEG(df, groups, verbose=False)
    assert list(full) == ["A_vs_others", "C_vs_others"]
    sig, full = deg.simple_DEG(df, groups, ref_condition="A", verbose=False)
    assert list(full) == ["C_vs_others"]
    assert capsys.readouterr().out == ""
    assert deg.simple_DEG(df, ["A"] * 7) == ({}, {})
    assert capsys.readouterr().out == "### MODE: one-vs-rest ###\n"


def test_reference_must_be_a_group(capsys):
    df = make_expr(np.random.default_rng(3), ["A", "A", "B", "B"], n_genes=10)
    with pytest.raises(ValueError, match=r"^ref_condition 'WT' must be in \['A', 'B'\]$"):
        deg.simple_DEG(df, ["A", "A", "B", "B"], ref_condition="WT")
    assert capsys.readouterr().out == "### MODE: one-vs-reference (WT) ###\n"


def test_argument_types_and_late_binding(monkeypatch):
    df = make_expr(np.random.default_rng(4), ["A", "A", "B", "B", "C", "C"], n_genes=10)
    groups = ["A", "A", "B", "B", "C", "C"]
    wrong = (("ref_condition", 1), ("test_method", None), ("corr_method", b"x"), ("pval_ref_col", 2))
    wrong += (("pval_cutoff", "x"), ("logFC_cutoff", None))
    for kw, bad in wrong:
        with pytest.raises(TypeError, match="%s.*%s" % (kw, type(bad).__name__)):
            deg.simple_DEG(df, groups, **{kw: bad})
    adata = ad.AnnData(np.ones((2, 2), dtype=np.float32))
    with pytest.raises(TypeError, match="df_gene_by_sample_log_expr must be a pandas DataFrame.*AnnData"):
        deg.simple_DEG(adata, ["x", "y"])

    calls = []

    def fake_pair(*args, **kwargs):
        calls.append((args, kwargs))
        return {"error": len(calls) == 2, "deg": "d%d" % len(calls), "deg_raw": "r%d" % len(calls)}

    monkeypatch.setattr(deg, "simple_DEG_pair", fake_pair)
    sig, full = deg.simple_DEG(df, groups, pval_cutoff=1, corr_method=None, verbose=0)
    assert sig == {"A_vs_others": "d1", "C_vs_others": "d3"} and full == {"A_vs_others": "r1", "C_vs_others": "r3"}
    args, kwargs = calls[0]
    assert len(args) == 2 and args[0] is df
    assert args[1] == ["A", "A", "others", "others", "others", "others"]
    assert list(kwargs) == [
        "ref_condition",
        "pval_cutoff",
        "logFC_cutoff",
        "test_method",
        "corr_method",
        "pval_ref_col",
        "verbose",
    ]
    assert kwargs["ref_condition"] == "others"
    assert kwargs["pval_cutoff"] == 1.0 and type(kwargs["pval_cutoff"]) is float
    assert kwargs["verbose"] == 0 and type(kwargs["verbose"]) is int
    calls.clear()
    deg.simple_DEG(df, groups, ref_condition="B", verbose=False)
    assert [c[0][1] for c in calls] == [["A", "A", "B", "B"], ["B", "B", "C", "C"]]
    assert list(calls[1][0][0].columns) == ["s2", "s3", "s4", "s5"]


def test_float_tables_are_not_copied_and_others_are_converted(monkeypatch):
    df = make_expr(np.random.default_rng(5), ["A", "A", "B", "B"], n_genes=10, nan_frac=0)
    seen = []
    monkeypatch.setattr(deg, "simple_DEG_pair", lambda t, c, **k: seen.append(t) or {"error": True})
    deg.simple_DEG(df, ["A", "A", "B", "B"], verbose=False)
    assert seen[0] is df
    ints = pd.DataFrame(np.arange(8).reshape(2, 4))
    deg.simple_DEG(ints, ["A", "A", "B", "B"], verbose=False)
    assert (seen[-1].dtypes == np.float64).all()
    with pytest.raises(ValueError):
        deg.simple_DEG(pd.DataFrame([["a", 1.0]]), ["A", "B"])


def test_deg_summary():
    t1 = pd.DataFrame({"pval_adj": [0.1, 0.2], "pval": [0.01, 0.02]}, index=["g1", "g2"])
    t2 = pd.DataFrame({"pval_adj": [0.3, 0.4], "pval": [0.03, 0.04]}, index=["g2", "g3"])
    m = deg.get_deg_summary({"k1": t1, "k2": t2})
    expected = pd.DataFrame({"k1": [0.1, 0.2, 1.0], "k2": [1.0, 0.3, 0.4]}, index=["g1", "g2", "g3"])
    pd.testing.assert_frame_equal(m, expected)
    raw = deg.get_deg_summary({"k1": t1, "k2": t2}, col="pval")
    assert raw.loc["g2", "k2"] == 0.03 and raw.loc["g3", "k1"] == 1.0
    ints = deg.get_deg_summary({"x": pd.DataFrame({"pval_adj": [1, 0]}, index=["b", "a"])})
    assert ints.dtypes["x"] == np.float64 and list(ints.index) == ["b", "a"]
    empty = deg.get_deg_summary({})
    assert empty.shape == (0, 0)
    with pytest.raises(KeyError):
        deg.get_deg_summary({"k1": t1}, col="logFC")
    with pytest.raises(AttributeError):
        deg.get_deg_summary({"k1": [1, 2]})


def test_summary_of_a_simple_DEG_run():
    groups = ["A"] * 4 + ["B"] * 4 + ["C"] * 4
    df = make_expr(np.random.default_rng(6), groups)
    _, full = deg.simple_DEG(df, groups, verbose=False)
    m = deg.get_deg_summary(full)
    assert list(m.columns) == list(full)
    for key, table in full.items():
        np.testing.assert_array_equal(m.loc[table.index, key].to_numpy(), table["pval_adj"].to_numpy())
        assert (m.loc[~m.index.isin(table.index), key] == 1.0).all()
