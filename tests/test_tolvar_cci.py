"""Cell-cell interaction tables: means, group tests, common removal, counts, plot layout."""

import copy
import warnings

import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import tolvar
from tests.reference.cci import PARTS, ref_cpdb, ref_diff, ref_means, ref_ni_mat, ref_plot, ref_remove_common

CELLS = ["T cell", "B cell", "NK cell", "CD14 Mono", "Plasma cell"]
GENES = ["CXCL12", "CXCR4", "CCL5", "CCR5", "TNF", "TNFRSF1A", "HLA-A", "CD8A", "MIF", "CD74", "APP", "CD47"]


def make_id(ga, gb, ca, cb):
    return f"{ga}_{gb}--{ca}|{cb}"


def make_table(rows, rng=None):
    df = pd.DataFrame(rows, columns=["gene_A", "gene_B", "cell_A", "cell_B", "mean", "pval"])
    df.index = [make_id(*r[:4]) for r in rows]
    df["rank"] = np.arange(len(df), dtype=float) / 10  # carried along untouched
    return df


def make_cci(n_samples=6, seed=0):
    """Per-sample tables: a core present everywhere, the rest private or partly shared."""
    rng = np.random.default_rng(seed)
    universe = [(ga, gb, ca, cb) for ga in GENES[:6] for gb in GENES[6:] for ca in CELLS for cb in CELLS[:3]]
    rng.shuffle(universe)
    core = universe[:25]
    rest = universe[25:]
    out = {}
    for s in range(n_samples):
        picked = core + [rest[i] for i in rng.choice(len(rest), size=60, replace=False)]
        order = rng.permutation(len(picked))
        rows = []
        for i in order:
            mean = float(rng.gamma(2.0, 0.6))
            if rng.random() < 0.08:
                mean = np.nan
            pval = float(rng.uniform() ** 3)
            if rng.random() < 0.05:
                pval = 0.01  # exactly at the plot table's cut-off
            rows.append((*picked[i], mean, pval))
        out[f"sample {s}"] = make_table(rows)
    return out


# ---------------------------------------------------------------- cci_get_means


@pytest.mark.parametrize(
    "kwargs",
    [
        {},
        {"cells": ["NK cell", "CD14 Mono"]},
        {"genes": ["CCL5", "CD74"]},
        {"cells": ["T cell"], "genes": ["TNF"]},
        {"pval_cutoff": 0.2},
    ],
)
def test_means_match_reference(kwargs):
    d = make_cci()
    before = copy.deepcopy(d)
    got = tolvar.cci_get_means(d, **kwargs)
    want = ref_means(d, **kwargs)
    pd.testing.assert_frame_equal(got, want)
    assert all(got.dtypes == np.float64)
    pd.testing.assert_frame_equal(tolvar.get_cci_means(d, **kwargs), got)
    for k in d:
        pd.testing.assert_frame_equal(d[k], before[k])


def test_means_given_columns_and_filter_only_picks_columns():
    d = make_cci(3, seed=1)
    ids = list(d["sample 2"].index[:5]) + ["ABSENT_X--Nowhere|None"] + list(d["sample 0"].index[-3:])
    got = tolvar.cci_get_means(d, ids, cells=["nothing"], genes=["nothing"], pval_cutoff=-1)
    assert list(got.columns) == ids
    assert got["ABSENT_X--Nowhere|None"].isna().all()
    pd.testing.assert_frame_equal(got, ref_means(d, idx=ids))

    a = make_table([("G1", "G2", "T cell", "B cell", 1.5, 0.05), ("G3", "G4", "B cell", "B cell", 2.0, 0.5)])
    b = make_table([("G1", "G2", "T cell", "B cell", 0.7, 0.9), ("G3", "G4", "B cell", "B cell", 4.0, 0.04)])
    c = make_table([("G9", "G9", "NK cell", "NK cell", 1.0, 0.9)])
    got = tolvar.cci_get_means({"a": a, "b": b, "c": c})
    # pval == cut-off passes; the values come from every sample that has the row
    assert list(got.columns) == ["G1_G2--T cell|B cell", "G3_G4--B cell|B cell"]
    assert got.loc["b"].tolist() == [0.7, 4.0]
    assert got.loc["c"].isna().all()


