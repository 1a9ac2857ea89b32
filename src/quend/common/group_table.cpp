#include "common/group_table.hpp"

#include <memory>
#include <string>

#include "common/arrays.hpp"
#include "common/backed_tally.hpp"
#include "common/dask_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/matrix_tally.hpp"
#include "core/tally_driver.hpp"

namespace quend::glue {

namespace {

// Output columns that repeat a tallied one.
std::vector<nb::object> expanded(std::vector<nb::object> values, const ColumnPlan& plan) {
    if (plan.expand.empty()) return values;
    nb::object expand = numpy_int_vector(plan.expand);
    for (nb::object& v : values) v = v.attr("take")(expand, nb::arg("axis") = 1);
    return values;
}

std::string labelled(const TableRequest& req, const char* kind) { return std::string(req.caller) + " (" + kind + ")"; }

// A Dask X: checked and planned here, tallied on the workers.
std::vector<nb::object> dask_group_tables(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel,
                                          const TableRequest& req) {
    const auto [n_rows, n_cols] = dask_shape(X);
    const CellCodes cells = cells_of(groups);
    in_kernel([&] { check_matrix_shape(cells, sel, n_rows, n_cols); });
    if (req.stats.empty()) return {};
    const ColumnPlan plan = plan_columns(sel);
    const TallyRequest pass{req.stats, req.narrow && holds_float32(X.attr("dtype"))};
    return expanded(dask_tables(X, groups, plan, pass, labelled(req, "dask")), plan);
}

}  // namespace

std::vector<nb::object> group_tables(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel,
                                     const TableRequest& req) {
    const MatrixKind kind = matrix_kind(X);
    if (kind == MatrixKind::missing) raise(PyExc_ValueError, "adata.X holds no matrix (None)");
    if (kind == MatrixKind::unsupported) raise_unsupported_matrix(X);
    if (kind == MatrixKind::dask) return dask_group_tables(X, groups, sel, req);

    // In memory: one block. Backed: a stream of blocks, opened once the
    // shape is known to fit.
    HeldBlock block;
    std::size_t n_rows = 0, n_cols = 0;
    bool float32 = false;
    if (kind == MatrixKind::in_memory) {
        block = read_block(X);
        n_rows = block.view.n_rows;
        n_cols = block.view.n_cols;
        float32 = block.view.dtype == Dtype::f32;
    } else {
        std::tie(n_rows, n_cols) = backed_shape(X);
        float32 = holds_float32(X.attr("dtype"));
    }
    std::unique_ptr<TallyDriver> pass;
    const TallyRequest treq{req.stats, req.narrow && float32};
    const CellCodes cells = cells_of(groups);
    in_kernel([&] {
        pass = std::make_unique<TallyDriver>(treq, cells, sel, n_rows, n_cols);
        if (kind == MatrixKind::in_memory && !req.stats.empty()) pass->add(block.view, {});
    });
    if (req.stats.empty()) return {};
    if (kind != MatrixKind::in_memory) stream_backed(X, kind, *pass, labelled(req, "backed"));
    block = HeldBlock{};
    std::vector<FinishedTable> done;
    in_kernel([&] { done = pass->finish(); });
    std::vector<nb::object> values;
    for (FinishedTable& t : done) values.push_back(adopt_table(std::move(t), groups.n_labels(), pass->width()));
    return expanded(std::move(values), pass->plan());
}

nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat,
                       const char* caller) {
    TableRequest req;
    req.stats = {stat};
    req.caller = caller;
    return group_tables(X, groups, sel, req)[0];
}

}  // namespace quend::glue
