"""What orvalen.tolvar binds when it loads, and its second public names."""

import inspect
import json
import os
import subprocess
import sys
import textwrap

import pytest

from orvalen import tolvar

# Runs in a fresh interpreter: optionally hides some libraries (or plants
# stand-ins), imports the module, then reports on a marked last line.
CHILD = textwrap.dedent(
    """
    import importlib.abc, json, sys, types
    BLOCK = set(sys.argv[1].split(",")) - {""}
    FAIL_WITH = sys.argv[2]

    class Hide(importlib.abc.MetaPathFinder):
        def find_spec(self, name, path, target=None):
            if name.split(".")[0] in BLOCK:
                if FAIL_WITH == "runtime":
                    raise RuntimeError("broken " + name)
                raise ModuleNotFoundError("No module named %r" % name, name=name)
            return None

    sys.meta_path.insert(0, Hide())
    if sys.argv[3] == "stub-annotator":
        # statannotations itself needs seaborn; a stand-in isolates seaborn
        pkg = types.ModuleType("statannotations")
        sub = types.ModuleType("statannotations.Annotator")
        sub.Annotator = object
        sys.modules.update({"statannotations": pkg, "statannotations.Annotator": sub})
    elif sys.argv[3] == "annotator-missing":
        pkg = types.ModuleType("statannotations")
        sys.modules.update({"statannotations": pkg, "statannotations.Annotator": types.ModuleType("x")})
    import orvalen.tolvar as t
    names = ["SCANVPY", "STATANNOT", "SEABORN", "sc", "anndata", "Annotator", "sns", "go", "display", "files"]
    print("@@" + json.dumps({n: (getattr(t, n) if isinstance(getattr(t, n, None), bool) else hasattr(t, n))
                             for n in names}))
    """
)


def load(tmp_path, block=(), fail_with="import", setup="none"):
    env = dict(os.environ, MPLBACKEND="Agg")
    proc = subprocess.run(
        [sys.executable, "-c", CHILD, ",".join(block), fail_with, setup],
        cwd=tmp_path,
        env=env,
        capture_output=True,
        text=True,
        timeout=300,
    )
    return proc


def split(proc):
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert lines[-1].startswith("@@")
    return lines[:-1], json.loads(lines[-1][2:])


def have(name):
    try:
        __import__(name)
    except ImportError:
        return False
    return True


def test_load_with_everything_present_is_silent(tmp_path):
    missing = [n for n in ("scanpy", "statannotations", "seaborn", "plotly") if not have(n)]
    if missing:
        pytest.skip("optional libraries not installed in this environment: " + ", ".join(missing))
    printed, names = split(load(tmp_path))
    assert printed == []
    assert names["SCANVPY"] is names["STATANNOT"] is names["SEABORN"] is True
    assert all(names[n] for n in ("sc", "anndata", "Annotator", "sns", "go", "display", "files"))


@pytest.mark.parametrize(
    "block, setup, flag, unbound, lines",
    [
        (["scanpy"], "none", "SCANVPY", "sc", ["WARNING: scanpy not installed.", "WARNING: Cannot install scanpy."]),
        (
            ["statannotations"],
            "none",
            "STATANNOT",
            "Annotator",
            ["WARNING: statannotations not installed or not available. ", "WARNING: Cannot install statannotations."],
        ),
        (
            ["seaborn"],
            "stub-annotator",
            "SEABORN",
            "sns",
            ["WARNING: seaborn not installed or not available. ", "WARNING: Cannot install seaborn."],
        ),
        (["plotly"], "none", None, "go", ["WARNING: plotly not installed.", "WARNING: Cannot install plotly."]),
        (
            [],
            "annotator-missing",
            "STATANNOT",
            "Annotator",
            ["WARNING: statannotations not installed or not available. ", "WARNING: Cannot install statannotations."],
        ),
    ],
)
def test_one_optional_library_missing(tmp_path, block, setup, flag, unbound, lines):
    printed, names = split(load(tmp_path, block, setup=setup))
    assert printed == lines
    if flag:
        assert names[flag] is False
    assert names[unbound] is False
    others = {"SCANVPY", "STATANNOT", "SEABORN"} - {flag}
    assert all(
        names[o] is True
        for o in others
        if have({"SCANVPY": "scanpy", "STATANNOT": "statannotations", "SEABORN": "seaborn"}[o])
    )
    assert names["anndata"] and names["display"]  # bound regardless of scanpy


def test_other_errors_abort_the_load(tmp_path):
    proc = load(tmp_path, ["plotly"], fail_with="runtime")
    assert proc.returncode != 0
    assert "RuntimeError: broken plotly" in proc.stderr
    proc = load(tmp_path, ["IPython"])
    assert proc.returncode != 0 and "ModuleNotFoundError" in proc.stderr


def test_show_tree_alias_and_signatures():
    assert tolvar.show_tree is tolvar.show_anndata_tree
    assert str(inspect.signature(tolvar.cci_get_means)) == (
        "(cci_df_dct, cci_idx_lst=None, cells=[], genes=[], pval_cutoff=0.05)"
    )
    assert str(inspect.signature(tolvar.test_group_diff)) == (
        "(df_sample_by_items, sample_group_map, ref_group=None, pval_cutoff=0.05)"
    )


@pytest.mark.parametrize(
    "alias, target, args",
    [
        ("get_cci_means", "cci_get_means", ({"s": 1},)),
        ("test_group_diff", "cci_get_diff_interactions", ("df", {"s": "A"})),
        ("get_cci_ni_mat", "cci_get_ni_mat", ({"s": 1},)),
    ],
)
def test_aliases_follow_rebinding(monkeypatch, alias, target, args):
    seen = []

    def stand_in(*a, **kw):
        seen.append((a, kw))
        return "from stand-in"

    monkeypatch.setattr(tolvar, target, stand_in)
    assert getattr(tolvar, alias)(*args) == "from stand-in"
    a, kw = seen[0]
    assert kw == {} and a[: len(args)] == args
    if alias == "get_cci_means":
        assert a[1:] == (None, [], [], 0.05)
        getattr(tolvar, alias)(*args)
        assert seen[1][0][2] is a[2]  # one default list shared by every call
    elif alias == "test_group_diff":
        assert a[2:] == (None, 0.05)
    else:
        assert a[1:] == (True,)
