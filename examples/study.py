"""The example study: a tumour/normal single-cell cohort analysed end to end.

Steps, all through the public functions of orvalen.ingrath, orvalen.deg and
orvalen.tolvar:

 1. generate the study (examples/make_study_data.py) and publish its .h5ad as
    a tar.gz archive on a local mirror (http.server on 127.0.0.1);
 2. load it with ingrath.load_velmar_processed_sample_data(<identifier>);
 3. cell-type composition per sample (get_population);
 4. pseudo-bulk table (get_gene_expression_mean), DEG one-vs-reference and
    one-vs-rest (simple_DEG), summary matrix, multi-panel and volcano plots;
 5. detection fractions per sample and per cell type (get_gene_expression);
 6. copy-number clusters: sample diversity index (both versions) and the
    tumour call scored against the truth (evaluate_performance);
 7. cell-cell interactions: means, group test, common-interaction removal,
    interaction counts and the plot table;
 8. marker genes from per-cell-type DEG tables, gene-set result filter;
 9. PCA on a subsample and the tree of everything the AnnData now holds.

Every figure is written as PNG and every table as CSV under the output folder
(default examples/out): figures/, tables/, data/ (the generated study),
anndata_tree.txt and report.txt.

    python examples/study.py [--out DIR]
"""

import argparse
import contextlib
import http.server
import os
import random
import shutil
import sys
import tarfile
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import make_study_data  # noqa: E402

from orvalen import deg, ingrath, tolvar  # noqa: E402

# The plot functions end with plt.show(); here every figure is saved instead.
plt.show = lambda *args, **kwargs: None

# Hosted identifier under which the local mirror publishes the study. A real
# deployment uses the identifiers of its hosting service (docs/deployment.md).
STUDY_ID = "orvalen-example-study-tumor-normal"
REFERENCE = "Normal"


class Outputs:
    """Where figures and tables go; counts what was written."""

    def __init__(self, root):
        self.root = Path(root)
        self.figures = self.root / "figures"
        self.tables = self.root / "tables"
        for d in (self.figures, self.tables):
            if d.exists():
                shutil.rmtree(d)
            d.mkdir(parents=True)
        self.n_figures = 0
        self.n_tables = 0

    def figure(self, name):
        """Save the current figure (the one the last plot call drew) and close it."""
        plt.gcf().savefig(self.figures / ("%s.png" % name), bbox_inches="tight")
        plt.close("all")
        self.n_figures += 1

    def table(self, name, df, index=True):
        df.to_csv(self.tables / ("%s.csv" % name), index=index)
        self.n_tables += 1


def safe_name(text):
    return "".join(c if c.isalnum() or c in "-." else "_" for c in str(text))


# -- local mirror ---------------------------------------------------------------------------


class _MirrorHandler(http.server.BaseHTTPRequestHandler):
    files = {}

    def do_GET(self):
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        path = self.files.get((query.get("id") or [""])[0])
        if path is None:
            self.send_error(404, "no such file")
            return
        body = Path(path).read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/gzip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):  # keep the report quiet
        pass


@contextlib.contextmanager
def local_mirror(files):
    """Serve {identifier: path} on 127.0.0.1 at an ephemeral port; yield the download address."""
    handler = type("Handler", (_MirrorHandler,), {"files": dict(files)})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    # A proxy from the environment must not intercept the loopback mirror.
    saved_env = {k: os.environ.get(k) for k in ("NO_PROXY", "no_proxy")}
    for k in saved_env:
        os.environ[k] = ",".join(x for x in (saved_env[k], "127.0.0.1", "localhost") if x)
    try:
        yield "http://127.0.0.1:%i/uc?id=" % server.server_address[1]
    finally:
        for k, v in saved_env.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v
        server.shutdown()
        server.server_close()
        thread.join()


@contextlib.contextmanager
def working_directory(path):
    old = os.getcwd()
    os.chdir(path)
    try:
        yield
    finally:
        os.chdir(old)


def pack_tar_gz(h5ad, archive):
    # One folder holding the data file, the layout the processed archives use.
    with tarfile.open(archive, "w:gz", compresslevel=1) as tar:
        tar.add(h5ad, arcname="example_study/%s" % Path(h5ad).name)
    return archive


