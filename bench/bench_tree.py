"""Time the tree printer on an AnnData whose uns is very wide and very deep.

Compares orvalen.tolvar.show_anndata_tree with a straightforward pure-Python
rendering of the same printer (written here), checks that both give the same
text, that no line lies deeper than max_depth, and reports time and memory.

    python -m bench.bench_tree
"""

import gc
import resource
import sys
import time
import tracemalloc
import warnings

import anndata as ad
import numpy as np
import pandas as pd

from orvalen import tolvar

LIMITED = [
    "gene_to_band_map",
    "Celltype_marker_DB",
    "Pathways_DB",
    "cnv",
    "DEG_grouping_vars",
    "DEG_stat",
    "DEG_vs_ref_stat",
    "run summary",
    "log",
    "quillmark_summary",
    "cnv_neighbors_info",
    "Zenta_summary",
    "lut_sample_to_cond",
    "analysis_parameters",
    "usr_param",
    "quillmark_results",
    "Zenta_result",
]


# --- straightforward rendering --------------------------------------------


def py_info(value, key_name=None, level_of_value=None, max_depth=3, n_to_show=3, limited_keys=None):
    if key_name and key_name in limited_keys:
        return ""
    info = f"({type(value).__name__})"
    if isinstance(value, pd.DataFrame):
        cols = value.columns.tolist()
        if len(cols) > n_to_show:
            return f"DataFrame {value.shape}, cols=[" + ", ".join(cols[:n_to_show] + ["..."]) + " ])"
        return f"DataFrame {value.shape}, cols={cols})"
    if hasattr(value, "shape") and hasattr(value, "dtype"):
        if len(value.shape) == 0 or (len(value.shape) == 1 and value.shape[0] < 5):
            return str(value)
        return f"array (shape={value.shape}, dtype={value.dtype})"
    if isinstance(value, dict):
        if level_of_value is None or level_of_value < max_depth:
            return "(dict)"
        keys = list(value.keys())
        if not keys:
            return "(dict) (empty dictionary at max depth)"
        if len(keys) > n_to_show:
            return "(dict) Keys=[" + ", ".join(str(k) for k in keys[:n_to_show]) + ", ... ]"
        return "(dict) Keys=[" + ", ".join(str(k) for k in keys) + "]"
    if isinstance(value, str):
        return "(str)" if len(value) > 79 else f"'{value}'"
    if isinstance(value, (int, float, bool)):
        return str(value)
    if value is None:
        return "None"
    return info


def py_listing(obj, depth, prefix, max_depth, n_to_show, limited, ss):
    if depth >= max_depth or not (isinstance(obj, dict) or hasattr(obj, "keys")):
        return ss
    if not obj:
        return ss + prefix + "└── (empty)\n"
    keys = list(obj.keys())
    width = max(len(str(k)) for k in keys)
    for i, key in enumerate(keys):
        last = all(k in limited for k in keys[i + 1 :])
        value = obj[key]
        info = py_info(value, key, depth + 1, max_depth, n_to_show, limited)
        if key in limited:
            continue
        ss += prefix + ("└── " if last else "├── ") + str(key).ljust(width) + ": " + info + "\n"
        if depth + 1 < max_depth and isinstance(value, (dict, pd.DataFrame)):
            ss = py_tree(value, max_depth, n_to_show, limited, depth + 1, prefix + ("     " if last else "│    "), ss)
    return ss


def py_tree(obj, max_depth=3, n_to_show=3, limited=None, depth=0, prefix="", ss=""):
    limited = LIMITED if limited is None else limited
    if depth == 0 and isinstance(obj, ad.AnnData):
        ss += f"AnnData object with n_obs × n_vars = {obj.n_obs} × {obj.n_vars}\n"
        names = ["X", "obs", "var", "obsm", "obsp", "varm", "varp", "uns"]
        for i, name in enumerate(names):
            last = i == len(names) - 1
            value = getattr(obj, name)
            ss += prefix + ("└── " if last else "├── ") + name + ": "
            ss += py_info(value, name, 1, max_depth, n_to_show, limited) + "\n"
            if name in ("uns", "obsm", "obsp", "varm", "varp") and depth + 1 < max_depth:
                ss = py_listing(
                    value, depth + 1, prefix + ("     " if last else "│    "), max_depth, n_to_show, limited, ss
                )
        return ss
    if isinstance(obj, dict):
        if depth == 0:
            ss += "Dictionary Structure (top-level):\n"
        return py_listing(obj, depth, prefix, max_depth, n_to_show, limited, ss)
    return ss


# --- data -----------------------------------------------------------------


def make_adata(n_keys=10_000, nesting=100, all_dicts=False):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        a = ad.AnnData(np.zeros((50, 20), dtype=np.float32))
    a.obsm["X_pca"] = np.zeros((50, 5))
    deep = {"leaf": 1}
    for level in range(nesting):
        deep = {f"level_{nesting - level}": deep, "n": level}
    kinds = [
        lambda i: i * 0.5,
        lambda i: f"value {i}",
        lambda i: np.arange(i % 7),
        lambda i: {"a": i, "b": {"c": i, "d": [i]}, "log": 0},
        lambda i: "x" * (70 + i % 20),
    ]
    for i in range(n_keys):
        a.uns[f"key_{i}"] = kinds[3](i) if all_dicts else kinds[i % 5](i)
        if i % 1000 == 0:
            a.uns[f"log_{i}"] = {"hidden": True}
    a.uns["deep"] = deep
    a.uns["log"] = {"run": "hidden"}
    return a


def deepest(text):
    # Depth of a line = number of 5-character prefix units before its connector.
    depth = 0
    for line in text.splitlines()[1:]:
        cut = min(p for p in (line.find("├── "), line.find("└── ")) if p >= 0)
        depth = max(depth, cut // 5 + 1)
    return depth


def measure(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        t0 = time.perf_counter()
        out = fn()
        best = min(best, time.perf_counter() - t0)
    gc.collect()
    tracemalloc.start()
    fn()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return out, best, peak


def main():
    print(f"python {sys.version.split()[0]}")
    cases = [
        ("10k mixed keys + 100-level chain, max_depth=3", make_adata(), 3),
        ("10k mixed keys + 100-level chain, max_depth=150", make_adata(), 150),
        ("10k nested-dict keys, max_depth=3", make_adata(all_dicts=True), 3),
    ]
    for name, adata, max_depth in cases:
        ours, t_ours, m_ours = measure(lambda: tolvar.show_anndata_tree(adata, max_depth=max_depth), 5)
        ref, t_ref, m_ref = measure(lambda: py_tree(adata, max_depth=max_depth), 3)
        assert ours == ref, "texts differ"
        depth = deepest(ours)
        assert depth <= max_depth, (depth, max_depth)
        print(f"{name}: {len(ours.splitlines())} lines, deepest line at depth {depth}")
        print(f"  orvalen {t_ours * 1e3:8.1f} ms   peak traced {m_ours / 1e6:6.1f} MB")
        print(f"  python  {t_ref * 1e3:8.1f} ms   peak traced {m_ref / 1e6:6.1f} MB   ratio {t_ref / t_ours:5.1f}x")
    print(f"max RSS {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1e3:.0f} MB")


if __name__ == "__main__":
    main()
