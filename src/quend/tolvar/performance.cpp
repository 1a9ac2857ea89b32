// Per-class and overall scores of predicted labels against reference labels.
// Counts and divisions go through numpy scalars so a zero denominator gives
// NaN (with numpy's warning) exactly as numpy arithmetic does.
#include "common/pyglue.hpp"
#include "tolvar/functions.hpp"

namespace quend::tolvar {

namespace {

nb::object checked(PyObject* r) {
    if (!r) throw nb::python_error();
    return nb::steal(r);
}
nb::object eq(nb::handle a, nb::handle b) { return checked(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ)); }
nb::object band(nb::handle a, nb::handle b) { return checked(PyNumber_And(a.ptr(), b.ptr())); }
nb::object inv(nb::handle a) { return checked(PyNumber_Invert(a.ptr())); }
nb::object mul(nb::handle a, nb::handle b) { return checked(PyNumber_Multiply(a.ptr(), b.ptr())); }
nb::object add(nb::handle a, nb::handle b) { return checked(PyNumber_Add(a.ptr(), b.ptr())); }
nb::object div(nb::handle a, nb::handle b) { return checked(PyNumber_TrueDivide(a.ptr(), b.ptr())); }
nb::object fmt(const char* f, nb::handle v) { return checked(PyNumber_Remainder(nb::str(f).ptr(), v.ptr())); }

// Plain sequences compare element-wise only as arrays.
nb::object as_labels(O v, nb::handle np) {
    if (PyList_Check(v.ptr()) || PyTuple_Check(v.ptr())) return np.attr("asarray")(v);
    return v;
}

}  // namespace

O evaluate_performance(O y, O y_pred, O labels) {
    nb::object np = quend::glue::ns("np");
    y = as_labels(y, np);
    y_pred = as_labels(y_pred, np);
    nb::object sum = np.attr("sum"), round = np.attr("round");
    nb::dict perf;
    nb::object acc = div(sum(eq(y, y_pred)), nb::int_(nb::len(y)));
    perf["Accuracy"] = round(acc, 3);
    perf["F1"] = 0;
    nb::list f1_all, nc;
    for (nb::handle t : labels) {
        nb::object b1 = eq(y, t), b2 = eq(y_pred, t);
        nb::object bc = band(b1, b2);
        nb::object prec = div(sum(bc), sum(b2));
        nb::object recall = div(sum(bc), sum(b1));
        nb::object not_b1 = inv(b1);
        nb::object fpr = div(sum(band(not_b1, b2)), sum(not_b1));
        nb::object f1 = div(mul(mul(nb::int_(2), prec), recall), add(prec, recall));
        perf[fmt("F1 (%s)", t)] = round(f1, 3);
        perf[fmt("Precision (%s)", t)] = round(prec, 3);
        perf[fmt("Recall (%s)", t)] = round(recall, 3);
        perf[fmt("FPR (%s)", t)] = round(fpr, 3);
        f1_all.append(f1);
        nc.append(sum(b1));
    }
    nb::object n_arr = np.attr("array")(nc);
    nb::object f1 = div(sum(mul(np.attr("array")(f1_all), n_arr)), sum(n_arr));
    perf["F1"] = round(f1, 3);
    return perf;
}

}  // namespace quend::tolvar
