"""DEG panel plot and volcano plot, checked as figure objects under Agg."""

import struct

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import pytest  # noqa: E402

from orvalen import deg  # noqa: E402


@pytest.fixture
def shown(monkeypatch):
    """Figures handed to plt.show, in order."""
    figs = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: figs.append(plt.gcf()))
    yield figs
    plt.close("all")


def deg_table(fc, pval, prefix="g", fc_col="log2_FC"):
    fc = np.asarray(fc, dtype=float)
    genes = [f"{prefix}{i}" for i in range(len(fc))]
    return pd.DataFrame(
        {
            fc_col: fc,
            "mean_ref": 1.0,
            "mean_test": 2.0,
            "pval": np.asarray(pval, dtype=float) / 2,
            "pval_adj": np.asarray(pval, dtype=float),
        },
        index=genes,
    )


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    return struct.unpack(">II", data[16:24])


def texts_of(ax):
    return [(t.get_text(), t.get_position(), t.get_rotation(), t.get_fontsize(), t.get_va()) for t in ax.texts]


# --- plot_deg ---------------------------------------------------------------


@pytest.fixture
def three_panels():
    rng = np.random.default_rng(1)
    return {
        "A_vs_others": deg_table(rng.normal(0, 2, 12), np.linspace(0.001, 0.04, 12), "a"),
        "B_vs_others": deg_table(rng.normal(0, 2, 8), np.linspace(0.001, 0.2, 8), "b"),
        "C_vs_others": deg_table(rng.normal(0, 2, 5), np.linspace(0.001, 0.01, 5), "c"),
    }


def test_plot_deg_grid_titles_labels_and_png(shown, three_panels, tmp_path):
    before = {k: v.copy() for k, v in three_panels.items()}
    stats = {"A_vs_others": {"UP": 130, "DOWN": 92}, "B_vs_others": {}, "C_vs_others": {"UP": 1}}
    out = deg.plot_deg(
        three_panels,
        reference="log2_FC",
        deg_stat_dct=stats,
        dpi=50,
        text_fs=6,
        title_fs=13,
        label_fs=9,
        tick_fs=7,
        wspace=0.3,
        hspace=0.4,
    )
    assert out is None and len(shown) == 1
    fig = shown[0]
    assert tuple(fig.get_size_inches()) == (12, 8) and fig.dpi == 50
    assert (fig.subplotpars.left, fig.subplotpars.right, fig.subplotpars.wspace) == (0.05, 0.95, 0.3)
    axes = fig.axes
    assert len(axes) == 4
    assert [ax.axison for ax in axes] == [True, True, True, False]
    assert [ax.get_title() for ax in axes[:3]] == [
        "A_vs_others (UP: 130, DOWN: 92)",
        "B_vs_others)",
        "C_vs_others (UP: 1)",
    ]
    assert all(ax.title.get_fontsize() == 13 for ax in axes[:3])
    # Only the first grid column carries the y label.
    assert [ax.get_ylabel() for ax in axes[:3]] == ["log2_FC", "", "log2_FC"]
    assert axes[0].yaxis.label.get_fontsize() == 9
    for ax in axes[:3]:
        assert ax.get_xlabel() == "Genes" and ax.xaxis.label.get_fontsize() == 9
        assert ax.get_yticklabels()[0].get_fontsize() == 7
        assert ax.get_xticklabels()[0].get_fontsize() == 7
        assert ax.xaxis.get_gridlines()[0].get_visible()
        assert all(t.get_fontsize() == 6 for t in ax.texts)
    for key, df in three_panels.items():
        pd.testing.assert_frame_equal(df, before[key])

    path = tmp_path / "deg.png"
    fig.savefig(path)
    assert png_size(path) == (600, 400)


