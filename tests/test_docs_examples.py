"""The examples of the user guide run as written.

Each page's ```python blocks run in order in one namespace, in a scratch
working directory. Blocks that download (the loaders and
download_from_google_drive) need the hosting service and are left out.
"""

import re
import warnings
from pathlib import Path

import pytest

DOCS = Path(__file__).resolve().parents[1] / "docs"
PAGES = ("index.md", "deg.md", "tolvar.md", "ingrath.md")


def _blocks(page):
    text = (DOCS / page).read_text(encoding="utf-8")
    blocks = re.findall(r"```python\n(.*?)```", text, re.S)
    return [b for b in blocks if "ingrath.load" not in b and "download_from_google_drive(" not in b]


@pytest.mark.parametrize("page", PAGES)
def test_page_examples_run(page, tmp_path, monkeypatch):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    monkeypatch.chdir(tmp_path)
    namespace = {}
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for block in _blocks(page):
                exec(compile(block, str(DOCS / page), "exec"), namespace)
    finally:
        plt.close("all")


def test_documented_results_hold(tmp_path, monkeypatch):
    # The results quoted in comments of the guide.
    monkeypatch.chdir(tmp_path)
    namespace = {}
    for block in [b for b in _blocks("tolvar.md") if "def cci_table" in b]:
        exec(compile(block, "tolvar.md", "exec"), namespace)
    tolvar = namespace["tolvar"]
    means = tolvar.cci_get_means(namespace["cci"])
    diff = tolvar.cci_get_diff_interactions(means, namespace["groups"], ref_group="Normal")
    assert list(diff.columns) == ["Tumor_vs_Normal"]
    assert list(diff.index) == ["CXCL12_CXCR4--Fibroblast|T cell"]
    assert tolvar.split_text("The quick brown fox jumps over the lazy dog") == \
        "The quick brown fox \njumps over the lazy \ndog"
    assert tolvar.show_anndata_tree({"a": 1, "bb": {"c": "x"}}) == (
        "Dictionary Structure (top-level):\n├── a : 1\n└── bb: (dict)\n     └── c: 'x'\n")