def test_means_single_sample_keeps_table_order_and_converts_to_float():
    t = make_table([("G5", "G6", "T cell", "T cell", 3, 0.01), ("G1", "G2", "B cell", "T cell", 2, 0.02)])
    t["mean"] = t["mean"].astype(object).map(str)  # text that reads as numbers
    got = tolvar.cci_get_means({"only": t})
    assert list(got.columns) == list(t.index)
    assert got.loc["only"].tolist() == [3.0, 2.0]
    assert got.dtypes.tolist() == [np.float64, np.float64]


def test_means_bad_input():
    with pytest.raises(ValueError):
        tolvar.cci_get_means({})
    with pytest.raises(TypeError, match="cci_df_dct must be a dictionary.*got AnnData"):
        tolvar.cci_get_means(ad.AnnData(np.ones((2, 2))))
    empty = tolvar.cci_get_means({}, ["x_y--a|b", "u_v--c|d"])
    assert empty.shape == (0, 2) and list(empty.columns) == ["x_y--a|b", "u_v--c|d"]
    d = make_cci(2)
    with pytest.raises(KeyError, match="pval"):
        tolvar.cci_get_means({"s": d["sample 0"].drop(columns="pval")})
    with pytest.raises(KeyError, match="cell_B"):
        tolvar.cci_get_means({"s": d["sample 0"].drop(columns="cell_B")}, cells=["T cell"])
    with pytest.raises(KeyError, match="mean"):
        tolvar.cci_get_means({"s": d["sample 0"].drop(columns="mean")})
    # one identifier on two rows has no single mean
    t = make_table([("G1", "G2", "T cell", "B cell", 1.0, 0.01)] * 2)
    with pytest.raises(ValueError, match="duplicate"):
        tolvar.cci_get_means({"a": t, "b": t.iloc[:1]})


# ---------------------------------------------------------------- group tests


def sample_table(n_per_group=(15, 15, 15, 15), n_items=400, nan_frac=0.05, seed=3):
    rng = np.random.default_rng(seed)
    groups = [g for g, n in zip(["ctrl", "mild", "severe", "recovered"], n_per_group) for _ in range(n)]
    x = rng.gamma(2.0, 1.0, size=(len(groups), n_items))
    shift = rng.normal(0, 0.8, size=(4, n_items)) * (rng.random(n_items) < 0.3)
    for i, g in enumerate(groups):
        x[i] += shift[["ctrl", "mild", "severe", "recovered"].index(g)]
    x[rng.random(x.shape) < nan_frac] = np.nan
    x[: n_per_group[0], 7] = np.nan  # one group has no value at all for item 7
    x[n_per_group[0] : n_per_group[0] + n_per_group[1], 8] = np.nan
    x[n_per_group[0], 8] = 1.0  # ... and a single value here
    samples = [f"S{i:02d}" for i in range(len(groups))]
    order = rng.permutation(len(samples))  # samples of a group are not contiguous
    df = pd.DataFrame(
        x[order], index=[samples[i] for i in order], columns=[f"L{i}_R{i}--T cell|NK cell" for i in range(n_items)]
    )
    return df, dict(zip(samples, groups))


@pytest.mark.parametrize("ref", [None, "mild", "ctrl"])
def test_diff_matches_scipy_and_ranking(ref):
    df, mapping = sample_table()
    got = tolvar.cci_get_diff_interactions(df, mapping, ref_group=ref)
    want = ref_diff(df, mapping, ref)
    assert list(got.columns) == list(want.columns)
    assert list(got.index) == list(want.index)
    np.testing.assert_allclose(got.to_numpy(), want.to_numpy(), rtol=1e-10, atol=0)
    pd.testing.assert_frame_equal(tolvar.test_group_diff(df, mapping, ref, 0.05), got)