def test_plot_deg_shows_top_genes_by_fold_change(shown):
    fc = np.linspace(-5, 5, 100)[np.random.default_rng(2).permutation(100)]
    df = deg_table(fc, np.full(100, 0.001))
    deg.plot_deg({"KO_vs_others": df}, "log2_FC")
    ax = shown[0].axes[0]
    top = df.sort_values("log2_FC", ascending=False).iloc[:30]
    line = ax.lines[0]
    assert list(line.get_xdata()) == list(range(30))
    np.testing.assert_allclose(line.get_ydata(), top["log2_FC"])
    y = top["log2_FC"].to_numpy()
    spread = y.max() - y.min()
    np.testing.assert_allclose(ax.get_ylim(), (y.min() - 0.4 * spread, y.max() + 0.5 * spread))
    expected = []
    for x, (gene, val) in enumerate(top["log2_FC"].items()):
        expected.append(("  " + gene, (x, val), 90.0, 10.0, "baseline"))
        expected.append(("(3.0) ", (x, val), 90.0, 10.0, "top"))
    assert texts_of(ax) == expected
    assert min(y) > 0  # no down-regulated gene among the top 30 of 100
    assert shown[0].get_size_inches().tolist() == [12, 4]
    assert [a.axison for a in shown[0].axes] == [True, False]


def test_plot_deg_by_pvalue_inclusive_cutoff(shown):
    df = deg_table([1, -2, 3, 4], [0.05, 1e-4, 0.0500001, 0.01])
    deg.plot_deg({"P": df}, reference="pval", show_log_pv=False, n_genes_to_show=10)
    ax = shown[0].axes[0]
    assert [t.get_text() for t in ax.texts] == ["  g1", "  g3", "  g0"]
    np.testing.assert_allclose(ax.lines[0].get_ydata(), -np.log10([1e-4, 0.01, 0.05]))
    assert ax.get_ylabel() == "pval"


def test_plot_deg_empty_panel_keeps_its_cell(shown):
    good = deg_table([1.0, 2.0], [0.01, 0.02], fc_col="logFC")
    none = deg_table([1.0, 2.0], [0.5, 0.6], fc_col="logFC")
    deg.plot_deg({"first": good, "empty": none, "third": good}, ncols=3)
    axes = shown[0].axes
    assert len(axes) == 3
    assert [ax.get_title() for ax in axes] == ["first", "", "third"]
    assert [ax.axison for ax in axes] == [True, True, True]
    assert [len(ax.lines) for ax in axes] == [1, 0, 1]
    assert [ax.get_ylabel() for ax in axes] == ["logFC", "", ""]


def test_plot_deg_failures(shown, three_panels):
    with pytest.raises(ValueError):
        deg.plot_deg({})
    with pytest.raises(KeyError):
        deg.plot_deg({"A": three_panels["A_vs_others"].drop(columns="pval_adj")})
    with pytest.raises(KeyError):
        deg.plot_deg(three_panels, reference="logFC")  # tables name it log2_FC
    with pytest.raises(KeyError):
        deg.plot_deg(three_panels, reference="log2_FC", deg_stat_dct={"A_vs_others": {}})
    with pytest.raises(TypeError):
        deg.plot_deg({"A": three_panels["A_vs_others"]}, "log2_FC", deg_stat_dct={"A": {"UP": "many"}})
    with pytest.raises(TypeError):
        deg.plot_deg({1: three_panels["A_vs_others"]}, "log2_FC", deg_stat_dct={1: {"UP": 1}})


@pytest.mark.filterwarnings("ignore:divide by zero")
def test_plot_deg_survives_zero_pvalues_and_nan_fold_changes(shown, tmp_path):
    # -log10(0) is infinite and NaN fold changes occur for negative mean ratios;
    # neither may make the axis limits invalid.
    df = deg_table([np.nan, 2.0, 1.0], [0.0, 0.01, 0.02])
    deg.plot_deg({"zero": df, "nan": df}, reference="pval")
    deg.plot_deg({"nan": df}, reference="log2_FC")
    deg.plot_deg({"none": df}, n_genes_to_show=0, reference="log2_FC")
    for fig in shown:
        for ax in fig.axes:
            assert np.isfinite(ax.get_ylim()).all()
    np.testing.assert_allclose(shown[1].axes[0].get_ylim(), (1 - 0.4, 2 + 0.5))
    assert shown[2].axes[0].get_title() == ""
    assert "(inf) " in [t.get_text() for t in shown[0].axes[0].texts]
    shown[0].savefig(tmp_path / "zero.png")


