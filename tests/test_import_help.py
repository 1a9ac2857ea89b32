"""Importing is cheap (libraries load on first use) and help() documents every function."""

import ast
import importlib
import inspect
import json
import os
import subprocess
import sys
import textwrap

import pytest

# name -> module that must not be loaded until the name is read
HEAVY = {
    "deg": {"sm": "statsmodels.api", "plt": "matplotlib.pyplot", "stats": "scipy.stats", "pd": "pandas"},
    "tolvar": {
        "met": "sklearn.metrics",
        "plt": "matplotlib.pyplot",
        "anndata": "anndata",
        "display": "IPython.display",
        "PCA": "sklearn.decomposition",
        "pd": "pandas",
    },
    "ingrath": {"anndata": "anndata", "gdown": "gdown"},
}

CHILD = textwrap.dedent(
    """
    import importlib, json, sys
    mod, heavy = sys.argv[1], json.loads(sys.argv[2])
    m = importlib.import_module("orvalen." + mod)
    out = {"loaded_at_import": sorted(lib for lib in heavy.values() if lib in sys.modules)}
    first = list(vars(m))
    out["listed"] = all(name in dir(m) for name in heavy)
    name, lib = next(iter(heavy.items()))
    value = getattr(m, name)
    target = importlib.import_module(lib)
    out["same"] = value is (target if name not in ("display", "PCA") else getattr(target, name))
    out["in_dict"] = name in vars(m)
    for n in dir(m):
        getattr(m, n)
    out["order"] = list(vars(m))
    out["first"] = first
    print("@@" + json.dumps(out))
    """
)


def run_child(mod, heavy):
    env = dict(os.environ, MPLBACKEND="Agg")
    proc = subprocess.run(
        [sys.executable, "-c", CHILD, mod, json.dumps(heavy)], capture_output=True, text=True, env=env, timeout=300
    )
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout.splitlines()[-1][2:])


# The names each module binds before its first function, in load order.
LEADING = {
    "deg": [
        "pd",
        "np",
        "sm",
        "multipletests",
        "ttest_ind",
        "stats",
        "plt",
        "anndata",
        "ADJUST_TEXT",
        "adjust_text",
        "simple_DEG_pair",
    ],
    "tolvar": [
        "time",
        "os",
        "copy",
        "datetime",
        "math",
        "random",
        "warnings",
        "subprocess",
        "sys",
        "np",
        "pd",
        "plt",
        "mpl",
        "met",
        "stats",
        "signal",
        "cm",
        "colormaps",
        "figure",
        "Rectangle",
        "cluster",
        "mixture",
        "PCA",
        "IncrementalPCA",
        "TruncatedSVD",
        "files",
        "SCANVPY",
        "sc",
        "anndata",
        "STATANNOT",
        "Annotator",
        "SEABORN",
        "sns",
        "go",
        "base64",
        "_html",
        "display",
        "HTML",
        "Image",
        "_detect_base64_type",
    ],
    "ingrath": ["gdown", "gzip", "shutil", "os", "tarfile", "anndata", "zipfile", "download_from_google_drive"],
}


@pytest.mark.parametrize("mod", sorted(HEAVY))
def test_libraries_load_on_first_use(mod):
    out = run_child(mod, HEAVY[mod])
    assert out["loaded_at_import"] == []
    assert out["listed"] and out["same"] and out["in_dict"]
    # Once read, every name sits where loading everything at once put it.
    names = [n for n in out["order"] if not n.startswith("__")]
    lead = [n for n in LEADING[mod] if n in names]  # optional libraries may be absent
    assert names[: len(lead)] == lead
    assert [n for n in out["first"] if n in names] == [n for n in names if n in out["first"]]


def test_rebinding_before_first_use_wins():
    code = textwrap.dedent("""
        import types
        from orvalen import tolvar
        tolvar.pd = types.SimpleNamespace(DataFrame=lambda *a, **k: "fake")
        print(tolvar.get_population(["p1"], ["T cell"]))
    """)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "('fake', 'fake')"


def test_unknown_name_is_an_attribute_error():
    from orvalen import tolvar

    with pytest.raises(AttributeError, match="has no attribute 'no_such_name'"):
        tolvar.no_such_name
    assert not hasattr(tolvar, "no_such_name")