def load_from_mirror(h5ad):
    """Publish the study on the mirror and load it back through ingrath."""
    if not hasattr(ingrath, "_download_url"):
        raise SystemExit("orvalen.ingrath has no download address to point at the mirror")
    with tempfile.TemporaryDirectory(prefix="orvalen-study-") as tmp:
        archive = pack_tar_gz(h5ad, os.path.join(tmp, "study.tar.gz"))
        workdir = os.path.join(tmp, "work")
        os.mkdir(workdir)
        # The loaders write fixed file names in the working directory.
        with local_mirror({STUDY_ID: archive}) as address, working_directory(workdir):
            saved = ingrath._download_url
            ingrath._download_url = address
            try:
                adata = ingrath.load_velmar_processed_sample_data(STUDY_ID)
            finally:
                ingrath._download_url = saved
    if adata is None:
        raise SystemExit("loading the study from the local mirror failed")
    return adata


# -- figures drawn by the study itself -------------------------------------------------------


def plot_population(pct, abbrev, conditions_of):
    fig, ax = plt.subplots(figsize=(7, 4))
    bottom = np.zeros(len(pct))
    for ct in pct.columns:
        ax.bar(pct.index, pct[ct].to_numpy(), bottom=bottom, label=abbrev.get(ct, ct))
        bottom += pct[ct].to_numpy()
    ax.set_xticks(range(len(pct.index)))
    ax.set_xticklabels(["%s\n%s" % (s, conditions_of.get(s, "")) for s in pct.index])
    ax.set_xlabel("sample and condition")
    ax.set_ylabel("% of the sample's cells")
    ax.set_title("Cell-type composition of every sample")
    ax.legend(title="cell type", bbox_to_anchor=(1.01, 1), loc="upper left", fontsize=8)


def plot_detection(frac, abbrev, per_type):
    fig, ax = plt.subplots(figsize=(12, 3.8))
    im = ax.imshow(frac.to_numpy(), aspect="auto", cmap="viridis", vmin=0, vmax=1)
    ax.set_yticks(range(len(frac.index)))
    ax.set_yticklabels([abbrev.get(c, c) for c in frac.index], fontsize=8)
    ax.set_xticks(range(len(frac.columns)))
    ax.set_xticklabels(frac.columns, rotation=90, fontsize=7.5)
    ax.set_xlabel("planted marker gene (%i per cell type, in cell-type order)" % per_type)
    ax.set_ylabel("cell type")
    ax.set_title("Share of cells expressing the planted markers, by cell type")
    bar = fig.colorbar(im, ax=ax, fraction=0.02)
    bar.set_label("share of expressing cells")


def plot_interaction_counts(ni, abbrev):
    nr, nc = 2, 3
    fig, axes = plt.subplots(nr, nc, figsize=(12, 7.5))
    vmax = max(float(m.to_numpy(dtype=float).max()) for m in ni.values())
    for j, (sample, mat) in enumerate(ni.items()):
        ax = tolvar.get_axes(axes, nr, nc, j)
        values = mat.to_numpy(dtype=float)
        im = ax.imshow(values, cmap="Reds", vmin=0, vmax=vmax)
        labels = [abbrev.get(c, c) for c in mat.index]
        ax.set_xticks(range(len(labels)))
        ax.set_xticklabels(labels, rotation=90, fontsize=8)
        ax.set_yticks(range(len(labels)))
        ax.set_yticklabels(labels, fontsize=8)
        ax.set_title("%s: %i sample-specific interactions" % (sample, int(values.sum())), fontsize=9)
        if j % nc == 0:
            ax.set_ylabel("sender cell type")
        if j >= nc:
            ax.set_xlabel("receiver cell type")
    fig.suptitle("Interactions found in one sample only, by sender and receiver")
    fig.tight_layout()
    bar = fig.colorbar(im, ax=list(np.ravel(axes)), fraction=0.02)
    bar.set_label("number of interactions")


def _neglog10(pval):
    return -np.log10(pval + 1e-3)