# --- plot_volcano -----------------------------------------------------------


@pytest.fixture
def volcano_table():
    # g0: p = 0; g1: p equal to the cut-off; g2: |FC| equal to the cut-off.
    fc = [3.0, 4.0, -1.0, 0.2, -2.5, 0.5]
    p = [0.0, 0.05, 0.001, 0.0001, 0.02, 0.9]
    return pd.DataFrame(
        {"log2_FC": fc, "pval_adj": p, "gene": ["G0", "G1", "G2", "G3", "G4", "G5"]}, index=[10, 11, 12, 13, 14, 15]
    )


@pytest.fixture
def fake_adjust(monkeypatch):
    calls = []
    monkeypatch.setattr(deg, "adjust_text", lambda *a, **k: calls.append((a, k)), raising=False)
    monkeypatch.setattr(deg, "ADJUST_TEXT", True)
    return calls


def test_volcano_points_lines_labels_and_png(shown, volcano_table, fake_adjust, tmp_path):
    before = volcano_table.copy()
    assert deg.plot_volcano(volcano_table, logFC_col="log2_FC", gene_col="gene") is None
    fig = shown[0]
    ax = fig.axes[0]
    assert tuple(fig.get_size_inches()) == (8, 7)
    rest, hits = ax.collections
    np.testing.assert_allclose(rest.get_offsets(), [[4.0, -np.log10(0.05)], [0.2, 4.0], [0.5, -np.log10(0.9)]])
    np.testing.assert_allclose(hits.get_offsets(), [[3.0, 300.0], [-1.0, 3.0], [-2.5, -np.log10(0.02)]])
    assert (rest.get_sizes()[0], rest.get_alpha(), hits.get_sizes()[0], hits.get_alpha()) == (10, 0.4, 18, 0.9)
    assert [t.get_text() for t in ax.get_legend().get_texts()] == ["Not significant", "Significant"]

    hline, vplus, vminus = ax.lines
    assert hline.get_ydata()[0] == pytest.approx(-np.log10(0.05))
    assert (vplus.get_xdata()[0], vminus.get_xdata()[0]) == (1.0, -1.0)
    assert all(ln.get_linestyle() == "--" and ln.get_linewidth() == 1 for ln in ax.lines)
    assert (ax.get_xlabel(), ax.get_ylabel(), ax.get_title()) == (
        "log2 Fold Change",
        "-log10(p-value)",
        "Volcano plot (no label overlap)",
    )

    # Labels: significant genes by p-value, then handed to adjust_text.
    assert [(t.get_text(), t.get_position()) for t in ax.texts] == [
        ("G0", (3.0, 300.0)),
        ("G2", (-1.0, 3.0)),
        ("G4", (-2.5, -np.log10(0.02))),
    ]
    assert all((t.get_fontsize(), t.get_ha(), t.get_va()) == (8, "center", "bottom") for t in ax.texts)
    ((args, kwargs),) = fake_adjust
    assert args[0] == list(ax.texts) and args[1] == [3.0, -1.0, -2.5]
    np.testing.assert_allclose(args[2], [300.0, 3.0, -np.log10(0.02)])
    assert kwargs == {
        "ax": ax,
        "expand_points": (1.2, 1.2),
        "expand_text": (1.2, 1.4),
        "arrowprops": {"arrowstyle": "-", "lw": 0.5},
        "force_text": 0.5,
        "force_points": 0.2,
        "lim": 1000,
    }
    pd.testing.assert_frame_equal(volcano_table, before)

    path = tmp_path / "volcano.png"
    fig.savefig(path)
    assert png_size(path) == (int(8 * fig.dpi), int(7 * fig.dpi))


