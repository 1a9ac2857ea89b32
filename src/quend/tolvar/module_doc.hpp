#pragma once
// Reference text of orvalen.tolvar itself.
namespace quend::tolvar::doc {

inline constexpr const char* module =
    R"doc(Toolbox: cell-cell interactions, markers, cohort metrics and display helpers.

Cell-cell interactions (CCI): cci_get_means, cci_get_diff_interactions,
cci_remove_common, cci_get_ni_mat, cpdb_get_gp_n_cp, cci_get_df_to_plot.
Markers and gene sets: get_markers_from_deg, filter_gsa_result.
Cohort composition and metrics: get_population, get_gene_expression,
get_sample_to_group_dict/_map, compute_sample_div_index(_v2),
evaluate_performance, pca_subsample.
Display and labels: show_anndata_tree (alias show_tree), display_base64_auto,
get_abbreviations(_uni), split_text, get_axes.

A CCI result dictionary maps each sample to its interaction table: index =
interaction identifiers 'G1_G2--C1|C2' (sender gene, receiver gene, sender
cell type, receiver cell type), columns gene_A, gene_B, cell_A, cell_B, mean,
pval. Use help(tolvar.<function>) for each function's reference.

Optional libraries are flagged at import, without importing them: SCANVPY
(scanpy), STATANNOT (statannotations), SEABORN (seaborn); plotly has no flag.
A missing one is reported with two WARNING lines and its names stay unbound.
The libraries the module binds (np, pd, plt, met, stats, PCA, sc, anndata,
display, ...) are imported on first use.)doc";

}  // namespace quend::tolvar::doc