def plot_interactions(tables, interactions, n_total):
    samples = list(tables)
    fig, ax = plt.subplots(figsize=(7, 0.3 * len(interactions) + 2))

    def size(neglog):
        return 20 * neglog + 2

    for x, s in enumerate(samples):
        t = tables[s].loc[interactions]
        sc = ax.scatter(
            np.full(len(t), x),
            np.arange(len(t)),
            s=size(_neglog10(t["pval"].astype(float).to_numpy())),
            c=t["mean"].astype(float).to_numpy(),
            cmap="magma_r",
            vmin=0,
        )
    ax.set_xticks(range(len(samples)))
    ax.set_xticklabels(samples)
    ax.set_xlabel("sample")
    ax.set_yticks(range(len(interactions)))
    ax.set_yticklabels(interactions, fontsize=7.5)
    ax.set_ylabel("interaction")
    ax.set_xlim(-0.5, len(samples) - 0.5)
    ax.invert_yaxis()
    ax.set_title(
        "Top %i of %i interactions with epithelial cells,\nby spread of the mean across samples"
        % (len(interactions), n_total),
        fontsize=10,
    )
    # Colour bar low on the right, the legend of dot sizes (-log10 p) above it.
    bar = fig.colorbar(sc, ax=ax, fraction=0.04, pad=0.02, shrink=0.6, anchor=(0.0, 0.0))
    bar.set_label("mean interaction strength")
    handles = [ax.scatter([], [], s=size(_neglog10(p)), color="grey") for p in (0.5, 0.05, 0.001)]
    ax.legend(
        handles,
        ["0.5", "0.05", "<= 0.001"],
        title="dot size: p-value",
        loc="upper left",
        bbox_to_anchor=(1.01, 1),
        fontsize=8,
        labelspacing=1.2,
        frameon=False,
    )


def plot_pca(X_pca, obs, abbrev):
    # Cells in random order so that no sample or type is drawn over all others.
    order = np.random.default_rng(0).permutation(len(X_pca))
    fig, axes = plt.subplots(1, 2, figsize=(12, 5), sharex=True, sharey=True)
    for ax, column, title in ((axes[0], "cell_type", "cell type"), (axes[1], "condition", "condition")):
        labels = obs[column].astype(str).to_numpy()
        kinds = list(pd.unique(labels))
        codes = pd.Categorical(labels, categories=kinds).codes
        colours = plt.get_cmap("tab10")(codes[order] % 10)
        ax.scatter(X_pca[order, 0], X_pca[order, 1], s=3, alpha=0.6, c=colours, linewidths=0)
        handles = [ax.scatter([], [], s=12, color=plt.get_cmap("tab10")(i % 10)) for i in range(len(kinds))]
        ax.legend(handles, [abbrev.get(k, k) for k in kinds], title=title, fontsize=8, loc="best")
        ax.set_xlabel("component 1")
        ax.set_title("coloured by %s" % title)
    axes[0].set_ylabel("component 2")
    fig.suptitle("Truncated SVD of the expression, fitted on 2,000 of {:,} cells".format(len(X_pca)))


# -- the study -------------------------------------------------------------------------------


