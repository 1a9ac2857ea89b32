"""Tree printer for AnnData objects, dictionaries and tables."""

import warnings

import anndata as ad
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp

from orvalen import tolvar


@pytest.fixture
def adata():
    n_obs, n_vars = 6, 5
    obs = pd.DataFrame(
        {
            "sample": list("aabbcc"),
            "condition": ["WT"] * 2 + ["KO"] * 4,
            "cnv_cluster": [0, 1, 0, 1, 0, 1],
            "ploidy_dec": ["Diploid"] * 6,
        },
        index=[f"cell{i}" for i in range(n_obs)],
    )
    var = pd.DataFrame({"gene_ids": [f"ENSG{i}" for i in range(n_vars)]}, index=[f"G{i}" for i in range(n_vars)])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        a = ad.AnnData(X=sp.csr_matrix(np.arange(30, dtype=np.float32).reshape(6, 5)), obs=obs, var=var)
    a.obsm["X_pca"] = np.zeros((n_obs, 3))
    a.obsm["X_umap"] = np.zeros((n_obs, 2), dtype=np.float32)
    a.obsm["cnv"] = np.zeros((n_obs, 4))
    a.varm["PCs"] = np.zeros((n_vars, 3))
    a.uns["log"] = {"step": "x"}
    a.uns["sample_colors"] = np.array(["#1f77b4", "#ff7f0e", "#2ca02c"])
    a.uns["pca"] = {
        "variance": np.arange(5.0),
        "variance_ratio": np.arange(3.0),
        "params": {"zero_center": True, "use_highly_variable": False, "mask": None, "extra": 1},
    }
    a.uns["neighbors"] = {"connectivities_key": "connectivities", "params": {"n_neighbors": 15, "method": "umap"}}
    a.uns["note"] = "n" * 79
    a.uns["long_note"] = "L" * 80
    a.uns["scores"] = pd.DataFrame({"a": [1], "b": [2], "c": [3], "d": [4]})
    a.uns["small"] = pd.DataFrame({"x": [1.0]})
    a.uns["empty"] = {}
    a.uns["threshold"] = 0.25
    a.uns["flag"] = True
    a.uns["DEG_stat"] = {"KO": 3}
    return a


FULL_TREE = """\
AnnData object with n_obs × n_vars = 6 × 5
├── X: array (shape=(6, 5), dtype=float32)
├── obs: DataFrame (6, 4), cols=[sample, condition, cnv_cluster, ... ])
├── var: DataFrame (5, 1), cols=['gene_ids'])
├── obsm: (AxisArrays)
│    ├── X_pca : array (shape=(6, 3), dtype=float64)
│    └── X_umap: array (shape=(6, 2), dtype=float32)
├── obsp: (PairwiseArrays)
│    └── (empty)
├── varm: (AxisArrays)
│    └── PCs: array (shape=(5, 3), dtype=float64)
├── varp: (PairwiseArrays)
│    └── (empty)
└── uns: (dict)
     ├── sample_colors: ['#1f77b4' '#ff7f0e' '#2ca02c']
     ├── pca          : (dict)
     │    ├── variance      : array (shape=(5,), dtype=float64)
     │    ├── variance_ratio: [0. 1. 2.]
     │    └── params        : (dict) Keys=[zero_center, use_highly_variable, mask, ... ]
     ├── neighbors    : (dict)
     │    ├── connectivities_key: 'connectivities'
     │    └── params            : (dict) Keys=[n_neighbors, method]
     ├── note         : '{note}'
     ├── long_note    : (str)
     ├── scores       : DataFrame (1, 4), cols=[a, b, c, ... ])
     ├── small        : DataFrame (1, 1), cols=['x'])
     ├── empty        : (dict)
     │    └── (empty)
     ├── threshold    : 0.25
     └── flag         : True
""".format(note="n" * 79)


def test_anndata_tree_full(adata):
    assert tolvar.show_anndata_tree(adata) == FULL_TREE
    assert tolvar.show_tree is tolvar.show_anndata_tree


