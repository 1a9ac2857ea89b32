"""The shipped type stubs agree with the live extension modules.

A live function's signature is the first line of its __doc__; the stub's is its
`def` in the .pyi next to the installed module. Names, parameter kinds, order
and defaults must match; annotations may differ (stubs are more precise).
"""

import ast
import importlib
from pathlib import Path

import pytest

import orvalen

MODULES = ("deg", "tolvar", "ingrath")
PKG = Path(orvalen.__file__).resolve().parent


def _stub(mod):
    return ast.parse((PKG / ("%s.pyi" % mod)).read_text(encoding="utf-8"))


def _stub_entries(mod):
    """(functions, variables, aliases) of a stub: name -> def node, names, alias -> target."""
    funcs, variables, aliases = {}, [], {}
    for node in _stub(mod).body:
        if isinstance(node, ast.FunctionDef):
            funcs[node.name] = node
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            variables.append(node.target.id)
        elif isinstance(node, ast.Assign) and isinstance(node.value, ast.Name):
            for target in node.targets:
                if node.value.id in funcs:
                    aliases[target.id] = node.value.id
    return funcs, variables, aliases


def _default(node):
    if node is None:
        return "<required>"
    try:
        return repr(ast.literal_eval(node))
    except ValueError:
        return ast.dump(node)


def _params(fn):
    """Parameter list as (kind, name, default) triples."""
    a = fn.args
    positional = list(a.posonlyargs) + list(a.args)
    defaults = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    out = [
        ("positional-only" if i < len(a.posonlyargs) else "positional", p.arg, _default(d))
        for i, (p, d) in enumerate(zip(positional, defaults))
    ]
    if a.vararg:
        out.append(("*args", a.vararg.arg, None))
    out += [("keyword-only", p.arg, _default(d)) for p, d in zip(a.kwonlyargs, a.kw_defaults)]
    if a.kwarg:
        out.append(("**kwargs", a.kwarg.arg, None))
    return out


def _live_module(mod):
    return importlib.import_module("orvalen.%s" % mod)


def _live(mod, name):
    module = _live_module(mod)
    if not hasattr(module, name):
        pytest.fail("orvalen.%s has no attribute %r, listed in %s.pyi" % (mod, name, mod))
    return getattr(module, name)


def _live_signature(fn):
    first = (fn.__doc__ or "").splitlines()[0] if fn.__doc__ else ""
    assert first.startswith(fn.__name__ + "("), "docstring of %s does not start with its signature" % fn.__name__
    return ast.parse("def %s: pass" % first).body[0]


def _is_extension_function(obj):
    # nanobind functions; the modules define no Python-level functions.
    return callable(obj) and type(obj).__name__ == "nb_func"


FUNCTION_CASES = [(m, n) for m in MODULES for n in _stub_entries(m)[0]]
VARIABLE_CASES = [(m, n) for m in MODULES for n in _stub_entries(m)[1]]
ALIAS_CASES = [(m, a, t) for m in MODULES for a, t in _stub_entries(m)[2].items()]


@pytest.mark.parametrize("mod", MODULES)
def test_stubs_ship_with_the_package(mod):
    assert (PKG / ("%s.pyi" % mod)).is_file()
    assert (PKG / "py.typed").is_file()


@pytest.mark.parametrize("mod,name", FUNCTION_CASES, ids=["%s.%s" % c for c in FUNCTION_CASES])
def test_function_matches_stub(mod, name):
    fn = _live(mod, name)
    assert _is_extension_function(fn), "%s.%s is not a module function" % (mod, name)
    stub = _stub_entries(mod)[0][name]
    assert _params(_live_signature(fn)) == _params(stub)


@pytest.mark.parametrize("mod,name", VARIABLE_CASES, ids=["%s.%s" % c for c in VARIABLE_CASES])
def test_variable_exists(mod, name):
    value = _live(mod, name)
    assert not _is_extension_function(value)


@pytest.mark.parametrize("mod,alias,target", ALIAS_CASES, ids=["%s.%s" % c[:2] for c in ALIAS_CASES])
def test_alias_is_the_same_object(mod, alias, target):
    assert _live(mod, alias) is _live(mod, target)


@pytest.mark.parametrize("mod", MODULES)
def test_every_live_function_has_a_stub(mod):
    funcs, _, aliases = _stub_entries(mod)
    module = _live_module(mod)
    # __getattr__ and __dir__ serve the names bound on first use; not API.
    live = [n for n in dir(module) if not n.startswith("__") and _is_extension_function(getattr(module, n))]
    missing = [n for n in live if n not in funcs and n not in aliases]
    assert missing == [], "functions of orvalen.%s without a stub: %s" % (mod, missing)


def test_signature_comparison_sees_a_changed_default():
    # The comparison itself must notice what it is there to notice.
    live = ast.parse("def f(a, b=[], *, c=(6, 4)): pass").body[0]
    assert _params(live) == _params(ast.parse("def f(a, b: list = [], *, c=(6, 4)) -> None: ...").body[0])
    assert _params(live) != _params(ast.parse("def f(a, b=None, *, c=(6, 4)): ...").body[0])
    assert _params(live) != _params(ast.parse("def f(a, bb=[], *, c=(6, 4)): ...").body[0])
    assert _params(live) != _params(ast.parse("def f(a, b=[], c=(6, 4)): ...").body[0])
