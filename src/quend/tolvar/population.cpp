// Sample-by-cell-type counts and percentages, tallied in one pass over cells.
#include <string>
#include <vector>

#include "common/adata_fields.hpp"
#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "core/group_counts.hpp"
#include "tolvar/op.hpp"
#include "tolvar/population_doc.hpp"

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
        raise(PyExc_IndexError, msg);
    }
    LabelCodes samples = sorted_label_codes(pids);
    LabelCodes types = sorted_label_codes(cts);
    std::size_t ns_ = samples.n_labels(), nt = types.n_labels();
    std::vector<std::int64_t> counts = cross_counts(samples.data, types.data, samples.n, ns_, nt);
    // Cells lacking either label are not counted (as in a crosstab), so a
    // label seen only on such cells has no row or column at all.
    std::vector<std::int64_t> row_total(ns_, 0), col_total(nt, 0);
    for (std::size_t p = 0; p < ns_; ++p)
        for (std::size_t t = 0; t < nt; ++t) {
            row_total[p] += counts[p * nt + t];
            col_total[t] += counts[p * nt + t];
        }
    std::vector<std::size_t> rows, cols;
    nb::list row_labels, col_labels;
    for (std::size_t p = 0; p < ns_; ++p)
        if (row_total[p] > 0) rows.push_back(p), row_labels.append(samples.labels[p]);
    for (std::size_t t = 0; t < nt; ++t)
        if (col_total[t] > 0) cols.push_back(t), col_labels.append(types.labels[t]);
    if (rows.size() != ns_ || cols.size() != nt) {
        std::vector<std::int64_t> kept;
        kept.reserve(rows.size() * cols.size());
        for (std::size_t p : rows)
            for (std::size_t t : cols) kept.push_back(counts[p * nt + t]);
        counts.swap(kept);
        ns_ = rows.size();
        nt = cols.size();
    }

    std::vector<double> pct(counts.size());
    for (std::size_t p = 0; p < ns_; ++p) {
        std::int64_t total = 0;
        for (std::size_t t = 0; t < nt; ++t) total += counts[p * nt + t];
        for (std::size_t t = 0; t < nt; ++t)
            pct[p * nt + t] = static_cast<double>(counts[p * nt + t]) / static_cast<double>(total) * 100.0;
    }
    nb::object df_cnt = pd.attr("DataFrame")(numpy_int_matrix(counts, ns_, nt), nb::arg("index") = row_labels,
                                             nb::arg("columns") = col_labels);
    nb::object df_pct = pd.attr("DataFrame")(numpy_matrix(pct, ns_, nt, false), nb::arg("index") = row_labels,
                                             nb::arg("columns") = col_labels);
    // A sorted copy rather than inplace=True, which pandas 3 deprecates; the
    // table is ours, so nothing else sees the difference.
    if (nb::len(sort_by) > 0) df_pct = df_pct.attr("sort_values")(nb::arg("by") = sort_by);
    return nb::make_tuple(df_cnt, df_pct);
}

void bind_get_population(nb::module_& m) {
    glue::def(m, &get_population,
              "def get_population(pids`: collections.abc.Sequence | pandas.Series | numpy.ndarray`, cts`: "
              "collections.abc.Sequence | pandas.Series | numpy.ndarray`, sort_by`: str | list[str]`=[])` -> "
              "tuple[pandas.DataFrame, pandas.DataFrame]`",
              doc::get_population);
}

}  // namespace quend::tolvar
