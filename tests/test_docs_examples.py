"""The examples of the user guide run as written.

Each page's ```python blocks run in order in one namespace, in a scratch
working directory, and the values and printed lines that the pages quote
are checked. Blocks that download (the loaders and
download_from_google_drive) need the hosting service and are left out.
"""

import ast
import contextlib
import io
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


def _run_and_check(block, namespace, where):
    """Runs a block statement by statement; what the page says a statement
    shows must be what the user sees: a trailing comment that starts like a
    value is the repr of the expression, a comment block right below a
    statement that printed is its first printed lines."""
    lines = block.splitlines()
    for node in ast.parse(block).body:
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            if isinstance(node, ast.Expr):
                value = eval(compile(ast.Expression(node.value), where, "eval"), namespace)
            else:
                exec(compile(ast.Module([node], []), where, "exec"), namespace)
        last = lines[node.end_lineno - 1]
        trailing = last.split("  # ", 1)[1].strip() if "  # " in last else ""
        if isinstance(node, ast.Expr) and trailing[:1] in ("[", "{", "(", "'"):
            assert repr(value) == trailing, "%s: %s" % (where, last)
        below = []
        for line in lines[node.end_lineno :]:
            if not line.startswith("# "):
                break
            below.append(line[2:])
        printed = out.getvalue().splitlines()
        if printed and below and not below[0].startswith("("):
            assert printed[: len(below)] == below, "%s: %s" % (where, last)


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
                _run_and_check(block, namespace, str(DOCS / page))
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
    assert (
        tolvar.split_text("The quick brown fox jumps over the lazy dog")
        == "The quick brown fox \njumps over the lazy \ndog"
    )
    assert tolvar.show_anndata_tree({"a": 1, "bb": {"c": "x"}}) == (
        "Dictionary Structure (top-level):\n├── a : 1\n└── bb: (dict)\n     └── c: 'x'\n"
    )
