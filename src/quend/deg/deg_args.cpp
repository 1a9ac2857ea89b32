// Checks of the expression table and condition labels shared by simple_DEG_pair
// and simple_DEG.
#include "deg/deg_args.hpp"

#include <string>

#include "common/errors.hpp"

namespace quend::deg {

namespace {

constexpr const char* kLayout = "expected genes as rows, one condition per sample column";

}  // namespace

nb::object float_frame(const nb::object& df) {
    nb::object pd = glue::ns("pd");
    if (!nb::hasattr(df, "astype") || !nb::hasattr(df, "columns"))
        glue::raise(PyExc_TypeError, "df_gene_by_sample_log_expr must be a pandas DataFrame (" + std::string(kLayout) +
                                         "), got " + glue::py_type_name(df));
    if (is_instance(df, pd.attr("DataFrame"))) {
        nb::object f64 = glue::ns("np").attr("dtype")("float64");
        nb::object same = df.attr("dtypes").attr("__eq__")(f64).attr("all")();
        if (glue::truthy(same)) return df;
    }
    try {
        return df.attr("astype")(quend::glue::builtin("float"));
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_ValueError)) throw;
        glue::raise(PyExc_ValueError, std::string(kLayout) + " holding numbers; " + glue::to_str(e.value()));
    }
}

nb::object condition_series(const nb::object& condition_list, const nb::object& expr) {
    const std::size_t n_cols = nb::len(nb::object(expr.attr("columns")));
    const Py_ssize_t n_conds = PyObject_Length(condition_list.ptr());
    if (n_conds < 0) {
        PyErr_Clear();  // no length (an iterator): the Series construction decides
    } else if (static_cast<std::size_t>(n_conds) != n_cols) {
        glue::raise(PyExc_ValueError, std::string(kLayout) + "; got " + std::to_string(n_conds) + " conditions for " +
                                          std::to_string(n_cols) + " columns");
    }
    nb::object pd = glue::ns("pd");
    if (is_instance(condition_list, pd.attr("Series"))) return condition_list;
    return pd.attr("Series")(condition_list, nb::arg("index") = expr.attr("columns"));
}

}  // namespace quend::deg
