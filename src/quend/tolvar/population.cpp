// Sample-by-cell-type counts and percentages, tallied in one pass over cells.
#include <string>
#include <vector>

#include "common/expression_glue.hpp"
#include "common/pyglue.hpp"
#include "core/group_counts.hpp"
#include "tolvar/functions.hpp"

namespace quend::tolvar {

namespace {

nb::object as_sized(O values) {
    if (nb::hasattr(values, "__len__")) return values;
    return quend::glue::builtin("list")(values);
}

}  // namespace

O get_population(O pids, O cts, O sort_by) {
    using namespace quend::glue;
    nb::object pd = ns("pd");
    pids = as_sized(pids);
    cts = as_sized(cts);
    const std::size_t n_p = nb::len(pids), n_c = nb::len(cts);
    if (n_p != n_c) {
        const std::string msg = "pids and cts must hold one entry per cell: got " + std::to_string(n_p) +
                                " sample labels and " + std::to_string(n_c) + " cell-type labels";
        PyErr_SetString(PyExc_IndexError, msg.c_str());
        throw nb::python_error();
    }
    LabelCodes samples = sorted_label_codes(pids);
    LabelCodes types = sorted_label_codes(cts);
    const std::size_t ns_ = samples.n_labels(), nt = types.n_labels();
    const std::vector<std::int64_t> counts = cross_counts(samples.data, types.data, samples.n, ns_, nt);

    std::vector<double> pct(counts.size());
    for (std::size_t p = 0; p < ns_; ++p) {
        std::int64_t total = 0;
        for (std::size_t t = 0; t < nt; ++t) total += counts[p * nt + t];
        for (std::size_t t = 0; t < nt; ++t)
            pct[p * nt + t] = static_cast<double>(counts[p * nt + t]) / static_cast<double>(total) * 100.0;
    }
    nb::object df_cnt = pd.attr("DataFrame")(numpy_int_matrix(counts, ns_, nt), nb::arg("index") = samples.labels,
                                             nb::arg("columns") = types.labels);
    nb::object df_pct = pd.attr("DataFrame")(numpy_matrix(pct, ns_, nt, false), nb::arg("index") = samples.labels,
                                             nb::arg("columns") = types.labels);
    if (nb::len(sort_by) > 0) df_pct.attr("sort_values")(nb::arg("by") = sort_by, nb::arg("inplace") = true);
    return nb::make_tuple(df_cnt, df_pct);
}

}  // namespace quend::tolvar
