// orvalen.tolvar: interactions, markers, cohort metrics and display helpers.
#include "common/nb.hpp"

#include "common/pyglue.hpp"
#include "common/dask_tally.hpp"
#include "common/sample_groups.hpp"
#include "tolvar/docstrings.hpp"
#include "tolvar/functions.hpp"

namespace nb = nanobind;
using nb::arg;
using quend::glue::ns;
using O = nb::object;

NB_MODULE(tolvar, m) {
    quend::glue::set_module(m);
    m.doc() = quend::tolvar::doc::module;
    using namespace quend::tolvar;
    bind_libraries(m);

    m.def("_detect_base64_type", &_detect_base64_type, arg("b64").none(), nb::sig("def _detect_base64_type(b64: str)"),
          doc::_detect_base64_type);
    m.def("display_base64_auto", &display_base64_auto, arg("imgs").none(), arg("use_html_img").none() = true,
          arg("iframe_size").none() = nb::make_tuple(900, 500),
          nb::sig("def display_base64_auto(imgs, use_html_img=True, iframe_size=(900, 500))"),
          doc::display_base64_auto);
    m.def("pca_subsample", &pca_subsample, arg("Xx").none(), arg("N_components_pca").none(),
          arg("N_cells_max_for_pca").none() = 100000,
          nb::sig("def pca_subsample(Xx, N_components_pca, N_cells_max_for_pca=100000)"), doc::pca_subsample);
    m.def("compute_sample_div_index_v2", &compute_sample_div_index_v2, arg("adata").none(),
          arg("sample_col").none() = "sample", arg("cluster_col").none() = "cnv_cluster",
          arg("sdi_col").none() = "cluster_diversity_index",
          nb::sig("def compute_sample_div_index_v2(adata, sample_col='sample', cluster_col='cnv_cluster', "
                  "sdi_col='cluster_diversity_index')"),
          doc::compute_sample_div_index_v2);
    quend::glue::bind_get_sample_to_group_dict(m);
    quend::glue::bind_get_sample_to_group_map(m);
    m.def("get_population", &get_population, arg("pids").none(), arg("cts").none(), arg("sort_by").none() = nb::list(),
          nb::sig("def get_population(pids, cts, sort_by=[])"), doc::get_population);
    m.def("get_gene_expression", &get_gene_expression, arg("adata").none(), arg("items_to_plot").none() = nb::list(),
          arg("group_col").none() = "sample",
          nb::sig("def get_gene_expression(adata, items_to_plot=[], group_col='sample')"), doc::get_gene_expression);
    m.def("cci_get_means", &cci_get_means, arg("cci_df_dct").none(), arg("cci_idx_lst").none() = nb::none(),
          arg("cells").none() = nb::list(), arg("genes").none() = nb::list(), arg("pval_cutoff").none() = 0.05,
          nb::sig("def cci_get_means(cci_df_dct, cci_idx_lst=None, cells=[], genes=[], pval_cutoff=0.05)"),
          doc::cci_get_means);
    m.def(
        "get_cci_means",
        [](O cci_df_dct, O cci_idx_lst, O cells, O genes, O pval_cutoff) {
            return ns("cci_get_means")(cci_df_dct, cci_idx_lst, cells, genes, pval_cutoff);
        },
        arg("cci_df_dct").none(), arg("cci_idx_lst").none() = nb::none(), arg("cells").none() = nb::list(),
        arg("genes").none() = nb::list(), arg("pval_cutoff").none() = 0.05,
        nb::sig("def get_cci_means(cci_df_dct, cci_idx_lst=None, cells=[], genes=[], pval_cutoff=0.05)"),
        doc::get_cci_means);
    m.def("cci_get_diff_interactions", &cci_get_diff_interactions, arg("df_cci_sample").none(),
          arg("sample_group_map").none(), arg("ref_group").none() = nb::none(), arg("pval_cutoff").none() = 0.05,
          nb::sig("def cci_get_diff_interactions(df_cci_sample, sample_group_map, ref_group=None, pval_cutoff=0.05)"),
          doc::cci_get_diff_interactions);
    m.def(
        "test_group_diff",
        [](O df_sample_by_items, O sample_group_map, O ref_group, O pval_cutoff) {
            return ns("cci_get_diff_interactions")(df_sample_by_items, sample_group_map, ref_group, pval_cutoff);
        },
        arg("df_sample_by_items").none(), arg("sample_group_map").none(), arg("ref_group").none() = nb::none(),
        arg("pval_cutoff").none() = 0.05,
        nb::sig("def test_group_diff(df_sample_by_items, sample_group_map, ref_group=None, pval_cutoff=0.05)"),
        doc::test_group_diff);
    m.def("cci_remove_common", &cci_remove_common, arg("df_dct").none(), nb::sig("def cci_remove_common(df_dct)"),
          doc::cci_remove_common);
    m.def("cci_get_ni_mat", &cci_get_ni_mat, arg("df_dct").none(), arg("remove_common").none() = true,
          nb::sig("def cci_get_ni_mat(df_dct, remove_common=True)"), doc::cci_get_ni_mat);
    m.def(
        "get_cci_ni_mat", [](O df_dct, O remove_common) { return ns("cci_get_ni_mat")(df_dct, remove_common); },
        arg("df_dct").none(), arg("remove_common").none() = true,
        nb::sig("def get_cci_ni_mat(df_dct, remove_common=True)"), doc::get_cci_ni_mat);
    m.def("cpdb_get_gp_n_cp", &cpdb_get_gp_n_cp, arg("idx").none(), nb::sig("def cpdb_get_gp_n_cp(idx)"),
          doc::cpdb_get_gp_n_cp);
    m.def("cci_get_df_to_plot", &cci_get_df_to_plot, arg("df_dct").none(), arg("pval_cutoff").none() = 0.01,
          arg("mean_cutoff").none() = 1, arg("target_cells").none() = nb::none(),
          nb::sig("def cci_get_df_to_plot(df_dct, pval_cutoff=0.01, mean_cutoff=1, target_cells=None)"),
          doc::cci_get_df_to_plot);
    m.def("get_markers_from_deg", &get_markers_from_deg, arg("df_dct").none(), arg("ref_col").none() = "score",
          arg("N_mkrs").none() = 30, arg("nz_pct_test_min").none() = 0.5, arg("nz_pct_ref_max").none() = 0.1,
          arg("rem_common").none() = true,
          nb::sig("def get_markers_from_deg(df_dct, ref_col='score', N_mkrs=30, nz_pct_test_min=0.5, "
                  "nz_pct_ref_max=0.1, rem_common=True)"),
          doc::get_markers_from_deg);
    m.def("filter_gsa_result", &filter_gsa_result, arg("dct").none(), arg("neg_log_p_cutoff").none(),
          nb::sig("def filter_gsa_result(dct, neg_log_p_cutoff)"), doc::filter_gsa_result);
    m.def("get_abbreviations", &get_abbreviations, nb::sig("def get_abbreviations()"), doc::get_abbreviations);
    m.def("get_abbreviations_uni", &get_abbreviations_uni, nb::sig("def get_abbreviations_uni()"),
          doc::get_abbreviations_uni);
    m.def("split_text", &split_text, arg("s").none(), arg("N_max").none() = 20, nb::sig("def split_text(s, N_max=20)"),
          doc::split_text);
    m.def(
        "evaluate_performance", &evaluate_performance, arg("y").none(), arg("y_pred").none(),
        arg("labels").none() =
            [] {
                nb::list l;
                l.append("Tumor");
                l.append("Normal");
                return l;
            }(),
        nb::sig("def evaluate_performance(y, y_pred, labels=['Tumor', 'Normal'])"), doc::evaluate_performance);
    m.def("compute_sample_div_index", &compute_sample_div_index, arg("adata").none(),
          arg("sample_col").none() = "sample", arg("cluster_col").none() = "cnv_cluster",
          arg("tumor_dec").none() = "ploidy_dec", arg("ref_ind_col").none() = "cnv_ref_ind",
          arg("sdi_col").none() = "sample_diversity_index", arg("tumor_name").none() = "Aneuploid",
          nb::sig("def compute_sample_div_index(adata, sample_col='sample', cluster_col='cnv_cluster', "
                  "tumor_dec='ploidy_dec', ref_ind_col='cnv_ref_ind', sdi_col='sample_diversity_index', "
                  "tumor_name='Aneuploid')"),
          doc::compute_sample_div_index);
    m.def("get_axes", &get_axes, arg("axes").none(), arg("nr").none(), arg("nc").none(), arg("j").none(),
          nb::sig("def get_axes(axes, nr, nc, j)"), doc::get_axes);
    m.def("_get_value_info", &_get_value_info, arg("value").none(), arg("key_name").none() = nb::none(),
          arg("is_top_level_anndata_component").none() = false, arg("level_of_value").none() = nb::none(),
          arg("max_depth").none() = 3, arg("n_to_show").none() = 3, arg("limited_keys").none() = nb::none(),
          nb::sig("def _get_value_info(value, key_name=None, is_top_level_anndata_component=False, "
                  "level_of_value=None, max_depth=3, n_to_show=3, limited_keys=None)"),
          doc::_get_value_info);
    m.def("_display_dict_or_dataframe_recursive", &_display_dict_or_dataframe_recursive, arg("current_obj").none(),
          arg("current_depth").none(), arg("parent_prefix").none(), arg("max_depth").none() = 3,
          arg("n_to_show").none() = 3, arg("limited_keys").none() = nb::none(), arg("ss").none() = nb::none(),
          nb::sig("def _display_dict_or_dataframe_recursive(current_obj, current_depth, parent_prefix, "
                  "max_depth=3, n_to_show=3, limited_keys=None, ss: str = None)"),
          doc::_display_dict_or_dataframe_recursive);
    m.def("show_anndata_tree", &show_anndata_tree, arg("obj").none(), arg("max_depth").none() = 3,
          arg("n_to_show").none() = 3, arg("limited_keys").none() = nb::none(), arg("_current_depth").none() = 0,
          arg("_parent_prefix").none() = "", arg("ss").none() = nb::none(),
          nb::sig("def show_anndata_tree(obj, max_depth=3, n_to_show=3, limited_keys=None, _current_depth=0, "
                  "_parent_prefix='', ss=None)"),
          doc::show_anndata_tree);
    m.attr("show_tree") = m.attr("show_anndata_tree");
    quend::glue::def_dask_tasks(m);
}
