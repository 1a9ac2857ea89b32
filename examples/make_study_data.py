"""Generate a small, deterministic single-cell study for the example.

The study looks like a real one, only smaller: six samples in two conditions
(three "Normal", three "Tumor"), 5,000 cells by 2,000 genes of sparse
log-normalised expression, seven cell types, copy-number clusters with a
ploidy call, and the tables that outside tools would hand over next to the
data: per-sample cell-cell-interaction (CCI) results, per-cell-type marker DEG
tables and gene-set-analysis results. Known effects are planted so that the
example can check what the analysis recovers:

- 100 genes differ between the conditions (60 up, 40 down in "Tumor"),
  listed in ``planted_degs.csv`` and in ``adata.uns["planted_degs"]``;
- 15 marker genes per cell type, listed in ``planted_markers.csv``;
- 30 interactions are stronger in the tumour samples, listed in
  ``planted_interactions.csv``.

Usage::

    python examples/make_study_data.py [OUT_DIR]     # default examples/out/data

Everything is drawn from one ``numpy.random.default_rng(SEED)``, so two runs
write the same numbers.
"""

import argparse
import json
import os
import sys
from pathlib import Path

import numpy as np
import pandas as pd
import scipy.sparse as sp
from scipy import stats

SEED = 20240611
N_CELLS = 5000
N_GENES = 2000
SAMPLES = ["N01", "N02", "N03", "T01", "T02", "T03"]
CONDITIONS = ["Normal", "Normal", "Normal", "Tumor", "Tumor", "Tumor"]
# Cell-type names as the label helpers know them (major annotation level).
CELL_TYPES = [
    "Epithelial cell",
    "T cell",
    "Smooth muscle cell",
    "Fibroblast",
    "Myeloid cell",
    "Endothelial cell",
    "B cell",
]
IMMUNE = {"T cell", "Myeloid cell", "B cell"}
N_MARKERS = 15
N_UP, N_DOWN = 60, 40
N_PLANTED_CCI = 30
N_GENE_PAIRS = 40

DEFAULT_OUT = Path(__file__).resolve().parent / "out" / "data"


def _gene_names(n):
    return ["G%04d" % (i + 1) for i in range(n)]


def _composition(rng, condition):
    # Tumours carry more epithelial cells; the rest is shared with jitter.
    base = np.array([0.22, 0.20, 0.08, 0.16, 0.16, 0.10, 0.08])
    if condition == "Tumor":
        base = base.copy()
        base[0] += 0.18
    base = base * rng.uniform(0.85, 1.15, size=base.size)
    return base / base.sum()


def _expression(rng, genes, cell_type_codes, sample_codes):
    """Sparse CSR matrix of log-normalised values plus the planted truth."""
    n_types = len(CELL_TYPES)
    mu = rng.uniform(0.4, 1.5, size=N_GENES)  # level when detected
    detect = np.clip(rng.beta(1.2, 6.0, size=N_GENES), 0.02, 0.9)
    detect_by_type = np.tile(detect, (n_types, 1))

    order = rng.permutation(N_GENES)
    markers = order[: N_MARKERS * n_types].reshape(n_types, N_MARKERS)
    for t in range(n_types):
        detect_by_type[:, markers[t]] = 0.02
        detect_by_type[t, markers[t]] = 0.85
    # Condition effects go to well-detected genes that mark no cell type.
    candidates = [g for g in order[N_MARKERS * n_types :] if detect[g] >= 0.2]
    planted = np.array(candidates[: N_UP + N_DOWN])
    up, down = planted[:N_UP], planted[N_UP:]
    # Three samples per group leave Welch's test few degrees of freedom, so
    # the planted genes are well detected and steady between patients.
    detect_by_type[:, planted] = rng.uniform(0.6, 0.9, size=planted.size)
    fold = np.ones(N_GENES)
    fold[up] = rng.uniform(3.0, 4.5, size=N_UP)
    fold[down] = rng.uniform(0.15, 0.3, size=N_DOWN)

    # Sample-to-sample variation of every gene, as between patients.
    sample_factor = np.exp(rng.normal(0.0, 0.02, size=(len(SAMPLES), N_GENES)))
    for s, cond in enumerate(CONDITIONS):
        if cond == "Tumor":
            sample_factor[s] *= fold

    blocks = []
    for s in range(len(SAMPLES)):
        rows = np.flatnonzero(sample_codes == s)
        p = detect_by_type[cell_type_codes[rows]]
        hit = rng.random(p.shape) < p
        r, c = np.nonzero(hit)
        vals = mu[c] * sample_factor[s, c] * rng.gamma(10.0, 0.1, size=c.size)
        blocks.append(sp.csr_matrix((vals.astype(np.float32), (r, c)), shape=(rows.size, N_GENES), dtype=np.float32))
    X = sp.vstack(blocks, format="csr", dtype=np.float32)
    X.sort_indices()

    planted_df = pd.DataFrame(
        {
            "gene": [genes[g] for g in planted],
            "direction": ["up"] * N_UP + ["down"] * N_DOWN,
            "fold": np.round(fold[planted], 4),
        }
    )
    marker_df = pd.DataFrame(
        {
            "cell_type": np.repeat(CELL_TYPES, N_MARKERS),
            "gene": [genes[g] for g in markers.ravel()],
        }
    )
    return X, planted_df, marker_df, planted


