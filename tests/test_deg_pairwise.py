import numpy as np
import pandas as pd
import pytest
from statsmodels.stats.multitest import multipletests, multitest_alias

from orvalen import deg
from tests.reference.deg import reference_pair, welch_pvalues

COLS = ["log2_FC", "mean_ref", "mean_test", "pval", "pval_adj"]


def assert_same_result(got, want, rtol=1e-10):
    assert list(got) == list(want)
    if want["error"]:
        assert got == want
        return
    for key in ("deg", "deg_raw"):
        g, w = got[key], want[key]
        assert list(g.columns) == COLS
        assert list(g.index) == list(w.index), key
        assert (g.dtypes == np.float64).all()
        np.testing.assert_allclose(g.to_numpy(), w.to_numpy(), rtol=rtol, atol=0, equal_nan=True)


def make_expr(rng, n_genes=400, n_ref=6, n_test=5, nan_frac=0.0):
    x = rng.normal(4.0, 1.0, (n_genes, n_ref + n_test))
    x[: n_genes // 4, n_ref:] += rng.normal(0, 3, (n_genes // 4, 1))
    if nan_frac:
        x[rng.random(x.shape) < nan_frac] = np.nan
    return pd.DataFrame(x, index=[f"g{i}" for i in range(n_genes)], columns=[f"s{j}" for j in range(n_ref + n_test)])


def test_pvalues_agree_with_scipy_welch_on_hard_rows():
    rng = np.random.default_rng(7)
    n_ref, n_test = 40, 50
    x = rng.normal(3, 1, (2000, n_ref + n_test))
    # Huge shifts reach p-values far below 1e-100.
    shift = 10 ** rng.uniform(-1, 2.7, 300)
    x[:300, n_ref:] += shift[:, None]
    # Nearly constant rows: the means differ by a few 1e-7 around 5, and
    # rows around 0 with a spread just above the testable limit.
    x[300:400] = 5 + 1e-6 * rng.normal(size=(100, n_ref + n_test))
    x[300:400, n_ref:] += 3e-7
    x[400:450] = 3e-8 * rng.normal(size=(50, n_ref + n_test))
    for nan_frac in (0.1, 0.0):
        y = x.copy()
        if nan_frac:
            y[rng.random(y.shape) < nan_frac] = np.nan
            y[450:460, 1:n_ref] = np.nan  # a single reference value left: not testable
        df = pd.DataFrame(y, index=[f"g{i}" for i in range(len(y))])
        raw = deg.simple_DEG_pair(df, ["R"] * n_ref + ["T"] * n_test, verbose=False)["deg_raw"]
        pos = df.index.get_indexer(raw.index)
        want = welch_pvalues(np.ascontiguousarray(y[pos, n_ref:]), np.ascontiguousarray(y[pos, :n_ref]))
        assert raw["pval"].min() < 1e-100
        np.testing.assert_allclose(raw["pval"].to_numpy(), want, rtol=1e-10, atol=0)
        near = df.index[300:450]
        assert near.isin(raw.index).all()
        if nan_frac:
            assert not df.index[450:460].isin(raw.index).any()


@pytest.mark.parametrize("nan_frac", [0.0, 0.15])
@pytest.mark.parametrize("corr_method", ["fdr_bh", "bonferroni", "holm", "fdr_by", "fdr_tsbky", None])
def test_matches_reference_rendering(nan_frac, corr_method):
    rng = np.random.default_rng(3)
    df = make_expr(rng, nan_frac=nan_frac)
    conds = ["ctrl"] * 6 + ["ko"] * 5
    got = deg.simple_DEG_pair(df, conds, ref_condition="ctrl", corr_method=corr_method, verbose=False)
    assert_same_result(got, reference_pair(df, conds, "ctrl", corr_method=corr_method))


def test_every_multipletests_method_is_passed_through():
    rng = np.random.default_rng(5)
    df = make_expr(rng, n_genes=120)
    conds = ["a"] * 6 + ["b"] * 5
    for method in sorted(multitest_alias) + ["Holm", "FDR_BH"]:
        raw = deg.simple_DEG_pair(df, conds, corr_method=method, verbose=False)["deg_raw"]
        np.testing.assert_allclose(raw["pval_adj"], multipletests(raw["pval"], method=method)[1], rtol=1e-12)
    with pytest.raises(ValueError, match="method not recognized"):
        deg.simple_DEG_pair(df, conds, corr_method="nonsense", verbose=False)


def test_corrections_other_than_fdr_bh_call_the_module_binding_once(monkeypatch):
    calls = []

    def fake(p, method):
        calls.append((np.asarray(p).copy(), method))
        return (None, np.full(len(p), 0.25))

    monkeypatch.setattr(deg, "multipletests", fake)
    df = make_expr(np.random.default_rng(1), n_genes=50)
    raw = deg.simple_DEG_pair(df, ["a"] * 6 + ["b"] * 5, corr_method="holm", verbose=False)["deg_raw"]
    assert len(calls) == 1 and calls[0][1] == "holm"
    assert len(calls[0][0]) == len(raw)
    assert (raw["pval_adj"] == 0.25).all()
    deg.simple_DEG_pair(df, ["a"] * 6 + ["b"] * 5, corr_method="fdr_bh", verbose=False)
    assert len(calls) == 1


def test_printed_lines(capsys):
    x = np.array([[1.0, 1.1, 5.0, 5.2], [2.0, 2.3, 0.0, 0.0], [3.0, 3.1, 3.05, 3.12]])
    df = pd.DataFrame(x, columns=list("abcd"))
    res = deg.simple_DEG_pair(df, ["B", "B", "A", "A"], pval_cutoff=1.0, logFC_cutoff=0.0)
    out = capsys.readouterr().out
    assert out.startswith("INFO: reference condition = 'B'Significant DEGs (A vs B) = ")
    n = len(res["deg"])
    up = int((res["deg"]["log2_FC"] > 0).sum())
    down = int((res["deg"]["log2_FC"] < 0).sum())
    assert out == "INFO: reference condition = 'B'Significant DEGs (A vs B) = %d (up %d, down %d) genes.\n" % (
        n,
        up,
        down,
    )
    deg.simple_DEG_pair(df, ["B", "B", "A", "A"], ref_condition="A", pval_cutoff=1.0)
    assert capsys.readouterr().out.startswith("Significant DEGs (B vs A) = ")
    deg.simple_DEG_pair(df, ["B", "B", "A", "A"], verbose=0)
    deg.simple_DEG_pair(df, ["B", "B", "A", "C"])  # error results print nothing
    assert capsys.readouterr().out == ""


def test_error_results():
    df = make_expr(np.random.default_rng(2), n_genes=20, n_ref=3, n_test=3)
    res = deg.simple_DEG_pair(df, ["A", "B", "C", "A", "B", "C"])
    assert res == {
        "error": True,
        "error_message": "simple_DEG_pair supports ***exactly 2 groups***. Received groups: ['A', 'B', 'C']",
    }
    assert list(res) == ["error", "error_message"]
    res = deg.simple_DEG_pair(df, ["A"] * 3 + ["B"] * 3, ref_condition="WT")
    assert res["error_message"] == "simple_DEG_pair ref_condition 'WT' must be in ['A', 'B']"
    res = deg.simple_DEG_pair(df, ["A"] * 5 + ["B"], ref_condition="A")
    assert res["error_message"] == "simple_DEG_pair need >=2 samples per group. ref=5, test=1"
    const = pd.DataFrame(np.ones((3, 6)))
    res = deg.simple_DEG_pair(const, ["A"] * 3 + ["B"] * 3, verbose=False)
    assert res == {"error": True, "error_message": "No valid p-values in simple_DEG_pair. Returning empty DEG result."}
    for empty in (pd.DataFrame(np.empty((0, 4))), pd.DataFrame(columns=list("abcd"), dtype=object)):
        res = deg.simple_DEG_pair(empty, ["A", "A", "B", "B"], verbose=False)
        assert res["error_message"].startswith("No valid p-values")


def test_argument_types():
    df = make_expr(np.random.default_rng(2), n_genes=10, n_ref=2, n_test=2)
    conds = ["A", "A", "B", "B"]

    class S(str):
        pass

    for kw in ("ref_condition", "test_method", "pval_ref_col", "corr_method"):
        with pytest.raises(TypeError, match=kw):
            deg.simple_DEG_pair(df, conds, **{kw: S("A")})
        with pytest.raises(TypeError, match=kw):
            deg.simple_DEG_pair(df, conds, **{kw: 3})
    for kw in ("test_method", "pval_ref_col"):
        with pytest.raises(TypeError, match=kw):
            deg.simple_DEG_pair(df, conds, **{kw: None})
    # the first of the distinct labels (a numpy scalar here) is not a str
    with pytest.raises(TypeError, match=r"^Expected str, got numpy\.int64$"):
        deg.simple_DEG_pair(df, [1, 1, 2, 2])
    assert deg.simple_DEG_pair(df, [1, 1, 2, 2], ref_condition="1")["error"] is True
    with pytest.raises(TypeError, match="pval_cutoff.*str '0.05'"):
        deg.simple_DEG_pair(df, conds, pval_cutoff="0.05")
    with pytest.raises(TypeError, match="logFC_cutoff.*NoneType"):
        deg.simple_DEG_pair(df, conds, logFC_cutoff=None)
    with pytest.raises(TypeError):
        deg.simple_DEG_pair(df, conds, bogus=1)
    with pytest.raises(KeyError):
        deg.simple_DEG_pair(df, conds, pval_ref_col="padj", verbose=False)
    with pytest.raises(ValueError):
        deg.simple_DEG_pair(df, ["A", "A", "B"])
    # int-like cut-offs and a numpy float are converted
    assert deg.simple_DEG_pair(df, conds, pval_cutoff=1, logFC_cutoff=np.float32(0), verbose=False)["error"] is False


LAYOUT = "expected genes as rows, one condition per sample column"


# The two commonest wrong-shape calls say which layout is expected.
@pytest.mark.parametrize("call", [deg.simple_DEG_pair, deg.simple_DEG])
def test_wrong_shape_calls(call):
    rng = np.random.default_rng(0)
    genes, samples = ["g%d" % i for i in range(400)], ["s%d" % i for i in range(8)]
    pseudo_bulk = pd.DataFrame(rng.random((400, 8)) + 1, index=genes, columns=samples)
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


def test_non_numeric_values_raise_the_conversion_error():
    df = pd.DataFrame({"a": [1.0, 2.0], "b": ["x", "3"], "c": [1, 2], "d": [3, 4]})
    with pytest.raises(ValueError, match="could not convert"):
        deg.simple_DEG_pair(df, ["A", "A", "B", "B"])


def test_table_contents_and_edge_values():
    x = np.array(
        [
            [1.0, 2.0, 0.0, 0.0001],  # tiny test mean: large negative fold change
            [2.0, 2.0, 5.0, 6.0],  # reference constant: dropped
            [1.0, np.nan, 5.0, 6.0],  # one reference value: dropped
            [1.0, 2.0, 3.0, 5.0],
            [-1.0, -2.0, 3.0, 5.0],  # negative ratio: log2_FC NaN, kept in deg_raw only
        ]
    )
    df = pd.DataFrame(x, index=["z", "c", "n", "u", "neg"], columns=list("abcd"))
    res = deg.simple_DEG_pair(
        df, ["R", "R", "T", "T"], pval_cutoff=1.0, logFC_cutoff=0.0, corr_method=None, verbose=False
    )
    raw = res["deg_raw"]
    assert set(raw.index) == {"z", "u", "neg"}
    assert list(raw.columns) == COLS
    assert (raw["pval_adj"] == raw["pval"]).all()
    assert raw["pval"].is_monotonic_increasing
    assert np.isnan(raw.loc["neg", "log2_FC"])
    assert "neg" not in res["deg"].index
    assert list(res["deg"].index) == ["z", "u"]  # |log2_FC| descending
    np.testing.assert_allclose(raw.loc["z", "log2_FC"], np.log2(0.00005 / (1.5 + 1e-10) + 1e-10))
    zero = pd.DataFrame([[1.0, 2.0, 1e-3, -1e-3]], columns=list("abcd"))  # test mean exactly 0
    raw0 = deg.simple_DEG_pair(zero, ["R", "R", "T", "T"], corr_method=None, verbose=False)["deg_raw"]
    np.testing.assert_allclose(raw0.iloc[0]["log2_FC"], np.log2(1e-10))


def test_cutoffs_are_inclusive_and_ref_column_selects():
    df = make_expr(np.random.default_rng(11), n_genes=60)
    conds = ["a"] * 6 + ["b"] * 5
    raw = deg.simple_DEG_pair(df, conds, verbose=False)["deg_raw"]
    row = raw.iloc[len(raw) // 3]
    sig = deg.simple_DEG_pair(
        df, conds, pval_cutoff=float(row["pval_adj"]), logFC_cutoff=float(abs(row["log2_FC"])), verbose=False
    )["deg"]
    assert row.name in sig.index
    assert (sig["pval_adj"] <= row["pval_adj"]).all()
    assert (sig["log2_FC"].abs() >= abs(row["log2_FC"])).all()
    assert sig["log2_FC"].abs().is_monotonic_decreasing
    on_raw = deg.simple_DEG_pair(df, conds, pval_ref_col="pval", pval_cutoff=0.01, logFC_cutoff=0.0, verbose=False)[
        "deg"
    ]
    assert set(on_raw.index) == set(raw.index[(raw["pval"] <= 0.01) & raw["log2_FC"].notna()])
    assert "abs_log2_FC" not in on_raw.columns


def test_inputs_are_left_untouched_and_float64_not_copied():
    rng = np.random.default_rng(4)
    df = make_expr(rng, n_genes=30)
    ints = pd.DataFrame(rng.integers(0, 9, (30, 11)), columns=df.columns)
    before, before_i = df.copy(), ints.copy()
    conds = pd.Series(["a"] * 6 + ["b"] * 5, index=list("kjihgfedcba"))  # own index is not aligned on
    cond_before = conds.copy()
    got = deg.simple_DEG_pair(df, conds, verbose=False)
    assert_same_result(got, reference_pair(df, list(conds)))
    assert_same_result(deg.simple_DEG_pair(ints, conds, verbose=False), reference_pair(ints, list(conds)))
    pd.testing.assert_frame_equal(df, before)
    pd.testing.assert_frame_equal(ints, before_i)
    pd.testing.assert_series_equal(conds, cond_before)


def test_duplicate_labels_are_handled_by_position():
    rng = np.random.default_rng(9)
    df = make_expr(rng, n_genes=40, n_ref=3, n_test=3)
    dup = df.copy()
    dup.columns = ["s", "s", "s", "t", "t", "t"]
    dup.index = ["g"] * 20 + [f"h{i}" for i in range(20)]
    conds = ["A"] * 3 + ["B"] * 3
    got = deg.simple_DEG_pair(dup, conds, verbose=False)["deg_raw"]
    want = deg.simple_DEG_pair(df, conds, verbose=False)["deg_raw"]
    np.testing.assert_array_equal(got.to_numpy(), want.to_numpy())
    assert list(got.index) == [dup.index[df.index.get_loc(g)] for g in want.index]


def test_condition_series_longer_than_the_table_raises():
    df = make_expr(np.random.default_rng(2), n_genes=5, n_ref=2, n_test=2)
    with pytest.raises(ValueError, match="got 5 conditions for 4 columns"):
        deg.simple_DEG_pair(df, pd.Series(["A", "A", "B", "B", "B"]))