def test_anndata_tree_depth_one_summarises_uns(adata):
    assert tolvar.show_anndata_tree(adata, max_depth=1, n_to_show=2) == (
        "AnnData object with n_obs × n_vars = 6 × 5\n"
        "├── X: array (shape=(6, 5), dtype=float32)\n"
        "├── obs: DataFrame (6, 4), cols=[sample, condition, ... ])\n"
        "├── var: DataFrame (5, 1), cols=['gene_ids'])\n"
        "├── obsm: (AxisArrays)\n"
        "├── obsp: (PairwiseArrays)\n"
        "├── varm: (AxisArrays)\n"
        "├── varp: (PairwiseArrays)\n"
        "└── uns: (dict) Keys=[log, sample_colors, ... ]\n"
    )


def test_own_limited_keys_replace_the_default_list(adata):
    text = tolvar.show_anndata_tree(adata, max_depth=4, limited_keys=["params", "pca"])
    uns = text[text.index("└── uns") :].splitlines()
    assert uns[:3] == [
        "└── uns: (dict)",
        "     ├── log          : (dict)",
        "     │    └── step: 'x'",
    ]
    assert " pca " not in text and "params" not in text
    assert "│    ├── X_umap: array (shape=(6, 2), dtype=float32)" in text
    assert "│    └── cnv   : array (shape=(6, 4), dtype=float64)" in text
    assert uns[-2:] == ["     └── DEG_stat     : (dict)", "          └── KO: 3"]


def test_dictionary_tree_pads_keys_and_nests():
    assert tolvar.show_anndata_tree({"a": 1, "bb": {"c": "x"}}) == (
        "Dictionary Structure (top-level):\n├── a : 1\n└── bb: (dict)\n     └── c: 'x'\n"
    )
    # The last visible key closes the branch when only hidden keys follow.
    assert tolvar.show_anndata_tree({"k": None, "zz": {"y": 2}, "log": 1, "cnv": 2}) == (
        "Dictionary Structure (top-level):\n├── k  : None\n└── zz : (dict)\n     └── y: 2\n"
    )
    assert tolvar.show_anndata_tree({}) == "Dictionary Structure (top-level):\n└── (empty)\n"


def test_keys_that_are_not_text_are_shown_by_their_text():
    assert tolvar.show_anndata_tree({1: "x", 22: None, ("t", 2): {3.5: 1}}) == (
        "Dictionary Structure (top-level):\n├── 1       : 'x'\n├── 22      : None\n"
        "└── ('t', 2): (dict)\n     └── 3.5: 1\n"
    )


def self_holding():
    d = {}
    d["self"] = d
    return d


def nested(depth):
    top = cur = {}
    for _ in range(depth):
        cur["k"] = {}
        cur = cur["k"]
    return top


@pytest.mark.parametrize(
    "obj, max_depth",
    [
        (self_holding(), 10**5),
        (nested(20000), float("inf")),
        (ad.AnnData(np.ones((2, 2)), uns={"loop": self_holding()}), 20000),
    ],
    ids=["dict-holding-itself", "deep-dict", "anndata-uns"],
)
def test_tree_of_endless_nesting_raises_recursion_error(obj, max_depth):
    with pytest.raises(RecursionError):
        tolvar.show_anndata_tree(obj, max_depth=max_depth)
    # Shallow enough, the same object still prints.
    assert tolvar.show_anndata_tree(obj, max_depth=3).count("(dict)") >= 1


def test_deep_nesting_stops_at_max_depth():
    nested = {"l0": {"l1": {"l2": {"l3": {"l4": 1}}}}}
    assert tolvar.show_anndata_tree(nested, max_depth=2) == (
        "Dictionary Structure (top-level):\n└── l0: (dict)\n     └── l1: (dict) Keys=[l2]\n"
    )
    text = tolvar.show_anndata_tree(nested, max_depth=4, n_to_show=1)
    assert text.splitlines()[-1] == "               └── l3: (dict) Keys=[l4]"
    assert tolvar.show_anndata_tree({"a": {}}, max_depth=1) == (
        "Dictionary Structure (top-level):\n└── a: (dict) (empty dictionary at max depth)\n"
    )


