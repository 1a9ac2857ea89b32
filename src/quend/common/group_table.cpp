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

nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat,
                       const char* caller) {
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

    const ColumnPlan plan = plan_columns(sel);
    const bool narrow = recipe_info(stat).narrows && float32;
    const std::vector<std::int64_t> sizes = group_sizes(groups);
    nb::object values;
    if (kind == MatrixKind::dask) {
        // Finished and narrowed slice by slice on the workers.
        values = dask_table(X, groups, plan, stat, sizes, narrow, std::string(caller) + " (dask)");
    } else {
        TallyTable table(stat, groups.n_labels(), plan.width());
        if (kind == MatrixKind::in_memory)
            add_block(table.tally(), in_memory, groups.data, block_columns(plan, 0, n_cols));
        else
            stream_backed(X, kind, groups, plan, table.tally(), std::string(caller) + " (backed)");
        in_memory = HeldBlock{};
        in_kernel([&] { table.finish(sizes.data(), narrow); });
        values = adopt_table(table, narrow);
    }
    if (plan.expand.empty()) return values;
    return values.attr("take")(numpy_int_vector(plan.expand), nb::arg("axis") = 1);
}

}  // namespace quend::glue
