// simple_DEG (one-vs-rest / one-vs-reference over all groups) and the
// gene-by-comparison summary matrix.
#include "common/nb.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/pyglue.hpp"
#include "deg/deg_args.hpp"
#include "deg/functions.hpp"

namespace quend::deg {

namespace {

using glue::ns;
using glue::truthy;

nb::str comparison_key(const nb::handle& group) {
    PyObject* r = PyUnicode_Concat(nb::str(group).ptr(), nb::str("_vs_others").ptr());
    if (!r) throw nb::python_error();
    return nb::steal<nb::str>(r);
}

}  // namespace

nb::object simple_DEG(nb::object df_gene_by_sample_log_expr, nb::object condition_list, nb::object ref_condition,
                      nb::object pval_cutoff, nb::object logFC_cutoff, nb::object test_method,
                      nb::object corr_method, nb::object pval_ref_col, nb::object verbose) {
    const DegArgs args = check_deg_args(ref_condition, pval_cutoff, logFC_cutoff, test_method, corr_method,
                                        pval_ref_col, verbose);
    nb::object np = ns("np");
    nb::object df_expr = float_frame(df_gene_by_sample_log_expr);
    nb::object ps_cond = condition_series(condition_list, df_expr);
    nb::list unique_groups = unique_labels(ps_cond);
    nb::dict deg_dct, deg_raw_dct;
    const nb::float_ pc(args.pval_cutoff), lc(args.logFC_cutoff);

    auto run_pair = [&](const nb::object& table, const nb::object& conds, const nb::object& ref, const nb::handle& g) {
        // Reached through the module namespace at each call, so a rebound
        // simple_DEG_pair is honoured.
        nb::object res = ns("simple_DEG_pair")(table, conds, nb::arg("ref_condition") = ref,
                                               nb::arg("pval_cutoff") = pc, nb::arg("logFC_cutoff") = lc,
                                               nb::arg("test_method") = test_method,
                                               nb::arg("corr_method") = corr_method,
                                               nb::arg("pval_ref_col") = pval_ref_col, nb::arg("verbose") = verbose);
        if (truthy(res[nb::str("error")])) return;  // failed comparisons are left out silently
        nb::str key = comparison_key(g);
        deg_dct[key] = res[nb::str("deg")];
        deg_raw_dct[key] = res[nb::str("deg_raw")];
    };

    // Object labels so that relabelling keeps every original label object.
    nb::object labels = ps_cond.attr("to_numpy")(nb::arg("dtype") = quend::glue::builtin("object"));

    if (ref_condition.is_none()) {
        if (args.verbose) glue::print(std::string("### MODE: one-vs-rest ###"));
        nb::str others("others");
        for (nb::handle g : unique_groups) {
            nb::object same = nb::steal(PyObject_RichCompare(labels.ptr(), g.ptr(), Py_EQ));
            if (!same.is_valid()) throw nb::python_error();
            nb::object relabelled = np.attr("where")(same, labels, others).attr("tolist")();
            run_pair(df_expr, relabelled, others, g);
        }
    } else {
        if (args.verbose) {
            glue::print(nb::str("### MODE: one-vs-reference ({}) ###").format(ref_condition));
        }
        const int found = PySequence_Contains(unique_groups.ptr(), ref_condition.ptr());
        if (found < 0) throw nb::python_error();
        if (!found) {
            nb::str msg = nb::str("ref_condition '{}' must be in {}").format(ref_condition, nb::str(unique_groups));
            PyErr_SetObject(PyExc_ValueError, msg.ptr());
            throw nb::python_error();
        }
        for (nb::handle g : unique_groups) {
            const int is_ref = PyObject_RichCompareBool(g.ptr(), ref_condition.ptr(), Py_EQ);
            if (is_ref < 0) throw nb::python_error();
            if (is_ref) continue;
            nb::list pair_groups;
            pair_groups.append(g);
            pair_groups.append(ref_condition);
            nb::object mask = ps_cond.attr("isin")(pair_groups).attr("to_numpy")(nb::arg("dtype") = np.attr("bool_"));
            nb::object conds = ps_cond.attr("__getitem__")(mask).attr("tolist")();
            nb::object table = df_expr.attr("iloc").attr("__getitem__")(nb::make_tuple(nb::slice(nb::none(), nb::none(), nb::none()), mask));
            run_pair(table, conds, ref_condition, g);
        }
    }
    return nb::make_tuple(deg_dct, deg_raw_dct);
}

nb::object get_deg_summary(nb::object dct_deg, nb::object col) {
    nb::object np = ns("np");
    nb::object pd = ns("pd");
    nb::list keys = as_list(dct_deg);
    const std::size_t n_keys = nb::len(keys);
    // Gene labels of all tables, distinct, in order of first appearance.
    nb::list indexes;
    for (nb::handle k : keys) indexes.append(dct_deg[k].attr("index"));
    nb::object genes;
    if (n_keys == 0) {
        genes = pd.attr("Index")(nb::list());
    } else {
        nb::object first = indexes[0];
        nb::list rest;
        for (std::size_t j = 1; j < n_keys; ++j) rest.append(indexes[j]);
        genes = first.attr("append")(rest).attr("unique")();
    }
    const std::size_t n_genes = nb::len(genes);
    nb::object values = np.attr("ones")(nb::make_tuple(n_keys, n_genes));
    double* v = nb::cast<nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>>(values).data();
    for (std::size_t j = 0; j < n_keys; ++j) {
        nb::object table = dct_deg[keys[j]];
        nb::object column = table.attr("__getitem__")(col).attr("astype")(quend::glue::builtin("float"));
        nb::object column_values = np.attr("ascontiguousarray")(column.attr("to_numpy")(), nb::arg("dtype") = np.attr("float64"));
        nb::object rows = np.attr("ascontiguousarray")(genes.attr("get_indexer")(indexes[j]), nb::arg("dtype") = np.attr("int64"));
        auto cv = nb::cast<nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(column_values);
        auto rv = nb::cast<nb::ndarray<const std::int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(rows);
        const std::size_t m = std::min(cv.shape(0), rv.shape(0));
        double* dst = v + j * n_genes;
        for (std::size_t r = 0; r < m; ++r) {
            const std::int64_t g = rv.data()[r];
            if (g >= 0) dst[g] = cv.data()[r];
        }
    }
    return pd.attr("DataFrame")(values.attr("T"), nb::arg("index") = genes, nb::arg("columns") = keys);
}

}  // namespace quend::deg
