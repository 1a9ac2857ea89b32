// Per-class and overall scores of predicted labels against reference labels.
// Counts and divisions go through numpy scalars so a zero denominator gives
// NaN (with numpy's warning) exactly as numpy arithmetic does.
#include "common/pyglue.hpp"
#include "tolvar/op.hpp"
#include "tolvar/performance_doc.hpp"

namespace quend::tolvar {

namespace {

// Plain sequences compare element-wise only as arrays.
nb::object as_labels(O v, nb::handle np) {
    if (PyList_Check(v.ptr()) || PyTuple_Check(v.ptr())) return np.attr("asarray")(v);
    return v;
}

// Element-wise == (an array of truth values for arrays and Series).
nb::object eq(nb::handle a, nb::handle b) { return quend::glue::compare(a, b, Py_EQ); }

}  // namespace

O evaluate_performance(O y, O y_pred, O labels) {
    nb::object np = quend::glue::ns("np");
    y = as_labels(y, np);
    y_pred = as_labels(y_pred, np);
    nb::object sum = np.attr("sum"), round = np.attr("round");
    nb::dict perf;
    nb::object acc = sum(eq(y, y_pred)) / nb::int_(nb::len(y));
    perf["Accuracy"] = round(acc, 3);
    perf["F1"] = 0;
    nb::list f1_all, nc;
    for (nb::handle t : labels) {
        nb::object b1 = eq(y, t), b2 = eq(y_pred, t);
        nb::object bc = b1 & b2;
        nb::object prec = sum(bc) / sum(b2);
        nb::object recall = sum(bc) / sum(b1);
        nb::object not_b1 = ~b1;
        nb::object fpr = sum(not_b1 & b2) / sum(not_b1);
        nb::object f1 = nb::int_(2) * prec * recall / (prec + recall);
        perf[nb::str("F1 (%s)") % t] = round(f1, 3);
        perf[nb::str("Precision (%s)") % t] = round(prec, 3);
        perf[nb::str("Recall (%s)") % t] = round(recall, 3);
        perf[nb::str("FPR (%s)") % t] = round(fpr, 3);
        f1_all.append(f1);
        nc.append(sum(b1));
    }
    nb::object n_arr = np.attr("array")(nc);
    nb::object f1 = sum(np.attr("array")(f1_all) * n_arr) / sum(n_arr);
    perf["F1"] = round(f1, 3);
    return perf;
}

void bind_evaluate_performance(nb::module_& m) {
    glue::def(m, &evaluate_performance,
              "def evaluate_performance(y`: typing.Any`, y_pred`: typing.Any`, labels`: "
              "collections.abc.Sequence[typing.Any]`=['Tumor', 'Normal'])` -> dict[str, float]`",
              doc::evaluate_performance);
}

}  // namespace quend::tolvar
