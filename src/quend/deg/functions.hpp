#pragma once
// Public operations of orvalen.deg; module.cpp registers them.
#include "common/nb.hpp"

namespace quend::deg {

// pairwise.cpp
nb::object simple_DEG_pair(nb::object df_gene_by_sample_log_expr, nb::object condition_list, nb::object ref_condition,
                           nb::object pval_cutoff, nb::object logFC_cutoff, nb::object test_method,
                           nb::object corr_method, nb::object pval_ref_col, nb::object verbose);

// multigroup.cpp
nb::object simple_DEG(nb::object df_gene_by_sample_log_expr, nb::object condition_list, nb::object ref_condition,
                      nb::object pval_cutoff, nb::object logFC_cutoff, nb::object test_method, nb::object corr_method,
                      nb::object pval_ref_col, nb::object verbose);
nb::object get_deg_summary(nb::object dct_deg, nb::object col);

// group_mean.cpp
nb::object get_gene_expression_mean(nb::object adata, nb::object genes, nb::object group_col, nb::object nz_pct,
                                    nb::object min_nz_pct);

// plot_deg.cpp
nb::object plot_deg(nb::object df_deg_dct, nb::object reference, nb::object n_genes_to_show, nb::object pval_cutoff,
                    nb::object figsize, nb::object dpi, nb::object text_fs, nb::object title_fs, nb::object label_fs,
                    nb::object tick_fs, nb::object ncols, nb::object wspace, nb::object hspace, nb::object deg_stat_dct,
                    nb::object show_log_pv);

// volcano.cpp
nb::object plot_volcano(nb::object df_deg, nb::object logFC_col, nb::object pval_col, nb::object gene_col,
                        nb::object pval_cutoff, nb::object logFC_cutoff, nb::object top_n_labels, nb::object figsize,
                        nb::object xlim, nb::object ylim, nb::object title);

}  // namespace quend::deg