@pytest.mark.parametrize(
    "value, info",
    [
        (np.arange(4), "[0 1 2 3]"),
        (np.arange(5), "array (shape=(5,), dtype=int64)"),
        (np.float64(2.5), "2.5"),
        (np.array(7), "7"),
        ("s" * 79, "'" + "s" * 79 + "'"),
        ("s" * 80, "(str)"),
        ("é" * 79, "'" + "é" * 79 + "'"),
        (3, "3"),
        (False, "False"),
        (None, "None"),
        ((1, 2), "(tuple)"),
        (pd.DataFrame({"a": [1], "b": [2]}), "DataFrame (1, 2), cols=['a', 'b'])"),
        (pd.DataFrame({"a": [1], "b": [2], "c": [3], "d": [4]}), "DataFrame (1, 4), cols=[a, b, c, ... ])"),
    ],
)
def test_value_descriptions(value, info):
    assert tolvar._get_value_info(value) == info


def test_value_description_rules():
    assert tolvar._get_value_info({"a": 1}, level_of_value=2, max_depth=3) == "(dict)"
    many = {k: 0 for k in "abcde"}
    assert tolvar._get_value_info(many, level_of_value=3) == "(dict) Keys=[a, b, c, ... ]"
    assert tolvar._get_value_info(many, level_of_value=3, n_to_show=5) == "(dict) Keys=[a, b, c, d, e]"
    assert tolvar._get_value_info(1, key_name="log", limited_keys=["log"]) == ""
    # A limited key needs a list to be looked up in.
    with pytest.raises(TypeError):
        tolvar._get_value_info(1, key_name="log")
    # The shortened column list joins names as text.
    with pytest.raises(TypeError):
        tolvar._get_value_info(pd.DataFrame(np.zeros((1, 4))))


def test_top_level_table_and_other_objects():
    df = pd.DataFrame(np.zeros((2, 4)), columns=list("abcd"))
    assert tolvar.show_anndata_tree(df, n_to_show=10) == (
        "DataFrame Structure (top-level): shape=(2, 4), columns=['a', 'b', 'c', '...']\n"
    )
    assert tolvar.show_anndata_tree({"t": df}, n_to_show=4) == (
        "Dictionary Structure (top-level):\n└── t: DataFrame (2, 4), cols=['a', 'b', 'c', 'd'])\n"
    )
    assert tolvar.show_anndata_tree(3.5) == "Object Type: float\nValue Info: 3.5\n"
    assert tolvar.show_anndata_tree(3.5, _current_depth=1) == ""
    assert tolvar.show_anndata_tree({"a": 1}, ss="head\n") == "head\nDictionary Structure (top-level):\n└── a: 1\n"


def test_listing_helper_arguments():
    assert tolvar._display_dict_or_dataframe_recursive({"a": 1}, 0, "  ", limited_keys=[], ss="") == "  └── a: 1\n"
    assert tolvar._display_dict_or_dataframe_recursive({"a": 1}, 3, "", limited_keys=[], ss="x") == "x"
    assert tolvar._display_dict_or_dataframe_recursive([1, 2], 0, "", limited_keys=[], ss="x") == "x"
    with pytest.raises(TypeError):
        tolvar._display_dict_or_dataframe_recursive({"a": 1}, 0, "", limited_keys=[], ss=b"x")
    with pytest.raises(TypeError):
        tolvar.show_anndata_tree({"a": 1}, ss=["x"])


def test_tree_functions_are_looked_up_at_call_time(monkeypatch):
    seen = []
    original = tolvar._get_value_info

    def recording(value, **kw):
        seen.append((kw.get("key_name"), kw.get("level_of_value")))
        return original(value, **kw)

    monkeypatch.setattr(tolvar, "_get_value_info", recording)
    assert tolvar.show_anndata_tree({"a": {"b": 1}}) == (
        "Dictionary Structure (top-level):\n└── a: (dict)\n     └── b: 1\n"
    )
    assert seen == [("a", 1), ("b", 2)]

    monkeypatch.setattr(tolvar, "show_anndata_tree", lambda *a, **k: 5)
    with pytest.raises(TypeError, match="Expected str, got int"):
        tolvar._display_dict_or_dataframe_recursive({"a": {"b": 1}}, 0, "", limited_keys=[], ss="")


def test_anndata_name_is_read_from_the_module(monkeypatch, adata):
    class Other:
        pass

    monkeypatch.setattr(tolvar, "anndata", type("M", (), {"AnnData": Other}))
    assert tolvar.show_anndata_tree(adata).startswith("Object Type: AnnData\nValue Info: (AnnData)\n")


