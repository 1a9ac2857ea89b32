// simple_DEG_adata: simple_DEG on the cells of an AnnData, every comparison
// formed from per-group tallies read in one pass over X (in memory, backed
// or Dask), never from a dense genes x cells table.
#include "common/nb.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/adata_fields.hpp"
#include "common/arrays.hpp"
#include "common/errors.hpp"
#include "common/group_table.hpp"
#include "common/label_codes.hpp"
#include "common/pyglue.hpp"
#include "core/tally_moments.hpp"
#include "deg/deg_args.hpp"
#include "common/binding.hpp"
#include "deg/multigroup.hpp"
#include "deg/multigroup_adata_doc.hpp"

namespace quend::deg {

namespace {

double deviation_floor(const nb::handle& min_std) {
    const double v = real_arg(min_std, "min_std");
    if (!(v >= 0.0)) glue::raise(PyExc_ValueError, "min_std must be a number >= 0, got " + glue::repr(min_std));
    return v;
}

// Cells whose label is missing are in no group but in every rest, as in
// simple_DEG (a missing label equals no group): they get a group of their
// own after the labelled ones, which only the rests read.
std::size_t keep_unlabelled(glue::LabelCodes& codes) {
    const std::size_t n_groups = codes.n_labels();
    std::int64_t* c = const_cast<std::int64_t*>(codes.data);  // our own copy of the codes
    bool any = false;
    for (std::size_t i = 0; i < codes.n; ++i)
        if (c[i] < 0) {
            c[i] = static_cast<std::int64_t>(n_groups);
            any = true;
        }
    if (any) codes.labels.append(nb::none());
    return n_groups;
}

// One float64 groups x genes table per statistic, read where it lies.
glue::ConstMat<double> float64_table(nb::object& table) {
    nb::object np = glue::numpy();
    table = np.attr("ascontiguousarray")(table, nb::arg("dtype") = np.attr("float64"));
    return nb::cast<glue::ConstMat<double>>(table);
}

}  // namespace

nb::object simple_DEG_adata(nb::object adata, nb::object condition_col, nb::object ref_condition,
                            nb::object pval_cutoff, nb::object logFC_cutoff, nb::object corr_method,
                            nb::object pval_ref_col, nb::object layer, nb::object verbose, nb::object min_std) {
    DegArgs args =
        check_deg_args(ref_condition, pval_cutoff, logFC_cutoff, nb::str("ols"), corr_method, pval_ref_col, verbose);
    args.min_std = deviation_floor(min_std);
    glue::require_anndata(adata, "simple_DEG_adata", "adata");
    nb::object conditions = glue::obs_column(adata.attr("obs"), condition_col);
    nb::object X = glue::adata_matrix(adata, layer, "simple_DEG_adata");
    const bool vs_rest = ref_condition.is_none();
    announce_mode(ref_condition, vs_rest ? nb::list() : unique_labels(conditions), args.verbose);

    glue::LabelCodes codes = glue::appearance_label_codes(conditions);
    GroupedStats gs;
    gs.groups = as_list(codes.labels);
    const std::size_t n_groups = keep_unlabelled(codes);
    gs.n_samples = codes.n;
    gs.size.assign(n_groups, 0);
    for (std::size_t i = 0; i < codes.n; ++i)
        if (static_cast<std::size_t>(codes.data[i]) < n_groups) ++gs.size[static_cast<std::size_t>(codes.data[i])];

    nb::object index = adata.attr("var_names");
    ColumnSelection sel;
    sel.n_matrix_cols = nb::len(index);
    glue::TableRequest req;
    req.stats = {Stat::count, Stat::mean, Stat::var};
    req.narrow = false;  // the test needs float64 moments
    req.caller = "simple_DEG_adata";
    std::vector<nb::object> tables = glue::group_tables(X, codes, sel, req);
    const auto count = float64_table(tables[0]), mean = float64_table(tables[1]), var = float64_table(tables[2]);
    {
        nb::gil_scoped_release unlocked;
        const GroupTallies t{codes.n_labels(), sel.n_matrix_cols, count.data(), mean.data(), var.data()};
        for (std::size_t g = 0; g < n_groups; ++g) gs.own.push_back(group_row(t, g));
        if (vs_rest) {
            gs.rest = rest_rows(t);
            gs.rest.resize(n_groups);
        }
    }
    DegDicts out;
    compare_groups(gs, ref_condition, args, corr_method, pval_ref_col, index, out);
    return out.tuple();
}

void bind_simple_DEG_adata(nb::module_& m) {
    glue::def(m, &simple_DEG_adata,
              "def simple_DEG_adata(adata`: anndata.AnnData`, condition_col`: str`, ref_condition: str` | None` = "
              "None, pval_cutoff: float = 0.05, logFC_cutoff: float = 0.5, corr_method: str` | None` = 'fdr_bh', "
              "pval_ref_col: str = 'pval_adj', layer`: str | None` = None, verbose`: bool` = True, min_std`: float` "
              "= 1e-08)` -> tuple[dict[str, pandas.DataFrame], dict[str, pandas.DataFrame]]`",
              doc::simple_DEG_adata);
}

}  // namespace quend::deg
