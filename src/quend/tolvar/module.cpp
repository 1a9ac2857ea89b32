// orvalen.tolvar: interactions, markers, cohort metrics and display helpers.
#include "common/nb.hpp"

#include "common/dask_tally.hpp"
#include "common/main_interpreter.hpp"
#include "common/pyglue.hpp"
#include "common/sample_groups.hpp"
#include "tolvar/module_doc.hpp"

namespace nb = nanobind;

// Each operation file binds its own functions; the calls below fix the public order.
namespace quend::tolvar {
// Load-time binding of libraries and optional-library flags (libraries.cpp).
void bind_libraries(nb::module_& m);
void bind__detect_base64_type(nb::module_& m);
void bind_display_base64_auto(nb::module_& m);
void bind_pca_subsample(nb::module_& m);
void bind_compute_sample_div_index_v2(nb::module_& m);
void bind_get_population(nb::module_& m);
void bind_get_gene_expression(nb::module_& m);
void bind_cci_get_means(nb::module_& m);
void bind_get_cci_means(nb::module_& m);
void bind_cci_get_diff_interactions(nb::module_& m);
void bind_test_group_diff(nb::module_& m);
void bind_cci_remove_common(nb::module_& m);
void bind_cci_get_ni_mat(nb::module_& m);
void bind_get_cci_ni_mat(nb::module_& m);
void bind_cpdb_get_gp_n_cp(nb::module_& m);
void bind_cci_get_df_to_plot(nb::module_& m);
void bind_get_markers_from_deg(nb::module_& m);
void bind_filter_gsa_result(nb::module_& m);
void bind_get_abbreviations(nb::module_& m);
void bind_get_abbreviations_uni(nb::module_& m);
void bind_split_text(nb::module_& m);
void bind_evaluate_performance(nb::module_& m);
void bind_compute_sample_div_index(nb::module_& m);
void bind_get_axes(nb::module_& m);
void bind__get_value_info(nb::module_& m);
void bind__display_dict_or_dataframe_recursive(nb::module_& m);
void bind_show_anndata_tree(nb::module_& m);
}  // namespace quend::tolvar

NB_MODULE(tolvar, m) {
    quend::glue::require_main_interpreter("orvalen.tolvar");
    quend::glue::set_module(m);
    m.doc() = quend::tolvar::doc::module;
    using namespace quend::tolvar;
    bind_libraries(m);

    bind__detect_base64_type(m);
    bind_display_base64_auto(m);
    bind_pca_subsample(m);
    bind_compute_sample_div_index_v2(m);
    quend::glue::bind_get_sample_to_group_dict(m);
    quend::glue::bind_get_sample_to_group_map(m);
    bind_get_population(m);
    bind_get_gene_expression(m);
    bind_cci_get_means(m);
    bind_get_cci_means(m);
    bind_cci_get_diff_interactions(m);
    bind_test_group_diff(m);
    bind_cci_remove_common(m);
    bind_cci_get_ni_mat(m);
    bind_get_cci_ni_mat(m);
    bind_cpdb_get_gp_n_cp(m);
    bind_cci_get_df_to_plot(m);
    bind_get_markers_from_deg(m);
    bind_filter_gsa_result(m);
    bind_get_abbreviations(m);
    bind_get_abbreviations_uni(m);
    bind_split_text(m);
    bind_evaluate_performance(m);
    bind_compute_sample_div_index(m);
    bind_get_axes(m);
    bind__get_value_info(m);
    bind__display_dict_or_dataframe_recursive(m);
    bind_show_anndata_tree(m);
    m.attr("show_tree") = m.attr("show_anndata_tree");
    quend::glue::def_dask_tasks(m);
}
