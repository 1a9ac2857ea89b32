// orvalen.deg: differential expression between sample groups.
#include "common/nb.hpp"

#include "common/dask_tally.hpp"
#include "common/errors.hpp"
#include "common/lazy_names.hpp"
#include "common/pyglue.hpp"
#include "common/sample_groups.hpp"
#include "deg/module_doc.hpp"

namespace nb = nanobind;

// Each operation file binds its own functions; the calls below fix the public order.
namespace quend::deg {
void bind_simple_DEG_pair(nb::module_& m);
void bind_simple_DEG(nb::module_& m);
void bind_get_deg_summary(nb::module_& m);
void bind_get_gene_expression_mean(nb::module_& m);
void bind_plot_deg(nb::module_& m);
void bind_plot_volcano(nb::module_& m);
void bind_get_pseudobulk(nb::module_& m);
void bind_simple_DEG_adata(nb::module_& m);
}  // namespace quend::deg

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
             {"plt", "matplotlib.pyplot"},
             {"anndata", "anndata"}});
    // Any failure to find the optional library only turns label placement off.
    const bool have_adjust_text = quend::glue::on_ordinary_error([] { return quend::glue::findable("adjustText"); },
                                                                 [](nb::python_error&) { return false; });
    m.attr("ADJUST_TEXT") = have_adjust_text;
    if (have_adjust_text) {
        quend::glue::on_ordinary_error([&] { lazy(m, "adjust_text", "adjustText", "adjust_text"); },
                                       [&](nb::python_error&) { m.attr("ADJUST_TEXT") = false; });
    }

    using namespace quend::deg;
    bind_simple_DEG_pair(m);
    bind_simple_DEG(m);
    bind_get_deg_summary(m);
    quend::glue::bind_get_sample_to_group_dict(m);
    quend::glue::bind_get_sample_to_group_map(m);
    bind_get_gene_expression_mean(m);
    bind_plot_deg(m);
    bind_plot_volcano(m);
    bind_get_pseudobulk(m);
    bind_simple_DEG_adata(m);
    // Private: the bodies of the Dask tasks that read X (orvalen._dask).
    quend::glue::def_dask_tasks(m);
}
