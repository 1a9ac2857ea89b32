"""Hostile and careless inputs to the toolbox: self-holding or very deep
dictionaries, labels that rewrite their own list, script in a base64 text,
infinite flags, missing labels of every float type, one cell per cluster and
sample, repeated gene names and wrong argument types."""

import base64
import os
import subprocess
import sys
import textwrap

import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import tolvar

pytestmark = pytest.mark.filterwarnings("ignore:Variable names are not unique")


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


class Rewriting:
    """A label whose hashing empties the list that holds it."""

    def __init__(self, text, owner):
        self.text, self.owner = text, owner

    def __hash__(self):
        self.owner.clear()
        return hash(self.text)

    def __eq__(self, other):
        return isinstance(other, Rewriting) and other.text == self.text

    def __lt__(self, other):
        return self.text < other.text


def test_labels_that_change_their_list_while_hashed():
    labels = []
    labels.extend([Rewriting("a", labels), Rewriting("b", labels)] * 50)
    cnt, _ = tolvar.get_population(labels, ["x"] * 100, [])
    assert [r.text for r in cnt.index] == ["a", "b"] and cnt["x"].tolist() == [50, 50]


@pytest.mark.parametrize(
    "missing", [np.float32("nan"), np.float16("nan"), np.datetime64("NaT", "ns"), pd.NaT, pd.NA], ids=repr
)
def test_missing_labels_of_any_kind_are_left_out(missing):
    labels = np.array([missing, missing, "p1"], dtype=object)
    cnt, _ = tolvar.get_population(labels, ["a", "b", "c"], [])
    assert list(cnt.index) == ["p1"] and cnt.to_numpy().tolist() == [[1]]


def test_html_attributes_are_escaped(monkeypatch):
    shown = []
    monkeypatch.setattr(tolvar, "display", shown.append)
    monkeypatch.setattr(tolvar, "HTML", lambda markup: markup)
    doc = base64.b64encode(b"<html><body>" + b"x" * 1600 + b"</body></html>").decode()
    tolvar.display_base64_auto(doc + '"><script>alert(document.domain)</script><x="')
    tolvar.display_base64_auto(doc, iframe_size=('1" onload="alert(1)', 5))
    assert all("<script>" not in m and '" onload="' not in m for m in shown)
    tolvar.display_base64_auto(doc)  # valid base64 reads the same escaped
    assert 'src="data:text/html;base64,' + doc + '" width="900" height="500"' in shown[-1]


def test_infinite_reference_flag_names_the_column():
    obs = pd.DataFrame(
        {"sample": ["s1", "s2", "s1"], "cnv_cluster": ["c1", "c1", "c2"], "ploidy_dec": ["Aneuploid"] * 3},
        index=["a", "b", "c"],
    )
    adata = ad.AnnData(np.ones((3, 1)), obs=obs.assign(cnv_ref_ind=[np.inf, 0.0, 1.0]))
    with pytest.raises(ValueError, match="'cnv_ref_ind'"):
        tolvar.compute_sample_div_index(adata)
    assert "sample_diversity_index" not in adata.obs


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="address-space limit")
def test_diversity_of_one_cell_per_cluster_and_sample_fits_in_little_memory():
    # A dense clusters x samples table of 15,000 x 15,000 would need 1.8 GB.
    script = textwrap.dedent(
        """
        import resource
        import anndata as ad, numpy as np, pandas as pd
        from orvalen import tolvar
        n = 15000
        obs = pd.DataFrame({"sample": np.arange(n).astype(str), "cnv_cluster": np.arange(n).astype(str),
                            "ploidy_dec": "Aneuploid", "cnv_ref_ind": 0}, index=np.arange(n).astype(str))
        adata = ad.AnnData(np.zeros((n, 1), dtype=np.float32), obs=obs)
        size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + 600 * 2**20, resource.RLIM_INFINITY))
        df = tolvar.compute_sample_div_index(adata)
        assert df["N_samples"].eq(1).all() and df["sample_diversity_index"].eq(0).all()
        """
    )
    env = dict(os.environ, OMP_NUM_THREADS="1", OPENBLAS_NUM_THREADS="1")
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env)
    assert run.returncode == 0, run.stderr[-2000:]


@pytest.fixture
def repeated_genes():
    obs = pd.DataFrame({"sample": ["A", "B"], "condition": ["x", "y"]}, index=["c1", "c2"])
    x = np.array([[1, 0, 2], [0, 3, 0]], dtype=np.float32)
    return ad.AnnData(x, obs=obs, var=pd.DataFrame(index=["GENE1", "GENE1", "CD3E"]))


def test_repeated_gene_names_and_a_generator_of_genes(repeated_genes):
    got = tolvar.get_gene_expression(repeated_genes, items_to_plot=(g for g in ["CD3E"]))
    assert list(got.columns) == ["CD3E"] and got["CD3E"].tolist() == [1.0, 0.0]
    with pytest.raises(ValueError, match="'GENE1'"):
        tolvar.get_gene_expression(repeated_genes, items_to_plot=["CD3E", "GENE1"])
    with pytest.raises(KeyError, match="NOPE"):
        tolvar.get_gene_expression(repeated_genes, items_to_plot=["NOPE"])


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda a: tolvar.get_gene_expression(a.to_df()), TypeError, "adata must be an AnnData.*got DataFrame"),
        (lambda a: tolvar.cci_get_means(a), TypeError, "cci_df_dct must be a dictionary.*got AnnData"),
        (lambda a: tolvar.cci_get_df_to_plot(a), AttributeError, "dictionary of CCI result tables.*'keys'"),
        (lambda a: tolvar.pca_subsample(np.ones((20, 5)), 2, 10.5), TypeError, "N_cells_max_for_pca.*10.5"),
    ],
    ids=["get_gene_expression", "cci_get_means", "cci_get_df_to_plot", "pca_subsample"],
)
def test_wrong_argument_types_say_what_is_expected(repeated_genes, call, error, message):
    with pytest.raises(error, match=message):
        call(repeated_genes)