def test_diff_pvalues_of_every_item_and_layouts():
    df, mapping = sample_table(n_items=300, nan_frac=0.1, seed=5)
    everything = tolvar.cci_get_diff_interactions(df, pd.Series(mapping), pval_cutoff=1.0)
    assert len(everything) == df.shape[1]
    want = ref_diff(df, mapping, pc=1.0)
    np.testing.assert_allclose(everything.loc[want.index].to_numpy(), want.to_numpy(), rtol=1e-10)
    # items with too few values in a group get p = 1
    assert (everything.loc[df.columns[7], ["mild_vs_ctrl", "severe_vs_ctrl", "recovered_vs_ctrl"]] == 1).all()
    assert everything.loc[df.columns[8], "mild_vs_ctrl"] == 1
    # same numbers from a C-ordered copy and from mixed dtypes
    c_order = pd.DataFrame(np.ascontiguousarray(df.to_numpy()), index=df.index, columns=df.columns)
    pd.testing.assert_frame_equal(tolvar.cci_get_diff_interactions(c_order, mapping, pval_cutoff=1.0), everything)


def test_diff_group_layouts():
    rng = np.random.default_rng(0)
    df = pd.DataFrame(rng.normal(size=(9, 4)), index=list("abcdefghi"), columns=list("wxyz"))
    df.iloc[:3, 0] += 10
    three = dict(zip(df.index, "AAABBBCCC"))
    assert list(tolvar.cci_get_diff_interactions(df, three, pval_cutoff=1).columns) == ["B_vs_A", "C_vs_A", "C_vs_B"]
    assert list(tolvar.cci_get_diff_interactions(df, three, "A", 1).columns) == ["B_vs_A", "C_vs_A"]
    assert list(tolvar.cci_get_diff_interactions(df, three, "B", 1).columns) == ["A_vs_B", "C_vs_B"]
    numeric = dict(zip(df.index, [2, 2, 2, 1, 1, 1, 1, 2, 1]))
    assert list(tolvar.cci_get_diff_interactions(df, numeric, pval_cutoff=1).columns) == ["2_vs_1"]
    for mapping, ref in [(dict.fromkeys(df.index, "A"), None), (three, "Z")]:
        empty = tolvar.cci_get_diff_interactions(df, mapping, ref)
        assert empty.shape == (0, 0)
    # NaN labels have no members and do not disturb the order of the others
    with_nan = dict(zip(df.index, [2, 2, 2, np.nan, np.nan, 1, 1, 1, np.nan]))
    assert list(tolvar.cci_get_diff_interactions(df, with_nan, pval_cutoff=1).columns) == ["2_vs_1"]
    with_nan = dict(zip(df.index, ["B", "B", "B", np.nan, np.nan, "A", "A", "A", np.nan]))
    assert list(tolvar.cci_get_diff_interactions(df, with_nan, pval_cutoff=1).columns) == ["B_vs_A"]
    assert list(tolvar.cci_get_diff_interactions(df, with_nan, "A", 1).columns) == ["B_vs_A"]


