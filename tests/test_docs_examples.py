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


def test_cluster_example_runs_as_a_script(tmp_path):
    # Worker processes of a local cluster import the script again: the guide's
    # snippet must hold up as a file run with python, not only in a notebook.
    pytest.importorskip("distributed")
    if not hasattr(pytest.importorskip("anndata.experimental"), "read_elem_lazy"):
        pytest.skip("the example reads X with read_elem_lazy, from anndata 0.11 on")
    import subprocess
    import sys

    import anndata as ad
    import numpy as np
    import pandas as pd
    import scipy.sparse as sp

    from orvalen import deg, tolvar

    rng = np.random.default_rng(3)
    x = sp.csr_matrix(rng.poisson(0.7, (60, 4)).astype(np.float32))
    obs = pd.DataFrame({"sample": rng.choice(["s1", "s2", "s3"], 60)}, index=[f"c{i}" for i in range(60)])
    obs["condition"] = obs["sample"].map({"s1": "A", "s2": "A", "s3": "B"})
    adata = ad.AnnData(x, obs=obs, var=pd.DataFrame(index=["CD3E", "MS4A1", "G3", "G4"]))
    adata.write_h5ad(tmp_path / "atlas.h5ad")

    text = (DOCS / "scaling.md").read_text(encoding="utf-8")
    (block,) = [b for b in re.findall(r"```python\n(.*?)```", text, re.S) if "Client(" in b]
    local = 'Client(n_workers=1, threads_per_worker=1, host="127.0.0.1", dashboard_address=None)'
    script = block.replace('Client("tcp://scheduler:8786")', local)
    assert script != block
    script += '    detected.to_csv("detected.csv")\n    means.to_csv("means.csv")\n    client.close()\n'
    (tmp_path / "cluster_example.py").write_text(script, encoding="utf-8")
    proc = subprocess.run(
        [sys.executable, "cluster_example.py"], cwd=tmp_path, capture_output=True, text=True, timeout=240
    )
    assert proc.returncode == 0, proc.stderr
    for name, want in [
        ("detected", tolvar.get_gene_expression(adata, items_to_plot=["CD3E", "MS4A1"])),
        ("means", deg.get_gene_expression_mean(adata, nz_pct=False)),
    ]:
        want.to_csv(tmp_path / "want.csv")
        pd.testing.assert_frame_equal(
            pd.read_csv(tmp_path / f"{name}.csv", index_col=0), pd.read_csv(tmp_path / "want.csv", index_col=0)
        )
