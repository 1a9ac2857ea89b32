#pragma once
// Argument handling shared by simple_DEG_pair and simple_DEG.
#include "common/nb.hpp"

#include <string>

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::deg {

using quend::glue::is_instance;

inline nb::list as_list(const nb::handle& iterable) {
    PyObject* l = PySequence_List(iterable.ptr());
    if (!l) throw nb::python_error();
    return nb::steal<nb::list>(l);
}

// A cut-off as a C double; TypeError naming it when it is not a real number
// (a number passed as text, say).
inline double real_arg(const nb::handle& value, const char* name) {
    const double v = PyFloat_AsDouble(value.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
        PyErr_Clear();
        glue::raise(PyExc_TypeError, std::string(name) + " must be a real number, got " + glue::py_type_name(value) +
                                         " " + glue::repr(value));
    }
    return v;
}

struct DegArgs {
    double pval_cutoff = 0.05;
    double logFC_cutoff = 0.5;
    bool verbose = true;
    double min_std = 1e-08;  // deviation floor of the testable-gene rule
};

// Converts the cut-offs (TypeError naming the cut-off), takes verbose by
// truth value, then checks the string
// parameters in signature order.
inline DegArgs check_deg_args(const nb::handle& ref_condition, const nb::handle& pval_cutoff,
                              const nb::handle& logFC_cutoff, const nb::handle& test_method,
                              const nb::handle& corr_method, const nb::handle& pval_ref_col,
                              const nb::handle& verbose) {
    DegArgs a;
    a.pval_cutoff = real_arg(pval_cutoff, "pval_cutoff");
    a.logFC_cutoff = real_arg(logFC_cutoff, "logFC_cutoff");
    a.verbose = glue::truthy(verbose);
    glue::require_str(ref_condition, "ref_condition", true);
    glue::require_str(test_method, "test_method", false);
    glue::require_str(corr_method, "corr_method", true);
    glue::require_str(pval_ref_col, "pval_ref_col", false);
    return a;
}

// The expression table as float64. astype(float) copies the whole table, so
// it is skipped when every column already is float64. Anything but a table
// (an AnnData, say) raises TypeError. A value that is not a
// number raises ValueError saying which layout is expected (a table passed
// samples by genes usually carries its condition labels as text).
nb::object float_frame(const nb::object& df);

// The condition labels as a Series: a given Series is only read (its order
// counts, not its index); anything else is indexed by the table's columns.
// One label per column, else ValueError (a Series of another length would
// fail later with a boolean-index error).
nb::object condition_series(const nb::object& condition_list, const nb::object& expr);

// Distinct labels in order of first appearance.
inline nb::list unique_labels(const nb::object& cond) { return as_list(glue::ns("pd").attr("unique")(cond)); }

}  // namespace quend::deg
