#pragma once
// Public operations of orvalen.tolvar; module.cpp registers them.
#include "common/nb.hpp"

namespace quend::tolvar {

using O = nb::object;

// display_base64.cpp
O _detect_base64_type(O b64);
O display_base64_auto(O imgs, O use_html_img, O iframe_size);
// pca_subsample.cpp
O pca_subsample(O Xx, O N_components_pca, O N_cells_max_for_pca);
// diversity.cpp
O compute_sample_div_index_v2(O adata, O sample_col, O cluster_col, O sdi_col);
O compute_sample_div_index(O adata, O sample_col, O cluster_col, O tumor_dec, O ref_ind_col, O sdi_col, O tumor_name);
// population.cpp
O get_population(O pids, O cts, O sort_by);
// gene_expression.cpp
O get_gene_expression(O adata, O items_to_plot, O group_col);
// cci_means.cpp
O cci_get_means(O cci_df_dct, O cci_idx_lst, O cells, O genes, O pval_cutoff);
// cci_diff.cpp
O cci_get_diff_interactions(O df_cci_sample, O sample_group_map, O ref_group, O pval_cutoff);
// cci_shared.cpp
O cci_remove_common(O df_dct);
O cci_get_ni_mat(O df_dct, O remove_common);
O cpdb_get_gp_n_cp(O idx);
// cci_plot_table.cpp
O cci_get_df_to_plot(O df_dct, O pval_cutoff, O mean_cutoff, O target_cells);
// markers.cpp
O get_markers_from_deg(O df_dct, O ref_col, O N_mkrs, O nz_pct_test_min, O nz_pct_ref_max, O rem_common);
// gsa_filter.cpp
O filter_gsa_result(O dct, O neg_log_p_cutoff);
// labels.cpp
O get_abbreviations();
O get_abbreviations_uni();
O split_text(O s, O N_max);
O get_axes(O axes, O nr, O nc, O j);
// performance.cpp
O evaluate_performance(O y, O y_pred, O labels);
// anndata_tree.cpp
O _get_value_info(O value, O key_name, O is_top_level_anndata_component, O level_of_value, O max_depth, O n_to_show,
                  O limited_keys);
O _display_dict_or_dataframe_recursive(O current_obj, O current_depth, O parent_prefix, O max_depth, O n_to_show,
                                       O limited_keys, O ss);
O show_anndata_tree(O obj, O max_depth, O n_to_show, O limited_keys, O _current_depth, O _parent_prefix, O ss);

// Load-time binding of libraries and optional-library flags (libraries.cpp).
void bind_libraries(nb::module_& m);

}  // namespace quend::tolvar
