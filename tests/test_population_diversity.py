"""Cell-type population tables and the sample diversity index of clusters."""

import os
import subprocess
import sys
import textwrap

import anndata as ad
import numpy as np
import pandas as pd
import pytest

from orvalen import tolvar
from tests.reference.population import ref_div_index, ref_population


def make_obs(seed=0, n=900, n_samples=8, n_clusters=12):
    rng = np.random.default_rng(seed)
    clusters = rng.integers(0, n_clusters, n)
    # Some clusters patient-specific, others shared.
    samples = np.where(clusters % 3 == 0, clusters % n_samples, rng.integers(0, n_samples, n))
    return pd.DataFrame(
        {
            "sample": [f"P{s}" for s in samples],
            "cnv_cluster": clusters.astype(str),
            "ploidy_dec": rng.choice(["Aneuploid", "Diploid"], n, p=[0.4, 0.6]),
            "cnv_ref_ind": rng.random(n) < 0.2,
        },
        index=[f"c{i}" for i in range(n)],
    )


@pytest.mark.parametrize("kind", ["list", "series", "categorical"])
def test_population_matches_reference(kind):
    obs = make_obs(1, n=2000)
    pids, cts = obs["sample"], obs["cnv_cluster"]
    if kind == "list":
        pids, cts = pids.tolist(), cts.tolist()
    elif kind == "categorical":
        pids, cts = pids.astype("category"), cts.astype("category")
    cnt, pct = tolvar.get_population(pids, cts)
    rcnt, rpct = ref_population(list(pids), list(cts))
    pd.testing.assert_frame_equal(cnt, rcnt.astype(np.int64))
    pd.testing.assert_frame_equal(pct, rpct, check_exact=True)
    assert np.allclose(pct.sum(axis=1), 100)
    _, pct_sorted = tolvar.get_population(pids, cts, sort_by=["3"])
    pd.testing.assert_frame_equal(pct_sorted, ref_population(list(pids), list(cts), ["3"])[1])


def test_population_edges():
    cnt, pct = tolvar.get_population([2, 10, 2], ["T", "B", "T"], sort_by="B")
    assert cnt.index.tolist() == [2, 10] and cnt.loc[2, "B"] == 0 and pct.loc[2, "B"] == 0.0
    assert pct.index.tolist() == [2, 10]
    cnt, pct = tolvar.get_population([], [])
    assert cnt.shape == (0, 0) and pct.shape == (0, 0)
    # Equal labels held by distinct objects count together; missing labels
    # belong to no sample or cell type.
    a1, a2 = "".join(["sa", "mple"]), "".join(["sam", "ple"])
    assert a1 is not a2
    cnt, pct = tolvar.get_population(np.array([a1, a2, None, "x", np.nan], dtype=object), ["T", "T", "T", "B", "T"])
    assert cnt.to_dict() == {"B": {"sample": 0, "x": 1}, "T": {"sample": 2, "x": 0}}
    with pytest.raises(IndexError, match="one entry per cell"):
        tolvar.get_population(["a", "b"], ["T"])
    with pytest.raises(TypeError):
        tolvar.get_population(["a", 1], ["T", "T"])
    with pytest.raises(KeyError):
        tolvar.get_population(["a"], ["T"], sort_by=["nope"])


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


def test_population_of_labels_that_change_their_list_while_hashed():
    labels = []
    labels.extend([Rewriting("a", labels), Rewriting("b", labels)] * 50)
    cnt, _ = tolvar.get_population(labels, ["x"] * 100, [])
    assert [r.text for r in cnt.index] == ["a", "b"] and cnt["x"].tolist() == [50, 50]


