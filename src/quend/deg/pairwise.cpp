// simple_DEG_pair: Welch's t-test of every gene between two sample groups.
#include "common/nb.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "common/pyglue.hpp"
#include "core/deg_pair.hpp"
#include "core/multitest.hpp"
#include "core/welch.hpp"
#include "deg/deg_args.hpp"
#include "deg/functions.hpp"
#include "deg/pair_outcome.hpp"

namespace quend::deg {

namespace {

using glue::concat;
using glue::equals;
using glue::ns;

nb::dict error_result(const nb::handle& message) {
    nb::dict d;
    d["error"] = true;
    d["error_message"] = message;
    return d;
}

// Column positions whose label equals `label` (one vectorised comparison).
std::vector<std::size_t> positions_of(const nb::object& labels, const nb::handle& label) {
    nb::object np = ns("np");
    nb::object eq = nb::steal(PyObject_RichCompare(labels.ptr(), label.ptr(), Py_EQ));
    if (!eq.is_valid()) throw nb::python_error();
    nb::object idx = np.attr("flatnonzero")(eq).attr("astype")(np.attr("int64"));
    auto view = nb::cast<nb::ndarray<const std::int64_t, nb::ndim<1>, nb::device::cpu>>(idx);
    std::vector<std::size_t> out(view.shape(0));
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = static_cast<std::size_t>(view(k));
    return out;
}

// A column of the DEG table, by name; the fold-change magnitude is there too
// while the significant rows are chosen.
int deg_column(const nb::handle& name) {
    static const char* const kNames[] = {"log2_FC", "mean_ref", "mean_test", "pval", "pval_adj", "abs_log2_FC"};
    for (int c = 0; c < 6; ++c)
        if (equals(name, nb::str(kNames[c]))) return c;
    return -1;
}

// One DataFrame from one (5, n) C-ordered array handed over transposed, so
// pandas keeps it as its single block without copying.
nb::object build_deg_table(const PairStats& st, const std::vector<double>& pval_adj,
                           const std::vector<std::size_t>& rows, const nb::object& gene_index) {
    nb::object np = ns("np");
    const std::size_t n = rows.size();
    nb::object values = np.attr("empty")(nb::make_tuple(5, n));
    nb::object positions = np.attr("empty")(n, nb::arg("dtype") = np.attr("int64"));
    double* v = nb::cast<nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>>(values).data();
    std::int64_t* pos =
        nb::cast<nb::ndarray<std::int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(positions).data();
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t k = rows[r];
        pos[r] = static_cast<std::int64_t>(st.kept[k]);
        for (int c = 0; c < 5; ++c) v[static_cast<std::size_t>(c) * n + r] = pair_value(st, pval_adj, k, c);
    }
    nb::list columns;
    for (const char* name : {"log2_FC", "mean_ref", "mean_test", "pval", "pval_adj"}) columns.append(nb::str(name));
    return ns("pd").attr("DataFrame")(values.attr("T"), nb::arg("index") = gene_index.attr("take")(positions),
                                      nb::arg("columns") = columns);
}

}  // namespace