def _obs(rng):
    sizes = rng.multinomial(N_CELLS - 600 * len(SAMPLES), [1 / len(SAMPLES)] * len(SAMPLES)) + 600
    sample_codes = np.repeat(np.arange(len(SAMPLES)), sizes)
    ct_codes = np.concatenate(
        [rng.choice(len(CELL_TYPES), size=n, p=_composition(rng, CONDITIONS[s])) for s, n in enumerate(sizes)]
    )
    samples = np.array(SAMPLES)[sample_codes]
    conditions = np.array(CONDITIONS)[sample_codes]
    cell_types = np.array(CELL_TYPES)[ct_codes]

    # Truth: epithelial cells of tumour samples are malignant.
    malignant = (cell_types == "Epithelial cell") & (conditions == "Tumor")
    # Copy-number clusters: one private cluster per tumour, shared clusters
    # for normal epithelium, stroma and immune cells; a few cells land in the
    # wrong cluster, as they do in real inference.
    cluster = np.where(
        cell_types == "Epithelial cell", "5", np.where(np.isin(cell_types, list(IMMUNE)), "0", "4")
    ).astype(object)
    for k, s in enumerate(SAMPLES[3:]):
        cluster[malignant & (samples == s)] = str(k + 1)
    noise = rng.random(N_CELLS) < 0.02
    cluster[noise] = rng.choice(["0", "1", "2", "3", "4", "5"], size=int(noise.sum()))
    tumour_cluster = np.isin(cluster, ["1", "2", "3"])
    flip = rng.random(N_CELLS) < 0.03
    ploidy = np.where(tumour_cluster ^ flip, "Aneuploid", "Diploid")
    ref_ind = np.isin(cell_types, list(IMMUNE)) & ~tumour_cluster

    obs = pd.DataFrame(
        {
            "sample": pd.Categorical(samples, categories=SAMPLES),
            "condition": pd.Categorical(conditions, categories=["Normal", "Tumor"]),
            "cell_type": pd.Categorical(cell_types, categories=CELL_TYPES),
            "malignancy": pd.Categorical(np.where(malignant, "Tumor", "Normal"), categories=["Tumor", "Normal"]),
            "cnv_cluster": pd.Categorical(cluster.astype(str), categories=["0", "1", "2", "3", "4", "5"]),
            "ploidy_dec": pd.Categorical(ploidy, categories=["Aneuploid", "Diploid"]),
            "cnv_ref_ind": ref_ind,
        },
        index=pd.Index(["cell%05d" % (i + 1) for i in range(N_CELLS)]),
    )
    return obs, sample_codes, ct_codes


