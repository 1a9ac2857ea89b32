#pragma once
// Reference text of orvalen.deg itself.
namespace quend::deg::doc {

inline constexpr const char* module = R"doc(Differential expression between sample groups.

Welch's t-test of every gene between groups of samples with multiple-testing
correction (simple_DEG_pair, simple_DEG; simple_DEG_adata on the cells of
an AnnData), a gene-by-comparison summary
(get_deg_summary), sample-to-condition dictionaries, per-group detection or
mean expression (get_gene_expression_mean), and two plots (plot_deg,
plot_volcano). Use help(deg.<function>) for each function's reference.

The DEG tables are indexed by gene with the columns ``log2_FC``
(``log2(mean_test / (mean_ref + 1e-10) + 1e-10)``), ``mean_ref``,
``mean_test``, ``pval`` (two-sided Welch's t-test) and ``pval_adj``.

ADJUST_TEXT is True when the optional adjustText library can be found (then
plot_volcano moves labels apart). The libraries the module uses (pd, np, sm,
multipletests, ttest_ind, stats, plt, adjust_text) are imported on first use.)doc";

}  // namespace quend::deg::doc
