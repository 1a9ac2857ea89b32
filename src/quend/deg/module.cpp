// orvalen.deg: differential expression between sample groups.
#include "common/nb.hpp"

#include "common/errors.hpp"
#include "common/lazy_names.hpp"
#include "common/pyglue.hpp"
#include "common/sample_groups.hpp"
#include "deg/docstrings.hpp"
#include "deg/functions.hpp"

namespace nb = nanobind;
using nb::arg;

NB_MODULE(deg, m) {
    quend::glue::set_module(m);
    m.doc() = quend::deg::doc::module;
    // Libraries are imported on first use, so importing the module stays fast.
    using quend::glue::lazy;
    quend::glue::enable_lazy_names(m);
    lazy(m, {{"pd", "pandas"},
             {"np", "numpy"},
             {"sm", "statsmodels.api"},
             {"multipletests", "statsmodels.stats.multitest", "multipletests"},
             {"ttest_ind", "scipy.stats", "ttest_ind"},
             {"stats", "scipy", "stats"},
             {"plt", "matplotlib.pyplot"}});
    // Any failure to find the optional library only turns label placement off.
    const bool have_adjust_text = quend::glue::on_ordinary_error([] { return quend::glue::findable("adjustText"); },
                                                                 [](nb::python_error&) { return false; });
    m.attr("ADJUST_TEXT") = have_adjust_text;
    if (have_adjust_text) {
        quend::glue::on_ordinary_error([&] { lazy(m, "adjust_text", "adjustText", "adjust_text"); },
                                       [&](nb::python_error&) { m.attr("ADJUST_TEXT") = false; });
    }

    using namespace quend::deg;
    m.def("simple_DEG_pair", &simple_DEG_pair, arg("df_gene_by_sample_log_expr").none(), arg("condition_list").none(),
          arg("ref_condition").none() = nb::none(), arg("pval_cutoff").none() = 0.05, arg("logFC_cutoff").none() = 0.5,
          arg("test_method").none() = "ols", arg("corr_method").none() = "fdr_bh",
          arg("pval_ref_col").none() = "pval_adj", arg("verbose").none() = true,
          nb::sig("def simple_DEG_pair(df_gene_by_sample_log_expr: pd.DataFrame, condition_list, "
                  "ref_condition: str = None, pval_cutoff: float = 0.05, logFC_cutoff: float = 0.5, "
                  "test_method: str = 'ols', corr_method: str = 'fdr_bh', pval_ref_col: str = 'pval_adj', "
                  "verbose: bool = True)"),
          doc::simple_DEG_pair);
    m.def("simple_DEG", &simple_DEG, arg("df_gene_by_sample_log_expr").none(), arg("condition_list").none(),
          arg("ref_condition").none() = nb::none(), arg("pval_cutoff").none() = 0.05, arg("logFC_cutoff").none() = 0.5,
          arg("test_method").none() = "ols", arg("corr_method").none() = "fdr_bh",
          arg("pval_ref_col").none() = "pval_adj", arg("verbose").none() = true,
          nb::sig("def simple_DEG(df_gene_by_sample_log_expr: pd.DataFrame, condition_list, "
                  "ref_condition: str = None, pval_cutoff: float = 0.05, logFC_cutoff: float = 0.5, "
                  "test_method: str = 'ols', corr_method: str = 'fdr_bh', pval_ref_col: str = 'pval_adj', "
                  "verbose=True)"),
          doc::simple_DEG);
    m.def("get_deg_summary", &get_deg_summary, arg("dct_deg").none(), arg("col").none() = "pval_adj",
          nb::sig("def get_deg_summary(dct_deg, col='pval_adj')"), doc::get_deg_summary);
    quend::glue::def_sample_to_group(m);
    m.def("get_gene_expression_mean", &get_gene_expression_mean, arg("adata").none(), arg("genes").none() = nb::list(),
          arg("group_col").none() = "sample", arg("nz_pct").none() = true, arg("min_nz_pct").none() = 0.2,
          nb::sig("def get_gene_expression_mean(adata, genes=[], group_col='sample', nz_pct=True, min_nz_pct=0.2)"),
          doc::get_gene_expression_mean);
    // Everything is passed on to matplotlib, where None is often meaningful.
    m.def("plot_deg", &plot_deg, arg("df_deg_dct").none(), arg("reference").none() = "logFC",
          arg("n_genes_to_show").none() = 30, arg("pval_cutoff").none() = 0.05,
          arg("figsize").none() = nb::make_tuple(6, 4), arg("dpi").none() = 100, arg("text_fs").none() = 10,
          arg("title_fs").none() = 12, arg("label_fs").none() = 11, arg("tick_fs").none() = 10, arg("ncols").none() = 2,
          arg("wspace").none() = 0.15, arg("hspace").none() = 0.2, arg("deg_stat_dct").none() = nb::none(),
          arg("show_log_pv").none() = true,
          nb::sig("def plot_deg(df_deg_dct, reference='logFC', n_genes_to_show=30, pval_cutoff=0.05, "
                  "figsize=(6, 4), dpi=100, text_fs=10, title_fs=12, label_fs=11, tick_fs=10, ncols=2, "
                  "wspace=0.15, hspace=0.2, deg_stat_dct=None, show_log_pv=True)"),
          doc::plot_deg);
    m.def("plot_volcano", &plot_volcano, arg("df_deg").none(), arg("logFC_col").none() = "logFC",
          arg("pval_col").none() = "pval_adj", arg("gene_col").none() = nb::none(), arg("pval_cutoff").none() = 0.05,
          arg("logFC_cutoff").none() = 1.0, arg("top_n_labels").none() = 20,
          arg("figsize").none() = nb::make_tuple(8, 7), arg("xlim").none() = nb::none(),
          arg("ylim").none() = nb::none(), arg("title").none() = "Volcano plot (no label overlap)",
          nb::sig("def plot_volcano(df_deg, logFC_col='logFC', pval_col='pval_adj', gene_col=None, "
                  "pval_cutoff=0.05, logFC_cutoff=1.0, top_n_labels=20, figsize=(8, 7), xlim=None, ylim=None, "
                  "title='Volcano plot (no label overlap)')"),
          doc::plot_volcano);
}
