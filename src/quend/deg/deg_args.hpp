#pragma once
// Argument handling shared by simple_DEG_pair and simple_DEG.
#include "common/nb.hpp"

#include "common/pyglue.hpp"

namespace quend::deg {

namespace nb = nanobind;

using quend::glue::is_instance;

inline nb::list as_list(const nb::handle& iterable) {
    PyObject* l = PySequence_List(iterable.ptr());
    if (!l) throw nb::python_error();
    return nb::steal<nb::list>(l);
}

struct DegArgs {
    double pval_cutoff = 0.05;
    double logFC_cutoff = 0.5;
    bool verbose = true;
};

// Converts the cut-offs (TypeError from the float conversion, as for any C
// double parameter), takes verbose by truth value, then checks the string
// parameters in signature order.
inline DegArgs check_deg_args(const nb::handle& ref_condition, const nb::handle& pval_cutoff,
                              const nb::handle& logFC_cutoff, const nb::handle& test_method,
                              const nb::handle& corr_method, const nb::handle& pval_ref_col,
                              const nb::handle& verbose) {
    DegArgs a;
    a.pval_cutoff = PyFloat_AsDouble(pval_cutoff.ptr());
    if (a.pval_cutoff == -1.0 && PyErr_Occurred()) throw nb::python_error();
    a.logFC_cutoff = PyFloat_AsDouble(logFC_cutoff.ptr());
    if (a.logFC_cutoff == -1.0 && PyErr_Occurred()) throw nb::python_error();
    const int truth = PyObject_IsTrue(verbose.ptr());
    if (truth < 0) throw nb::python_error();
    a.verbose = truth != 0;
    glue::require_str(ref_condition, "ref_condition", true);
    glue::require_str(test_method, "test_method", false);
    glue::require_str(corr_method, "corr_method", true);
    glue::require_str(pval_ref_col, "pval_ref_col", false);
    return a;
}

// The expression table as float64. astype(float) copies the whole table, so
// it is skipped when every column already is float64.
inline nb::object float_frame(const nb::object& df) {
    nb::object pd = glue::ns("pd");
    if (is_instance(df, pd.attr("DataFrame"))) {
        nb::object f64 = glue::ns("np").attr("dtype")("float64");
        nb::object same = df.attr("dtypes").attr("__eq__")(f64).attr("all")();
        if (PyObject_IsTrue(same.ptr()) == 1) return df;
    }
    return df.attr("astype")(quend::glue::builtin("float"));
}

// The condition labels as a Series: a given Series is only read (its order
// counts, not its index); anything else is indexed by the table's columns.
inline nb::object condition_series(const nb::object& condition_list, const nb::object& expr) {
    nb::object pd = glue::ns("pd");
    if (is_instance(condition_list, pd.attr("Series"))) return condition_list;
    return pd.attr("Series")(condition_list, nb::arg("index") = expr.attr("columns"));
}

// Distinct labels in order of first appearance.
inline nb::list unique_labels(const nb::object& cond) {
    return as_list(glue::ns("pd").attr("unique")(cond));
}

}  // namespace quend::deg