def _marker_tables(X, ct_codes, genes):
    """Per-cell-type ranking against all other cells, as a ranking tool reports it."""
    Xc = X.tocsc()
    nz = (Xc != 0).astype(np.float32)
    sq = Xc.multiply(Xc)
    tables = {}
    for t, name in enumerate(CELL_TYPES):
        a = ct_codes == t
        na, nb = a.sum(), (~a).sum()
        ia = sp.diags(a.astype(np.float32))
        ib = sp.diags((~a).astype(np.float32))
        sum_a = np.asarray((ia @ Xc).sum(axis=0)).ravel()
        sum_b = np.asarray(Xc.sum(axis=0)).ravel() - sum_a
        sq_a = np.asarray((ia @ sq).sum(axis=0)).ravel()
        sq_b = np.asarray(sq.sum(axis=0)).ravel() - sq_a
        nz_a = np.asarray((ia @ nz).sum(axis=0)).ravel()
        nz_b = np.asarray((ib @ nz).sum(axis=0)).ravel()
        ma, mb = sum_a / na, sum_b / nb
        va = np.maximum(sq_a / na - ma**2, 1e-12) * na / (na - 1)
        vb = np.maximum(sq_b / nb - mb**2, 1e-12) * nb / (nb - 1)
        score = (ma - mb) / np.sqrt(va / na + vb / nb)
        df = pd.DataFrame(
            {
                "score": np.round(score, 4),
                "logFC": np.round(np.log2((ma + 1e-9) / (mb + 1e-9)), 4),
                "nz_pct_test": np.round(nz_a / na, 4),
                "nz_pct_ref": np.round(nz_b / nb, 4),
            },
            index=pd.Index(genes, name="gene"),
        )
        tables[name] = df.sort_values("score", ascending=False, kind="mergesort")
    return tables


def _cci_tables(rng, genes, planted_genes):
    """Per-sample interaction results, with a set of tumour-enhanced interactions."""
    pool = [g for g in range(N_GENES) if g not in set(planted_genes)]
    pick = rng.choice(pool, size=2 * N_GENE_PAIRS, replace=False)
    pairs = [(genes[pick[2 * k]], genes[pick[2 * k + 1]]) for k in range(N_GENE_PAIRS)]
    ids, parts = [], []
    for ga, gb in pairs:
        for ca in CELL_TYPES:
            for cb in CELL_TYPES:
                ids.append("%s_%s--%s|%s" % (ga, gb, ca, cb))
                parts.append((ga, gb, ca, cb))
    n = len(ids)
    base = rng.gamma(2.0, 0.3, size=n)
    # Shared core: present in every sample; the rest comes and goes.
    core = rng.random(n) < 0.25
    planted = rng.choice(np.flatnonzero(core), size=N_PLANTED_CCI, replace=False)
    boost = np.ones(n)
    boost[planted] = rng.uniform(3.0, 4.0, size=N_PLANTED_CCI)

    # Tumour epithelium sends more signals of its own.
    epi_sender = np.array([p[2] == "Epithelial cell" for p in parts])
    tables = {}
    for s, cond in zip(SAMPLES, CONDITIONS):
        p_present = np.where(epi_sender & (cond == "Tumor"), 0.9, 0.55)
        present = core | (rng.random(n) < p_present)
        m = base * np.exp(rng.normal(0.0, 0.08, size=n))
        if cond == "Tumor":
            m = m * boost
        # Strong interactions come out significant more often.
        pval = rng.random(n) ** (1.0 + 6.0 * m)
        rows = np.flatnonzero(present)
        tables[s] = pd.DataFrame(
            {
                "gene_A": [parts[i][0] for i in rows],
                "gene_B": [parts[i][1] for i in rows],
                "cell_A": [parts[i][2] for i in rows],
                "cell_B": [parts[i][3] for i in rows],
                "mean": np.round(m[rows], 4),
                "pval": np.round(pval[rows], 3),
            },
            index=pd.Index([ids[i] for i in rows], name="interaction"),
        )
    planted_df = pd.DataFrame({"interaction": [ids[i] for i in planted], "boost": np.round(boost[planted], 4)})
    return tables, planted_df


def _gsa_tables(rng, genes, planted_df):
    """Enrichment of the planted up and down genes in 60 gene sets."""
    n_sets = 60
    up = set(planted_df.loc[planted_df["direction"] == "up", "gene"])
    down = set(planted_df.loc[planted_df["direction"] == "down", "gene"])
    others = [g for g in genes if g not in up and g not in down]
    sets = {}
    for k in range(n_sets):
        size = int(rng.integers(30, 80))
        members = list(rng.choice(others, size=size, replace=False))
        if k < 6:  # enriched in up genes
            members[:12] = rng.choice(sorted(up), size=12, replace=False)
        elif k < 10:  # enriched in down genes
            members[:9] = rng.choice(sorted(down), size=9, replace=False)
        sets["PATHWAY_%02d" % (k + 1)] = members
    tables = {}
    for kind, query in (("Tumor_up", up), ("Tumor_down", down)):
        rows = []
        for term, members in sets.items():
            hits = sorted(set(members) & query)
            p = stats.hypergeom.sf(len(hits) - 1, len(genes), len(query), len(members))
            rows.append(
                (term, "%i/%i" % (len(hits), len(members)), float(p), float(-np.log10(max(p, 1e-300))), ";".join(hits))
            )
        df = pd.DataFrame(rows, columns=["Term", "Overlap", "p-val", "-log(p-val)", "Genes"]).set_index("Term")
        tables[kind] = df.sort_values("p-val", kind="mergesort")
    return tables