# --- base64 display -------------------------------------------------------

import base64  # noqa: E402
import html  # noqa: E402
import io  # noqa: E402
import struct  # noqa: E402

import matplotlib  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

KINDS = {"png", "jpeg", "gif", "webp", "html", "unknown"}
GIF_1PX = (
    b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00"
    b",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;"
)
WEBP_HEAD = b"RIFF" + struct.pack("<I", 30) + b"WEBPVP8L" + struct.pack("<I", 10) + b"\x2f\x00\x00\x00\x00" + bytes(9)


def figure_bytes(fmt):
    fig, ax = plt.subplots(figsize=(1, 1), dpi=20)
    ax.plot([0, 1], [1, 0])
    buf = io.BytesIO()
    fig.savefig(buf, format=fmt)
    plt.close(fig)
    return buf.getvalue()


@pytest.fixture(scope="module")
def samples():
    b64 = lambda raw: base64.b64encode(raw).decode()  # noqa: E731
    return {
        "png": b64(figure_bytes("png")),
        "jpeg": b64(figure_bytes("jpeg")),
        "gif": b64(GIF_1PX),
        "webp": b64(WEBP_HEAD),
        "html": b64(b"<!DOCTYPE html><html><body><div>hi &amp; bye</div></body></html>"),
    }


def test_detects_real_samples(samples):
    for kind, text in samples.items():
        assert tolvar._detect_base64_type(text) == kind
    # Wrapped every 76 characters, as mail encoders do.
    wrapped = base64.encodebytes(base64.b64decode(samples["png"])).decode()
    assert "\n" in wrapped and tolvar._detect_base64_type(wrapped) == "png"
    assert tolvar._detect_base64_type(" \t\n" + samples["gif"] + "\r\n") == "gif"


@pytest.mark.parametrize(
    "text, kind",
    [
        ("", "unknown"),
        ("  \n\t ", "unknown"),
        ("data:image/png;base64," + base64.b64encode(b"\x89PNG\r\n\x1a\n").decode(), "unknown"),
        (base64.b64encode(b"<HTML><BODY>x").decode(), "html"),
        (base64.b64encode(b"<!DocType html>").decode(), "html"),
        (base64.b64encode(b"<script>1</script>").decode(), "html"),
        (base64.b64encode(b" " * 200 + b"<html>").decode(), "unknown"),
        (base64.b64encode(b"RIFF\x00\x00\x00\x00WAVEfmt <div>").decode(), "html"),
        (base64.b64encode(b"plain text").decode(), "unknown"),
        ("abc", "unknown"),  # truncated final group
        ("\u00e9t\u00e9", "unknown"),
    ],
)
def test_detection_edges(text, kind):
    assert tolvar._detect_base64_type(text) == kind


def test_detection_only_takes_text():
    for bad in (None, b"iVBORw0KGgo=", 5):
        with pytest.raises(TypeError, match="b64"):
            tolvar._detect_base64_type(bad)


B64_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= \n-_"


@settings(max_examples=2000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.one_of(st.text(), st.text(alphabet=B64_CHARS, max_size=3000)))
def test_detection_never_raises(text):
    assert tolvar._detect_base64_type(text) in KINDS


@settings(max_examples=1000, deadline=None)
@given(st.binary(max_size=300))
def test_detection_of_any_encoded_bytes(raw):
    kind = tolvar._detect_base64_type(base64.b64encode(raw).decode())
    assert kind in KINDS
    if raw.startswith(b"\x89PNG"):
        assert kind == "png"


@pytest.fixture
def shown(monkeypatch):
    """Replace the notebook display with recorders."""
    log = []
    monkeypatch.setattr(tolvar, "display", lambda obj: log.append(obj))
    monkeypatch.setattr(tolvar, "HTML", lambda markup: ("HTML", markup))
    monkeypatch.setattr(tolvar, "Image", lambda **kw: ("Image", kw))
    return log


def image_markup(kind, clean):
    return (
        "\n"
        + " " * 16
        + '<div style="width:100%; overflow:auto;">\n'
        + " " * 18
        + '<img src="data:image/'
        + kind
        + ";base64,"
        + html.escape(clean)
        + '"\n'
        + " " * 23
        + 'style="max-width:100%; height:auto; display:block;">\n'
        + " " * 16
        + "</div>\n"
        + " " * 16
    )


