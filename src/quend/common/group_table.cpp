#include "common/group_table.hpp"

#include <string>

#include "common/arrays.hpp"
#include "common/backed_tally.hpp"
#include "common/dask_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/matrix_tally.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

std::vector<nb::object> group_tables(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel,
                                     const TableRequest& req) {
    const MatrixKind kind = matrix_kind(X);
    if (kind == MatrixKind::missing) raise(PyExc_ValueError, "adata.X holds no matrix (None)");
    if (kind == MatrixKind::unsupported) raise_unsupported_matrix(X);

    // Check: the shape, and whether the values are float32.
    HeldBlock in_memory;
    std::size_t n_rows = 0, n_cols = 0;
    bool float32 = false;
    if (kind == MatrixKind::in_memory) {
        in_memory = read_block(X);
        n_rows = in_memory.view.n_rows;
        n_cols = in_memory.view.n_cols;
        float32 = in_memory.view.dtype == Dtype::f32;
    } else {
        const auto [r, c] = kind == MatrixKind::dask ? dask_shape(X) : backed_shape(X);
        n_rows = r;
        n_cols = c;
        float32 = holds_float32(X.attr("dtype"));
    }
    check_rows(n_rows, groups.n);
    check_cols(n_cols, sel.n_matrix_cols);
    if (req.stats.empty()) return {};

    const ColumnPlan plan = plan_columns(sel);
    const bool narrow = req.narrow && float32;
    const std::vector<std::int64_t> sizes = group_sizes(groups);
    std::vector<nb::object> values;
    if (kind == MatrixKind::dask) {
        // Finished and narrowed slice by slice on the workers.
        values = dask_tables(X, groups, plan, req.stats, sizes, narrow, std::string(req.caller) + " (dask)");
    } else {
        TallyTable table(PartSet(req.stats), groups.n_labels(), plan.width());
        if (kind == MatrixKind::in_memory)
            add_block(table.tally(), in_memory, groups.data, block_columns(plan, 0, n_cols));
        else
            stream_backed(X, kind, groups, plan, table.tally(), std::string(req.caller) + " (backed)");
        in_memory = HeldBlock{};
        std::vector<FinishedTable> done;
        in_kernel([&] { done = table.finish(req.stats, sizes.data(), narrow); });
        for (FinishedTable& t : done) values.push_back(adopt_table(std::move(t), groups.n_labels(), plan.width()));
    }
    if (plan.expand.empty()) return values;
    nb::object expand = numpy_int_vector(plan.expand);
    for (nb::object& v : values) v = v.attr("take")(expand, nb::arg("axis") = 1);
    return values;
}

nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat,
                       const char* caller) {
    TableRequest req;
    req.stats = {stat};
    req.caller = caller;
    return group_tables(X, groups, sel, req)[0];
}

}  // namespace quend::glue