def test_diff_cutoff_inclusive_and_count_before_product():
    # Two groups of three; p-values known from scipy.
    base = np.array([[0.0, 1.0, 2.0, 10.0, 11.0, 12.0]]).T
    df = pd.DataFrame(
        np.hstack([base, base * [[1], [1], [1], [1.3], [1.3], [1.3]]]), index=list("abcdef"), columns=["x", "y"]
    )
    mapping = dict(zip("abcdef", "AAABBB"))
    p = ref_diff(df, mapping, pc=1.0)["B_vs_A"]
    got = tolvar.cci_get_diff_interactions(df, mapping, pval_cutoff=p["x"])
    assert "x" in got.index  # equal to the cut-off counts
    # three groups: an item significant twice outranks one significant once with a tinier p
    rng = np.random.default_rng(1)
    x = rng.normal(size=(12, 2))
    x[:4, 0] += 50  # item 0: only A differs, hugely (two comparisons)
    x[4:8, 1] += 6
    x[8:, 1] -= 6  # item 1: all three differ, moderately
    df = pd.DataFrame(x, index=[f"s{i}" for i in range(12)], columns=["big", "wide"])
    m = {f"s{i}": "ABC"[i // 4] for i in range(12)}
    got = tolvar.cci_get_diff_interactions(df, m)
    assert list(got.index) == ["wide", "big"]
    assert list(got.index) == list(ref_diff(df, m).index)


def test_diff_products_below_double_range_stay_ordered():
    # Three groups far apart with tiny spread: every p-value is astronomically
    # small and each row's product underflows a double.
    base = np.array([0.0, 1.0, 0.5, 0.25, 0.75, 0.1, 0.9, 0.6])
    rows = []
    for shift in (1e8, 1e10, 1e9):
        rows.append(np.concatenate([base, base + shift, base + 2 * shift]))
    df = pd.DataFrame(np.array(rows).T, index=[f"s{i}" for i in range(24)], columns=["mid", "top", "low"])
    m = {f"s{i}": "ABC"[i // 8] for i in range(24)}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        raw = ref_diff(df, m, pc=1.0)
    assert (raw.prod(axis=1) == 0).all()  # a plain product cannot tell them apart
    log_sum = np.log10(raw).sum(axis=1)
    got = tolvar.cci_get_diff_interactions(df, m)
    assert list(got.index) == list(log_sum.sort_values().index) == ["top", "low", "mid"]


def test_diff_bad_input():
    df, mapping = sample_table(n_items=10)
    partial = dict(mapping)
    missing = df.index[3]
    del partial[missing]
    with pytest.raises(KeyError, match=missing):
        tolvar.cci_get_diff_interactions(df, partial)
    mixed = dict(mapping, **{df.index[0]: 3})
    with pytest.raises(TypeError):
        tolvar.cci_get_diff_interactions(df, mixed)
    text = df.astype(object)
    text.iloc[0, 0] = "high"
    with pytest.raises(ValueError):
        tolvar.cci_get_diff_interactions(text, mapping)


# ---------------------------------------------------------------- common removal and counts


def test_remove_common_matches_reference():
    d = make_cci(5, seed=2)
    before = copy.deepcopy(d)
    got = tolvar.cci_remove_common(d)
    want = ref_remove_common(d)
    assert list(got) == list(d)
    for k in d:
        pd.testing.assert_frame_equal(got[k], want[k])
        pd.testing.assert_frame_equal(d[k], before[k])
        assert len(got[k]) == len(d[k]) - 25  # the core is gone, nothing else
    # present in every sample but one: kept wherever it is
    core = set.intersection(*(set(t.index) for t in d.values()))
    lost = sorted(core)[0]
    d["sample 4"] = d["sample 4"].drop(index=lost)
    got = tolvar.cci_remove_common(d)
    assert all(lost in got[k].index for k in list(d)[:4])


def test_remove_common_edges():
    assert tolvar.cci_remove_common({}) == {}
    with pytest.raises(AttributeError):
        tolvar.cci_remove_common(None)
    t = make_table([("G1", "G2", "T cell", "B cell", 1.0, 0.1)])
    one = tolvar.cci_remove_common({"x": t})
    assert list(one) == ["x"] and one["x"].empty and list(one["x"].columns) == list(t.columns)
    # repeated private labels keep all their rows, in table order
    a = make_table(
        [
            ("A", "B", "T cell", "T cell", 1.0, 0.1),
            ("C", "D", "B cell", "T cell", 2.0, 0.1),
            ("A", "B", "T cell", "T cell", 3.0, 0.1),
        ]
    )
    b = make_table([("C", "D", "B cell", "T cell", 2.0, 0.1)])
    got = tolvar.cci_remove_common({"a": a, "b": b})
    assert got["a"]["mean"].tolist() == [1.0, 3.0]
    assert got["b"].empty


def test_ni_mat_matches_reference_and_aliases():
    d = make_cci(4, seed=4)
    for rc in (True, False):
        got = tolvar.cci_get_ni_mat(d, remove_common=rc)
        want = ref_ni_mat(d, rc)
        assert list(got) == list(want)
        for k in d:
            pd.testing.assert_frame_equal(got[k], want[k])
        alias = tolvar.get_cci_ni_mat(d, rc)
        for k in d:
            pd.testing.assert_frame_equal(alias[k], got[k])
    axes = {tuple(m.index) for m in got.values()} | {tuple(m.columns) for m in got.values()}
    assert len(axes) == 1


def test_ni_mat_small_cases():
    t = make_table(
        [
            ("G1", "G2", "T cell", "B cell", 1.0, 0.1),
            ("G3", "G4", "T cell", "B cell", 1.0, 0.1),
            ("G5", "G6", "B cell", "T cell", 1.0, 0.1),
        ]
    )
    m = tolvar.cci_get_ni_mat({"s": t}, remove_common=False)["s"]
    assert list(m.index) == list(m.columns) == ["B cell", "T cell"]
    assert m.loc["T cell", "B cell"] == 2 and m.loc["B cell", "T cell"] == 1
    assert m.loc["T cell", "T cell"] == 0 and m.loc["B cell", "B cell"] == 0
    # a cell type seen only in shared interactions disappears after removal
    shared = make_table([("G1", "G2", "Mast cell", "Mast cell", 1.0, 0.1)])
    a = pd.concat([t, shared])
    b = pd.concat([t.iloc[:1], shared])
    got = tolvar.cci_get_ni_mat({"a": a, "b": b})
    assert list(got["a"].index) == ["B cell", "T cell"]
    assert (got["b"].to_numpy() == 0).all()
    with pytest.raises(KeyError, match="cell_A"):
        tolvar.cci_get_ni_mat({"a": t.drop(columns="cell_A")}, False)


def test_cpdb_get_gp_n_cp():
    assert tolvar.cpdb_get_gp_n_cp("G1_G2--C1|C2") == ("G1_G2", "C1|C2", "G1", "G2", "C1", "C2")
    assert tolvar.cpdb_get_gp_n_cp("HLA_A_B--CD4 T cell|NK cell--x") == (
        "HLA_A_B",
        "CD4 T cell|NK cell",
        "HLA",
        "A",
        "CD4 T cell",
        "NK cell",
    )
    assert tolvar.cpdb_get_gp_n_cp("Ä_ß--Zelle 1|Zelle 2") == ("Ä_ß", "Zelle 1|Zelle 2", "Ä", "ß", "Zelle 1", "Zelle 2")
    for odd in ["x_y---a|b", "x_--|", "_y--a|b|c"]:
        assert tolvar.cpdb_get_gp_n_cp(odd) == ref_cpdb(odd)
    for bad in ["G1_G2-C1|C2", "G1G2--C1|C2", "G1_G2--C1C2"]:
        with pytest.raises(IndexError):
            tolvar.cpdb_get_gp_n_cp(bad)
    for not_text in (12, None):
        with pytest.raises(AttributeError):
            tolvar.cpdb_get_gp_n_cp(not_text)


# ---------------------------------------------------------------- plot table


@pytest.mark.parametrize(
    "kwargs", [{}, {"pval_cutoff": 0.05, "mean_cutoff": 0.5}, {"target_cells": ["NK cell", "Plasma cell"]}]
)
def test_plot_table_matches_reference(kwargs, capsys):
    d = make_cci(5, seed=6)
    before = copy.deepcopy(d)
    got = tolvar.cci_get_df_to_plot(d, **kwargs)
    want = ref_plot(d, **kwargs)
    out = capsys.readouterr().out
    n = len(next(iter(want.values())))
    assert out == f"Union of Interactions: {n}\n"
    assert list(got) == list(want)
    for k in d:
        pd.testing.assert_frame_equal(got[k], want[k], check_dtype=False)
        assert got[k]["mean"].dtype == np.float64 and got[k]["pval"].dtype == np.float64
        assert list(got[k].index) == list(got["sample 0"].index)
        pd.testing.assert_frame_equal(d[k], before[k])


def test_plot_table_rules(capsys):
    a = make_table(
        [
            ("G1", "G2", "T cell", "B cell", 1.0, 0.01),
            ("G3", "G4", "NK cell", "B cell", 0.5, 0.001),
            ("G5", "G6", "B cell", "B cell", 2.0, 0.5),
        ]
    )
    b = make_table([("G5", "G6", "B cell", "B cell", 2.0, 0.001)])
    b["gene_A"] = "WRONG"
    b = b.drop(columns=["gene_B", "rank"])
    got = tolvar.cci_get_df_to_plot({"a": a, "b": b})
    ids = ["G1_G2--T cell|B cell", "G5_G6--B cell|B cell"]  # boundaries included, weak G3_G4 left out
    assert list(got["a"].index) == list(got["b"].index) == ids
    row = got["b"].loc[ids[0]]
    assert row["mean"] == 0 and row["pval"] == 1
    assert (row["gene_A"], row["gene_B"], row["cell_A"], row["cell_B"]) == ("G1", "G2", "T cell", "B cell")
    assert got["b"].loc[ids[1], "gene_A"] == "G5"  # corrected from the identifier
    assert list(got["b"].columns) == ["gene_A", "cell_A", "cell_B", "mean", "pval", "gene_pair", "cell_pair", "gene_B"]
    assert tolvar.cci_get_df_to_plot({"a": a}, mean_cutoff=0.5)["a"].shape[0] == 2
    assert tolvar.cci_get_df_to_plot({"a": a}, mean_cutoff=0.5, target_cells=("T cell",))["a"].shape[0] == 2
    only_t = tolvar.cci_get_df_to_plot({"a": a, "b": b}, mean_cutoff=0.5, target_cells=["T cell"])
    assert list(only_t["b"].index) == ids[:1]
    none = tolvar.cci_get_df_to_plot({"a": a, "b": b}, pval_cutoff=0)
    assert all(t.empty for t in none.values())
    lines = capsys.readouterr().out.splitlines()
    assert lines == [
        "Union of Interactions: 2",
        "Union of Interactions: 2",
        "Union of Interactions: 2",
        "Union of Interactions: 1",
        "Union of Interactions: 0",
    ]


def test_plot_table_bad_input(capsys, monkeypatch):
    a = make_table([("G1", "G2", "T cell", "B cell", 1.0, 0.01)])
    with pytest.raises(KeyError, match="pval"):
        tolvar.cci_get_df_to_plot({"a": a, "b": a.drop(columns="pval")})
    assert capsys.readouterr().out == ""
    bad = a.rename(index={a.index[0]: "G1G2--T cell|B cell"})
    with pytest.raises(IndexError):
        tolvar.cci_get_df_to_plot({"a": bad})
    for not_a_dict in (None, ad.AnnData(np.ones((2, 2)))):
        with pytest.raises(AttributeError, match="dictionary of CCI result tables.*'keys'"):
            tolvar.cci_get_df_to_plot(not_a_dict)
    # the splitter is looked up in the module when the call runs
    monkeypatch.setattr(tolvar, "cpdb_get_gp_n_cp", lambda idx: ("gp", "cp", "ga", "gb", "ca", "cb"))
    got = tolvar.cci_get_df_to_plot({"a": a})["a"]
    assert got[PARTS].iloc[0].tolist() == ["gp", "cp", "ga", "gb", "ca", "cb"]