def test_display_images_and_documents(shown, samples, capsys):
    wrapped = samples["gif"][:8] + "\n  " + samples["gif"][8:]
    assert tolvar.display_base64_auto(wrapped) is None
    assert shown == [("HTML", image_markup("gif", samples["gif"]))]

    shown.clear()
    tolvar.display_base64_auto(samples["html"], iframe_size=(1200, 800))
    assert shown == [
        (
            "HTML",
            "\n"
            + " " * 12
            + '<iframe src="data:text/html;base64,'
            + samples["html"]
            + '" width="1200" height="800"\n'
            + " " * 20
            + 'frameborder="0"></iframe>\n'
            + " " * 12,
        )
    ]
    tolvar.display_base64_auto(samples["html"])
    assert 'width="900" height="500"' in shown[-1][1]

    shown.clear()
    tolvar.display_base64_auto(samples["png"], use_html_img=False)
    assert shown == [("Image", {"data": base64.b64decode(samples["png"])})]
    assert capsys.readouterr().out == ""


def test_markup_escapes_the_image_text(shown):
    # Characters outside the alphabet survive the whitespace removal and are escaped.
    text = base64.b64encode(b"GIF89a....").decode() + "&<>\"'"
    assert tolvar._detect_base64_type(text) == "gif"
    tolvar.display_base64_auto(text)
    assert "&amp;&lt;&gt;&quot;&#x27;" in shown[0][1]
    assert shown[0] == ("HTML", image_markup("gif", text))


def test_html_attributes_are_escaped(shown):
    doc = base64.b64encode(b"<html><body>" + b"x" * 1600 + b"</body></html>").decode()
    tolvar.display_base64_auto(doc + '"><script>alert(document.domain)</script><x="')
    tolvar.display_base64_auto(doc, iframe_size=('1" onload="alert(1)', 5))
    assert all("<script>" not in m and '" onload="' not in m for _, m in shown)
    tolvar.display_base64_auto(doc)  # valid base64 reads the same escaped
    assert 'src="data:text/html;base64,' + doc + '" width="900" height="500"' in shown[-1][1]


def test_display_walks_lists_and_dict_values(shown, samples, capsys):
    tolvar.display_base64_auto([samples["gif"], 3, None, samples["png"], "bm90aGluZw=="])
    assert [m[1].split("data:image/")[1][:3] for m in shown] == ["gif", "png"]
    assert capsys.readouterr().out == "\u26a0\ufe0f Unknown base64 type \u2014 cannot display\n"

    shown.clear()
    tolvar.display_base64_auto({"png": samples["webp"], "gif": samples["jpeg"], "n": 1})
    assert [m[1].split("data:image/")[1][:4] for m in shown] == ["webp", "jpeg"]
    assert all("png" not in m[1][:200] for m in shown)

    shown.clear()
    tolvar.display_base64_auto((samples["png"],))
    tolvar.display_base64_auto(None)
    assert shown == []


def test_display_errors_propagate(shown, samples):
    with pytest.raises(ValueError, match="unpack"):
        tolvar.display_base64_auto([samples["html"], samples["png"]], iframe_size=(1, 2, 3))
    assert shown == []
    with pytest.raises(ValueError, match="unpack"):
        tolvar.display_base64_auto(samples["html"], iframe_size=(1,))
    with pytest.raises(TypeError, match="unpack"):
        tolvar.display_base64_auto(samples["html"], iframe_size=None)
    # The lenient detection reads only the head; the full decode is strict.
    data = base64.b64encode(base64.b64decode(samples["png"]) + bytes(3000)).decode().rstrip("=")
    truncated = data[: 4 * ((len(data) - 1) // 4) + 1]
    assert tolvar._detect_base64_type(truncated) == "png"
    with pytest.raises(ValueError):  # binascii.Error
        tolvar.display_base64_auto(truncated, use_html_img=False)


def test_display_uses_the_module_detector(shown, monkeypatch):
    monkeypatch.setattr(tolvar, "_detect_base64_type", lambda b64: "webp")
    tolvar.display_base64_auto("anything at all")
    assert shown == [("HTML", image_markup("webp", "anythingatall"))]