def test_diversity_matches_reference():
    obs = make_obs()
    obs["cnv_ref_ind"] = obs["cnv_ref_ind"].astype(object)
    obs.loc[obs["cnv_cluster"] == "4", "cnv_ref_ind"] = np.nan  # missing flags are skipped by sum
    a = ad.AnnData(obs=obs.copy())
    got = tolvar.compute_sample_div_index(a)
    want, cell = ref_div_index(ad.AnnData(obs=obs.copy()))
    assert got.columns.tolist() == ["Tumor_pct", "N_samples", "sample_diversity_index", "Ref_pct", "Tumor"]
    pd.testing.assert_frame_equal(got, want, check_dtype=False, check_exact=True)
    assert a.obs["sample_diversity_index"].astype(float).equals(cell)
    assert set(map(type, a.obs["sample_diversity_index"])) == {str}

    got2 = tolvar.compute_sample_div_index_v2(a, sdi_col="cdi")
    want2, cell2 = ref_div_index(a, sdi_col="cdi", full=False)
    pd.testing.assert_frame_equal(got2, want2, check_dtype=False, check_exact=True)
    assert got2.columns.tolist() == ["Tumor_pct", "N_samples", "sample_diversity_index", "cdi"]
    assert got2["Tumor_pct"].isna().all() and got2["sample_diversity_index"].isna().all()
    assert a.obs["cdi"].astype(float).equals(cell2)
    assert "sample_diversity_index" in a.obs  # the full version's column is kept


def test_diversity_rounding_tumour_share_and_categories():
    # cluster x: 2:1:1 -> 1.5 -> "2"; y: 2:2:1:1:1:1 -> 2.5 -> "2"; z: one sample.
    samples = ["a", "a", "b", "c"] + ["a", "a", "b", "b", "c", "d", "e", "f"] + ["a"] * 3
    clusters = ["x"] * 4 + ["y"] * 8 + ["z"] * 3
    ploidy = (
        ["Aneuploid", "Aneuploid", "Diploid", "Diploid"]
        + ["Aneuploid"] * 4
        + ["Diploid"] * 4
        + ["Aneuploid", "Aneuploid", "Diploid"]
    )
    obs = pd.DataFrame(
        {
            "sample": pd.Categorical(samples, categories=list("abcdefgh")),
            "cnv_cluster": clusters,
            "ploidy_dec": ploidy,
            "cnv_ref_ind": [1, 0] * 7 + [1],
        },
        index=[f"c{i}" for i in range(15)],
    )
    a = ad.AnnData(obs=obs)
    df = tolvar.compute_sample_div_index(a, sdi_col="sdi")
    assert df["sample_diversity_index"].tolist() == [1.5, 2.5, 0.0]
    assert df["N_samples"].tolist() == [3, 6, 1]
    assert df["Tumor_pct"].tolist() == [50, 50, 66] and df["Tumor"].tolist() == [True, True, True]
    assert a.obs["sdi"].tolist() == ["2"] * 12 + ["0"] * 3
    assert "sample_diversity_index" not in a.obs
    a.obs.loc[a.obs.index[1], "ploidy_dec"] = "Diploid"
    assert tolvar.compute_sample_div_index(a, sdi_col="sdi").loc["x", "Tumor"] == np.False_


def test_numeric_cluster_labels_are_matched():
    obs = make_obs(2)
    text = tolvar.compute_sample_div_index(ad.AnnData(obs=obs.copy()))
    num_obs = obs.assign(cnv_cluster=obs["cnv_cluster"].astype(int))
    a = ad.AnnData(obs=num_obs)
    num = tolvar.compute_sample_div_index(a)
    assert num.index.tolist() == sorted(int(c) for c in text.index)
    pd.testing.assert_frame_equal(
        num.reset_index(drop=True), text.loc[[str(c) for c in num.index]].reset_index(drop=True)
    )
    assert (num["N_samples"] > 0).all()
    v2 = tolvar.compute_sample_div_index_v2(a)
    assert v2["cluster_diversity_index"].tolist() == num["sample_diversity_index"].tolist()


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


def test_failed_call_leaves_obs_untouched():
    obs = make_obs(3, n=200)
    a = ad.AnnData(obs=obs.copy())
    with pytest.raises(KeyError, match="cnv_ref_ind_x"):
        tolvar.compute_sample_div_index(a, ref_ind_col="cnv_ref_ind_x")
    a.obs["bad_ref"] = "yes"
    with pytest.raises(ValueError):
        tolvar.compute_sample_div_index(a, ref_ind_col="bad_ref")
    with pytest.raises(KeyError, match="patient"):
        tolvar.compute_sample_div_index_v2(a, sample_col="patient")
    assert a.obs.drop(columns="bad_ref").equals(obs)