nb::object simple_DEG_pair(nb::object df_gene_by_sample_log_expr, nb::object condition_list,
                           nb::object ref_condition, nb::object pval_cutoff, nb::object logFC_cutoff,
                           nb::object test_method, nb::object corr_method, nb::object pval_ref_col,
                           nb::object verbose) {
    const DegArgs args = check_deg_args(ref_condition, pval_cutoff, logFC_cutoff, test_method, corr_method,
                                        pval_ref_col, verbose);
    nb::object np = ns("np");

    nb::object expr = float_frame(df_gene_by_sample_log_expr);
    nb::object cond = condition_series(condition_list, expr);
    nb::list unique_conds = unique_labels(cond);

    if (nb::len(unique_conds) != 2) {
        return error_result(concat({nb::str("simple_DEG_pair supports ***exactly 2 groups***. Received groups: "),
                                    nb::str(unique_conds)}));
    }
    nb::object ref;
    if (ref_condition.is_none()) {
        ref = unique_conds[0];
        if (!PyUnicode_CheckExact(ref.ptr())) {
            PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "str", Py_TYPE(ref.ptr())->tp_name);
            throw nb::python_error();
        }
        if (args.verbose) glue::print(concat({nb::str("INFO: reference condition = '"), ref, nb::str("'")}), "");
    } else {
        ref = ref_condition;
        const int found = PySequence_Contains(unique_conds.ptr(), ref.ptr());
        if (found < 0) throw nb::python_error();
        if (!found) {
            return error_result(concat({nb::str("simple_DEG_pair ref_condition '"), ref,
                                        nb::str("' must be in "), nb::str(unique_conds)}));
        }
    }
    nb::object test = equals(unique_conds[0], ref) ? nb::object(unique_conds[1]) : nb::object(unique_conds[0]);

    nb::object labels = cond.attr("to_numpy")();
    const std::vector<std::size_t> idx_ref = positions_of(labels, ref);
    const std::vector<std::size_t> idx_test = positions_of(labels, test);
    if (idx_ref.size() < 2 || idx_test.size() < 2) {
        const std::string msg = "simple_DEG_pair need >=2 samples per group. ref=" + std::to_string(idx_ref.size()) +
                                ", test=" + std::to_string(idx_test.size());
        return error_result(nb::str(msg.c_str()));
    }

    // The float64 values read in place (no copy for a single-block frame).
    glue::Float64Block block = glue::float64_block(expr.attr("to_numpy")());
    const std::size_t n_samples = block.view.n_samples;
    for (const auto* idx : {&idx_test, &idx_ref}) {
        for (std::size_t p : *idx) {
            if (p >= n_samples) {
                PyErr_Format(PyExc_IndexError, "index %zu is out of bounds for axis 0 with size %zu", p, n_samples);
                throw nb::python_error();
            }
        }
    }

    PairStats st;
    {
        nb::gil_scoped_release unlocked;
        st = pair_stats(block.view, idx_ref, idx_test);
    }
    return pair_outcome(st, expr.attr("index"), args, corr_method, pval_ref_col, test, ref);
}

nb::object pair_outcome(const PairStats& st, const nb::object& index, const DegArgs& args,
                        const nb::object& corr_method, const nb::object& pval_ref_col, const nb::handle& test,
                        const nb::handle& ref) {
    nb::object np = ns("np");
    const std::size_t n_kept = st.kept.size();
    if (n_kept == 0) {
        return error_result(nb::str("No valid p-values in simple_DEG_pair. Returning empty DEG result."));
    }

    // Correction over the retained genes only.
    std::vector<double> pval_adj;
    if (corr_method.is_none()) {
        pval_adj = st.pval;
    } else if (equals(corr_method, nb::str("fdr_bh"))) {
        pval_adj = fdr_bh(st.pval);
    } else {
        nb::object pv = np.attr("empty")(n_kept);
        auto pv_view = nb::cast<nb::ndarray<double, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(pv);
        std::copy(st.pval.begin(), st.pval.end(), pv_view.data());
        nb::object adj = ns("multipletests")(pv, nb::arg("method") = corr_method)[nb::int_(1)];
        adj = np.attr("ascontiguousarray")(adj, nb::arg("dtype") = np.attr("float64"));
        auto adj_view = nb::cast<nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(adj);
        if (adj_view.shape(0) != n_kept) {
            PyErr_SetString(PyExc_ValueError, "multipletests returned a different number of p-values");
            throw nb::python_error();
        }
        pval_adj.assign(adj_view.data(), adj_view.data() + n_kept);
    }

    const int ref_col = deg_column(pval_ref_col);
    if (ref_col < 0) {
        PyErr_SetObject(PyExc_KeyError, pval_ref_col.ptr());
        throw nb::python_error();
    }

    SortedTables tables = sort_and_select(st, pval_adj, ref_col, args.pval_cutoff, args.logFC_cutoff);

    nb::object deg = build_deg_table(st, pval_adj, tables.significant, index);
    nb::object deg_raw = build_deg_table(st, pval_adj, tables.full, index);

    if (args.verbose) {
        nb::str line = nb::str("Significant DEGs ({} vs {}) = {} (up {}, down {}) genes.")
                           .format(test, ref, tables.significant.size(), tables.n_up, tables.n_down);
        glue::print(line);
    }
    nb::dict result;
    result["error"] = false;
    result["deg"] = deg;
    result["deg_raw"] = deg_raw;
    return result;
}

}  // namespace quend::deg