def run(out_dir):
    t0 = time.time()
    out = Outputs(out_dir)
    data_dir = out.root / "data"
    report = []

    def say(line=""):
        print(line)
        report.append(line)

    # 1-2. Data: generate, publish on the mirror, load through ingrath.
    info = make_study_data.generate(data_dir)
    adata = load_from_mirror(info["h5ad"])
    obs = adata.obs
    conditions_of = tolvar.get_sample_to_group_map(obs["sample"], obs["condition"])
    print()
    abbrev = tolvar.get_abbreviations()["celltype_major"]

    # 3. Composition.
    counts, pct = tolvar.get_population(obs["sample"], obs["cell_type"])
    out.table("population_counts", counts)
    out.table("population_percent", pct)
    plot_population(pct, abbrev, conditions_of)
    out.figure("population")

    # 4. Differential expression on a pseudo-bulk table (mean log expression per sample).
    pseudo = deg.get_gene_expression_mean(adata, nz_pct=False)
    sample_conditions = pseudo["Group"].astype(str).tolist()
    expr = pseudo.drop(columns="Group").T  # genes by samples
    out.table("pseudobulk_genes_by_samples", expr)
    print("-- DEG, one-vs-reference")
    sig_ref, all_ref = deg.simple_DEG(expr, sample_conditions, ref_condition=REFERENCE)
    print("-- DEG, one-vs-rest")
    sig_rest, all_rest = deg.simple_DEG(expr, sample_conditions)
    for mode, dct in (
        ("vs_reference_significant", sig_ref),
        ("vs_reference_all", all_ref),
        ("vs_rest_significant", sig_rest),
        ("vs_rest_all", all_rest),
    ):
        for key, df in dct.items():
            out.table("deg_%s_%s" % (mode, safe_name(key)), df)
    summary = deg.get_deg_summary(all_rest).sort_index()
    out.table("deg_summary_pval_adj", summary)

    counts_by_key = {
        k: {"UP": int((t["log2_FC"] > 0).sum()), "DOWN": int((t["log2_FC"] < 0).sum())} for k, t in sig_rest.items()
    }
    # DEG tables name the fold-change column log2_FC; the plots are told so.
    deg.plot_deg(sig_rest, reference="log2_FC", n_genes_to_show=25, deg_stat_dct=counts_by_key)
    plt.gcf().suptitle(
        "The 25 genes with the largest log2 fold change in each comparison "
        "(pseudo-bulk of 6 samples); in brackets: -log10 adjusted p",
        y=1.1,
    )
    out.figure("deg_panels")
    test_key = next(iter(all_ref))
    deg.plot_volcano(
        all_ref[test_key],
        logFC_col="log2_FC",
        pval_col="pval_adj",
        logFC_cutoff=0.5,
        title="Tumor vs %s: adjusted p-value against fold change, pseudo-bulk of 6 samples" % REFERENCE,
    )
    out.figure("volcano")

    planted = pd.read_csv(data_dir / "planted_degs.csv").set_index("gene")
    found = sig_ref[test_key]
    hit = planted.index.intersection(found.index)
    same_sign = np.sign(found.loc[hit, "log2_FC"]) == np.where(planted.loc[hit, "direction"] == "up", 1, -1)
    n_up = int((planted.loc[hit, "direction"] == "up").sum())
    say(
        "orvalen example study: %i cells x %i genes, %i samples (%s)"
        % (
            adata.n_obs,
            adata.n_vars,
            len(conditions_of),
            ", ".join(
                "%s %i" % (c, n) for c, n in pd.Series(list(conditions_of.values())).value_counts(sort=False).items()
            ),
        )
    )
    say(
        "Planted DEGs recovered (Tumor vs %s, pval_adj <= 0.05, |log2_FC| >= 0.5): %i/%i "
        "(up %i/%i, down %i/%i), direction right for %i; other significant genes: %i"
        % (
            REFERENCE,
            len(hit),
            len(planted),
            n_up,
            int((planted["direction"] == "up").sum()),
            len(hit) - n_up,
            int((planted["direction"] == "down").sum()),
            int(same_sign.sum()),
            len(found) - len(hit),
        )
    )

    # 5. Detection fractions.
    planted_markers = pd.read_csv(data_dir / "planted_markers.csv")
    shown = planted_markers.groupby("cell_type", sort=False).head(5)["gene"].tolist()
    det = deg.get_gene_expression_mean(adata, genes=list(hit[:20]))
    out.table("detection_fraction_planted_degs_by_sample", det)
    frac = tolvar.get_gene_expression(adata, items_to_plot=shown, group_col="cell_type")
    out.table("detection_fraction_markers_by_cell_type", frac)
    plot_detection(frac, abbrev, 5)
    out.figure("marker_detection")

    # 6. Copy-number clusters.
    sdi = tolvar.compute_sample_div_index(adata)
    out.table("sample_diversity_index", sdi)
    sdi2 = tolvar.compute_sample_div_index_v2(adata)
    out.table("cluster_diversity_index", sdi2)
    is_tumour = sdi["Tumor"].astype(bool)
    say(
        "CNV clusters called tumour (Tumor_pct >= 50): %s with sample diversity index %s; "
        "other clusters: %s"
        % (
            ", ".join(str(c) for c in sdi.index[is_tumour]),
            ", ".join("%.2f" % v for v in sdi.loc[is_tumour, "sample_diversity_index"]),
            ", ".join("%s %.2f" % (c, v) for c, v in sdi.loc[~is_tumour, "sample_diversity_index"].items()),
        )
    )
    predicted = np.where(obs["ploidy_dec"].astype(str).to_numpy() == "Aneuploid", "Tumor", "Normal")
    perf = tolvar.evaluate_performance(obs["malignancy"].astype(str).to_numpy(), predicted)
    out.table("tumour_call_performance", pd.DataFrame([perf], index=["ploidy_dec"]))
    say("Tumour call from ploidy_dec: accuracy %.3f, F1 %.3f" % (perf["Accuracy"], perf["F1"]))

    # 7. Cell-cell interactions.
    cci, marker_tables, gsa_tables = make_study_data.load_tables(data_dir)
    means = tolvar.cci_get_means(cci)
    out.table("cci_means_samples_by_interactions", means)
    diff = tolvar.cci_get_diff_interactions(means, conditions_of, ref_group=REFERENCE)
    out.table("cci_diff_interactions", diff)
    planted_cci = pd.read_csv(data_dir / "planted_interactions.csv")["interaction"]
    top = diff.index[: len(planted_cci)]
    say(
        "Planted interactions among the %i differential ones (p <= 0.05): %i/%i; among the top %i: %i"
        % (
            len(diff),
            int(planted_cci.isin(diff.index).sum()),
            len(planted_cci),
            len(top),
            int(planted_cci.isin(top).sum()),
        )
    )
    reduced = tolvar.cci_remove_common(cci)
    out.table(
        "cci_rows_after_removing_common",
        pd.DataFrame(
            {"rows": [len(cci[s]) for s in cci], "rows_without_common": [len(reduced[s]) for s in reduced]},
            index=pd.Index(list(cci), name="sample"),
        ),
    )
    ni = tolvar.cci_get_ni_mat(cci, remove_common=True)
    for sample, mat in ni.items():
        out.table("cci_interaction_counts_%s" % sample, mat)
    plot_interaction_counts(ni, abbrev)
    out.figure("cci_interaction_counts")
    to_plot = tolvar.cci_get_df_to_plot(cci, pval_cutoff=0.01, mean_cutoff=1, target_cells=["Epithelial cell"])
    long = pd.concat({s: t for s, t in to_plot.items()}, names=["sample", "interaction"])
    out.table("cci_plot_table", long)
    union = list(next(iter(to_plot.values())).index)
    if union:
        spread = pd.DataFrame({s: t["mean"].astype(float) for s, t in to_plot.items()})
        chosen = (spread.max(axis=1) - spread.min(axis=1)).sort_values(ascending=False).index[:20]
        plot_interactions(to_plot, list(chosen), len(union))
        out.figure("cci_top_interactions")
    say("Interactions for plotting (pval <= 0.01, mean >= 1, involving epithelial cells): %i" % len(union))

    # 8. Markers and gene sets.
    markers = tolvar.get_markers_from_deg(marker_tables)
    out.table(
        "markers",
        pd.DataFrame(
            [(g, i + 1, m) for g, lst in markers.items() for i, m in enumerate(lst)],
            columns=["cell_type", "rank", "gene"],
        ),
        index=False,
    )
    truth = planted_markers.groupby("cell_type", sort=False)["gene"].apply(set)
    n_marker_hits = sum(len(truth.get(g, set()) & set(lst)) for g, lst in markers.items())
    say(
        "Planted marker genes recovered by get_markers_from_deg: %i/%i over %i cell types"
        % (n_marker_hits, len(planted_markers), len(markers))
    )
    gsa = tolvar.filter_gsa_result(gsa_tables, 2.0)
    for kind, df in gsa.items():
        out.table("gsa_%s" % safe_name(kind), df)
    say("Gene sets with -log(p-val) >= 2: %s" % ", ".join("%s %i" % (k, len(v)) for k, v in gsa.items()))

    # 9. PCA on a subsample and the final tree.
    random.seed(0)
    adata.obsm["X_pca"] = tolvar.pca_subsample(adata.X, 10, N_cells_max_for_pca=2000)
    plot_pca(adata.obsm["X_pca"], obs, abbrev)
    out.figure("pca")
    adata.uns["deg_summary"] = {"n_significant": {k: int(len(v)) for k, v in sig_ref.items()}}
    tree = tolvar.show_anndata_tree(adata)
    print(tree)
    (out.root / "anndata_tree.txt").write_text(tree, encoding="utf-8")

    say(
        "Wrote %i figures to %s and %i tables to %s in %.1f s"
        % (out.n_figures, out.figures, out.n_tables, out.tables, time.time() - t0)
    )
    (out.root / "report.txt").write_text("\n".join(report) + "\n", encoding="utf-8")
    return {"planted_recovered": len(hit), "planted_total": len(planted)}


def main(argv=None):
    ap = argparse.ArgumentParser(description="Run the orvalen example study end to end.")
    ap.add_argument("--out", default=str(HERE / "out"), help="output folder (default: examples/out)")
    args = ap.parse_args(argv)
    run(args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
