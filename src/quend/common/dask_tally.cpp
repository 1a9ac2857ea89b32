#include "common/dask_tally.hpp"

#include <nanobind/ndarray.h>

#include <cmath>
#include <cstring>
#include <string>

#include "common/errors.hpp"
#include "common/adata_fields.hpp"
#include "common/matrix_kind.hpp"
#include "common/pyglue.hpp"
#include "core/tally_merge.hpp"

namespace quend::glue {

namespace {

// Partials added per merge task: a shallow tree keeps few, small tasks.
constexpr std::size_t kFanIn = 8;

std::vector<std::int64_t> int64_vector(nb::handle arr) {
    auto a = nb::cast<ConstArray<std::int64_t>>(arr);
    return std::vector<std::int64_t>(a.data(), a.data() + a.size());
}

nb::object to_python(const GroupTallies& t) {
    nb::object sizes = numpy_int_vector(t.group_size);
    nb::object positive = numpy_int_matrix(t.positive, t.n_groups, t.n_cols);
    if (!t.with_sums) return nb::make_tuple(sizes, positive, nb::none(), nb::none());
    return nb::make_tuple(sizes, positive, numpy_matrix(t.sum, t.n_groups, t.n_cols, false),
                          numpy_int_matrix(t.missing, t.n_groups, t.n_cols));
}

GroupTallies from_python(nb::handle part) {
    nb::tuple p = nb::cast<nb::tuple>(part);
    GroupTallies t;
    t.group_size = int64_vector(p[0]);
    auto pos = nb::cast<ConstArray<std::int64_t>>(p[1]);
    t.n_groups = t.group_size.size();
    t.n_cols = pos.ndim() == 2 ? pos.shape(1) : 0;
    t.positive.assign(pos.data(), pos.data() + pos.size());
    t.with_sums = !p[2].is_none();
    if (t.with_sums) {
        auto s = nb::cast<ConstArray<double>>(p[2]);
        t.sum.assign(s.data(), s.data() + s.size());
        t.missing = int64_vector(p[3]);
    }
    return t;
}

std::vector<std::size_t> chunk_sizes(nb::handle axis_chunks) {
    std::vector<std::size_t> out;
    for (nb::handle c : axis_chunks) {
        const double v = nb::cast<double>(builtin("float")(c));
        if (std::isnan(v))
            raise(PyExc_ValueError, "X is a dask array with unknown chunk sizes; call X.compute_chunk_sizes() first");
        out.push_back(static_cast<std::size_t>(v));
    }
    return out;
}

}  // namespace

nb::object chunk_tallies(nb::handle chunk, nb::handle codes, std::size_t r0, std::size_t r1, std::size_t n_groups,
                         nb::handle cols, std::size_t n_matrix_cols, std::size_t c0, bool count_sizes, bool with_sums) {
    auto all_codes = nb::cast<ConstArray<std::int64_t>>(codes);
    if (r1 < r0 || r1 > all_codes.size()) raise(PyExc_ValueError, "chunk rows outside the cell labels");
    ColumnSelection sel{n_matrix_cols, {}};
    if (!cols.is_none()) sel.cols = int64_vector(cols);
    nb::tuple shape = nb::cast<nb::tuple>(chunk.attr("shape"));
    const std::size_t width = nb::cast<std::size_t>(shape[1]);
    return to_python(
        tally_window(chunk, all_codes.data() + r0, r1 - r0, n_groups, sel, c0, width, count_sizes, with_sums));
}

nb::object merge_tallies(nb::handle parts) {
    GroupTallies acc;
    bool first = true;
    for (nb::handle p : parts) {
        if (first) {
            acc = from_python(p);
            first = false;
        } else {
            add_tallies(acc, from_python(p));
        }
    }
    if (first) raise(PyExc_ValueError, "no partial tallies to merge");
    return to_python(acc);
}

MatrixTallies tally_dask(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums) {
    nb::object dask = nb::module_::import_("dask");
    nb::object tasks = nb::module_::import_("orvalen._dask");
    nb::object delayed = dask.attr("delayed");
    nb::tuple shape = nb::cast<nb::tuple>(X.attr("shape"));
    if (nb::len(shape) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    nb::tuple chunks = nb::cast<nb::tuple>(X.attr("chunks"));
    const std::vector<std::size_t> rows = chunk_sizes(chunks[0]), widths = chunk_sizes(chunks[1]);
    std::size_t n_rows = 0;
    for (std::size_t r : rows) n_rows += r;
    if (n_rows != groups.n)
        raise(PyExc_ValueError,
              "adata.X has " + std::to_string(n_rows) + " rows but obs has " + std::to_string(groups.n) + " cells");

    // Labels and the column selection travel once, as their own graph keys.
    nb::object codes = delayed(groups.codes, nb::arg("pure") = true);
    nb::object cols =
        sel.cols.empty() ? nb::none() : nb::object(delayed(numpy_int_vector(sel.cols), nb::arg("pure") = true));
    nb::object chunk_task = delayed(tasks.attr("chunk_tallies"), nb::arg("pure") = true);
    nb::object merge_task = delayed(tasks.attr("merge_tallies"), nb::arg("pure") = true);
    nb::object blocks = X.attr("to_delayed")();
    nb::list parts;
    std::size_t r0 = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::size_t c0 = 0;
        for (std::size_t j = 0; j < widths.size(); ++j) {
            parts.append(chunk_task(blocks[nb::make_tuple(i, j)], codes, r0, r0 + rows[i], groups.n_labels(), cols,
                                    sel.n_matrix_cols, c0, j == 0, with_sums));
            c0 += widths[j];
        }
        r0 += rows[i];
    }
    MatrixTallies out;
    out.float32 = holds_float32(X.attr("dtype"));
    if (nb::len(parts) == 0 || widths.empty()) {
        // No chunk along one axis: nothing to read.
        const std::size_t n_out = sel.cols.empty() ? sel.n_matrix_cols : sel.cols.size();
        out.tallies = empty_tallies(groups.n_labels(), n_out, with_sums, groups.data, groups.n);
        return out;
    }
    while (nb::len(parts) > 1) {
        nb::list next;
        const std::size_t n = nb::len(parts);
        for (std::size_t k = 0; k < n; k += kFanIn)
            next.append(merge_task(nb::handle(parts)[py_slice(k, std::min(n, k + kFanIn))]));
        parts = next;
    }
    nb::object total = dask.attr("compute")(parts[0]);
    out.tallies = from_python(nb::cast<nb::tuple>(total)[0]);
    return out;
}

void def_dask_tasks(nb::module_& m) {
    m.def("_chunk_tallies", &chunk_tallies, nb::arg("chunk"), nb::arg("codes"), nb::arg("r0"), nb::arg("r1"),
          nb::arg("n_groups"), nb::arg("cols").none(), nb::arg("n_matrix_cols"), nb::arg("c0"), nb::arg("count_sizes"),
          nb::arg("with_sums"),
          nb::sig(
              "def _chunk_tallies(chunk: typing.Any, codes: numpy.ndarray, r0: int, r1: int, n_groups: int, "
              "cols: numpy.ndarray | None, n_matrix_cols: int, c0: int, count_sizes: bool, with_sums: bool) -> tuple"),
          "Partial per-group tallies of one chunk of X.");
    m.def("_merge_tallies", &merge_tallies, nb::arg("parts"), nb::sig("def _merge_tallies(parts: typing.Any) -> tuple"),
          "Sum of partial per-group tallies.");
}

}  // namespace quend::glue