def test_volcano_top_labels_and_index_names(shown, fake_adjust):
    rng = np.random.default_rng(3)
    p = rng.permutation(np.linspace(1e-6, 1e-3, 50))
    df = pd.DataFrame({"logFC": rng.choice([-3.0, 3.0], 50), "pval_adj": p}, index=range(100, 150))
    deg.plot_volcano(df, xlim=(-6, 6), ylim=(0, 10), title="T")
    ax = shown[0].axes[0]
    expected = [str(i) for i in df.sort_values("pval_adj").index[:20]]
    assert [t.get_text() for t in ax.texts] == expected
    assert ax.get_xlim() == (-6, 6) and ax.get_ylim() == (0, 10) and ax.get_title() == "T"
    assert len(fake_adjust) == 1


def test_volcano_without_labels_or_adjuster(shown, volcano_table, fake_adjust, monkeypatch):
    deg.plot_volcano(volcano_table, logFC_col="log2_FC", top_n_labels=0)
    deg.plot_volcano(volcano_table.drop(index=10), logFC_col="log2_FC", pval_cutoff=1e-9)
    assert fake_adjust == []
    assert [len(fig.axes[0].texts) for fig in shown] == [0, 0]
    assert len(shown[1].axes[0].collections[1].get_offsets()) == 0

    monkeypatch.setattr(deg, "ADJUST_TEXT", False)
    deg.plot_volcano(volcano_table, logFC_col="log2_FC")
    assert fake_adjust == [] and len(shown[2].axes[0].texts) == 3


def test_volcano_missing_columns_draw_nothing(shown, volcano_table):
    open_before = plt.get_fignums()
    with pytest.raises(KeyError):
        deg.plot_volcano(volcano_table, logFC_col="log2_FC", gene_col="symbol")
    with pytest.raises(KeyError):
        deg.plot_volcano(volcano_table, logFC_col="log2_FC", pval_col="padj")
    assert plt.get_fignums() == open_before and shown == []


@pytest.mark.parametrize("fc_col, hint", [("log2_FC", True), ("fold", False)])
def test_volcano_default_column_missing_names_the_columns(shown, volcano_table, fc_col, hint):
    table = volcano_table.rename(columns={"log2_FC": fc_col})
    with pytest.raises(KeyError) as err:
        deg.plot_volcano(table)  # the default fold-change column is "logFC"
    message = err.value.args[0]
    assert "'logFC'" in message and ", ".join([fc_col, "pval_adj", "gene"]) in message
    assert ("logFC_col='log2_FC'" in message) is hint
    assert shown == []


@pytest.mark.skipif(not deg.ADJUST_TEXT, reason="label placement library not installed")
def test_volcano_with_the_real_label_placement(shown, volcano_table, tmp_path):
    deg.plot_volcano(volcano_table, logFC_col="log2_FC")
    assert [t.get_text() for t in shown[0].axes[0].texts][:3] == ["10", "12", "14"]
    shown[0].savefig(tmp_path / "placed.png")


def test_volcano_drops_only_the_arrow_notice_of_adjust_text(shown, volcano_table, monkeypatch, caplog):
    import logging

    logger = logging.getLogger("adjustText")

    def noisy(*args, **kwargs):
        logger.warning("Looks like you are using a tranform that doesn't support FancyArrowPatch")
        logger.warning("Some labels are too long")

    monkeypatch.setattr(deg, "adjust_text", noisy, raising=False)
    monkeypatch.setattr(deg, "ADJUST_TEXT", True)
    with caplog.at_level(logging.WARNING, logger="adjustText"):
        deg.plot_volcano(volcano_table, logFC_col="log2_FC", gene_col="gene")
    assert [r.getMessage() for r in caplog.records] == ["Some labels are too long"]
    assert logger.filters == []

    def failing(*args, **kwargs):
        raise ValueError("placement failed")

    monkeypatch.setattr(deg, "adjust_text", failing)
    with pytest.raises(ValueError, match="placement failed"):
        deg.plot_volcano(volcano_table, logFC_col="log2_FC", gene_col="gene")
    assert logger.filters == []