@pytest.mark.parametrize("mod", sorted(HEAVY))
def test_submodules_are_lazy_package_attributes(mod):
    code = textwrap.dedent(f"""
        import sys, orvalen
        assert "orvalen.{mod}" not in sys.modules
        assert "{mod}" in dir(orvalen)
        assert orvalen.{mod} is sys.modules["orvalen.{mod}"]
        try:
            orvalen.no_such_module
        except AttributeError as e:
            print(e)
    """)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines()[-1] == "module 'orvalen' has no attribute 'no_such_module'"


# --- help -----------------------------------------------------------------------


def _public_functions():
    from orvalen import deg, ingrath, tolvar

    for module in (deg, tolvar, ingrath):
        for name in dir(module):
            fn = getattr(module, name)
            if not name.startswith("_") and inspect.isbuiltin(fn) and fn.__module__ == module.__name__:
                yield module, name, fn


def _section(doc, title):
    """Lines of one numpydoc section (title underlined with dashes)."""
    lines = doc.splitlines()
    for i, line in enumerate(lines[:-1]):
        if line.strip() == title and set(lines[i + 1].strip()) == {"-"}:
            body = []
            for later, nxt in zip(lines[i + 2 :], lines[i + 3 :] + [""]):
                if later.strip() and set(nxt.strip()) == {"-"}:
                    break
                body.append(later)
            return body
    return None


def _documented_names(section):
    names = set()
    for line in section or []:
        if line and not line[0].isspace():
            names.update(n.strip() for n in line.split(" : ")[0].split(","))
    return names


def test_every_parameter_is_documented():
    missing = []
    for module, name, fn in _public_functions():
        doc = fn.__doc__
        sig = ast.parse("def %s: pass" % doc.splitlines()[0]).body[0].args
        params = [a.arg for a in sig.args]
        undocumented = set(params) - _documented_names(_section(doc, "Parameters"))
        if undocumented:
            missing.append("%s.%s: %s" % (module.__name__, name, sorted(undocumented)))
        if _section(doc, "Returns") is None or _section(doc, "Examples") is None:
            missing.append("%s.%s (Returns/Examples)" % (module.__name__, name))
    assert missing == []


def test_section_reader_sees_a_missing_parameter():
    doc = "f(a, b)\n\nParameters\n----------\na, c : int\n    x\n\nReturns\n-------\nint\n"
    assert _documented_names(_section(doc, "Parameters")) == {"a", "c"}
    assert _section(doc, "Raises") is None


@pytest.mark.parametrize("module_name", ["deg", "tolvar", "ingrath"])
def test_signatures_for_inspect_and_help(module_name):
    # What notebooks show (IPython's ? and shift-tab read inspect.signature):
    # the parameters and defaults of the line that starts each docstring.
    import pydoc

    module = importlib.import_module("orvalen." + module_name)
    wrong = []
    for _, name, fn in (f for f in _public_functions() if f[0] is module):
        args = ast.parse("def %s: pass" % fn.__doc__.splitlines()[0]).body[0].args
        defaults = [inspect.Parameter.empty] * (len(args.args) - len(args.defaults))
        expected = [(a.arg, d) for a, d in zip(args.args, defaults + [ast.literal_eval(d) for d in args.defaults])]
        sig = inspect.signature(fn)
        if [(p.name, p.default) for p in sig.parameters.values()] != expected:
            wrong.append("%s: %s" % (name, sig))
        # help()'s header, up to the docstring's own first line (3.13 wraps a long one).
        text = pydoc.render_doc(fn, renderer=pydoc.plaintext).split("\n\n", 1)[1]
        header = text[: text.index("\n    " + fn.__name__ + "(")]
        if not "".join(header.split()).endswith("".join((fn.__name__ + str(sig)).split())):
            wrong.append("%s: help() header" % name)
    assert wrong == []


def test_modules_have_docstrings():
    from orvalen import deg, ingrath, tolvar

    for module in (deg, tolvar, ingrath):
        assert module.__doc__ and len(module.__doc__.splitlines()) > 5