def generate(out_dir=DEFAULT_OUT, seed=SEED):
    """Write the study into ``out_dir`` and return a dictionary of the paths written."""
    import anndata

    out = Path(out_dir)
    for sub in ("cci", "markers", "gsa"):
        (out / sub).mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(seed)
    genes = _gene_names(N_GENES)
    obs, sample_codes, ct_codes = _obs(rng)
    X, planted_df, marker_df, planted_idx = _expression(rng, genes, ct_codes, sample_codes)

    adata = anndata.AnnData(X=X, obs=obs, var=pd.DataFrame(index=pd.Index(genes)))
    detected = np.asarray((X != 0).sum(axis=0)).ravel()
    adata.var["n_cells"] = detected.astype(np.int64)
    adata.uns["planted_degs"] = {
        "up": np.array(planted_df.loc[planted_df["direction"] == "up", "gene"], dtype=object),
        "down": np.array(planted_df.loc[planted_df["direction"] == "down", "gene"], dtype=object),
    }
    adata.uns["study"] = {
        "seed": int(seed),
        "samples": np.array(SAMPLES, dtype=object),
        "reference_condition": "Normal",
    }
    adata.uns["log"] = "generated by make_study_data.py"
    h5ad = out / "study.h5ad"
    adata.write_h5ad(h5ad)

    planted_df.to_csv(out / "planted_degs.csv", index=False)
    marker_df.to_csv(out / "planted_markers.csv", index=False)

    manifest = {"h5ad": "study.h5ad", "cci": {}, "markers": {}, "gsa": {}}
    cci, planted_cci = _cci_tables(rng, genes, planted_idx)
    for s, df in cci.items():
        name = "cci/%s.csv" % s
        df.to_csv(out / name)
        manifest["cci"][s] = name
    planted_cci.to_csv(out / "planted_interactions.csv", index=False)
    for ct, df in _marker_tables(X, ct_codes, genes).items():
        name = "markers/%s.csv" % ct.replace(" ", "_")
        df.to_csv(out / name)
        manifest["markers"]["%s_vs_rest" % ct] = name
    for kind, df in _gsa_tables(rng, genes, planted_df).items():
        name = "gsa/%s.csv" % kind
        df.to_csv(out / name)
        manifest["gsa"][kind] = name
    with open(out / "manifest.json", "w") as f:
        json.dump(manifest, f, indent=1)
    return {"dir": str(out), "h5ad": str(h5ad), "manifest": manifest}


def load_tables(data_dir):
    """Read the outside-tool tables back as the dictionaries the toolkit takes.

    Returns (cci, markers, gsa): sample -> CCI table, "<cell type>_vs_rest" ->
    marker DEG table, kind -> gene-set table, in the manifest's order.
    """
    d = Path(data_dir)
    with open(d / "manifest.json") as f:
        manifest = json.load(f)
    cci = {k: pd.read_csv(d / v, index_col=0) for k, v in manifest["cci"].items()}
    markers = {k: pd.read_csv(d / v, index_col=0) for k, v in manifest["markers"].items()}
    gsa = {k: pd.read_csv(d / v, index_col=0) for k, v in manifest["gsa"].items()}
    return cci, markers, gsa


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument(
        "out_dir",
        nargs="?",
        default=str(DEFAULT_OUT),
        help="folder to write the study into (default: examples/out/data)",
    )
    ap.add_argument("--seed", type=int, default=SEED)
    args = ap.parse_args(argv)
    info = generate(args.out_dir, seed=args.seed)
    print("Study written to %s" % os.path.abspath(info["dir"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
