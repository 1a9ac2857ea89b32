#include "core/tally_driver.hpp"

#include <stdexcept>
#include <string>

#include "core/group_counts.hpp"

namespace quend {

void check_matrix_shape(const CellCodes& groups, const ColumnSelection& sel, std::size_t n_rows, std::size_t n_cols) {
    if (n_rows != groups.n_cells)
        throw std::invalid_argument("adata.X has " + std::to_string(n_rows) + " rows but obs has " +
                                    std::to_string(groups.n_cells) + " cells");
    if (n_cols != sel.n_matrix_cols)
        throw std::invalid_argument("adata.X has " + std::to_string(n_cols) + " columns but var has " +
                                    std::to_string(sel.n_matrix_cols) + " genes");
}

namespace {

const ColumnSelection& checked(const ColumnSelection& sel, const CellCodes& groups, std::size_t n_rows,
                               std::size_t n_cols) {
    check_matrix_shape(groups, sel, n_rows, n_cols);
    return sel;
}

}  // namespace

TallyDriver::TallyDriver(const TallyRequest& req, const CellCodes& groups, const ColumnSelection& sel,
                         std::size_t n_rows, std::size_t n_cols)
    : req_(req),
      groups_(groups),
      plan_(plan_columns(checked(sel, groups, n_rows, n_cols))),
      n_cols_(n_cols),
      table_(PartSet(req.stats), groups.n_groups, plan_.width()) {}

void TallyDriver::add(const BlockView& b, BlockAt at) {
    if (at.row0 > groups_.n_cells || b.n_rows > groups_.n_cells - at.row0 || at.col0 > n_cols_ ||
        b.n_cols > n_cols_ - at.col0)
        throw std::invalid_argument("a block of " + std::to_string(b.n_rows) + " x " + std::to_string(b.n_cols) +
                                    " at (" + std::to_string(at.row0) + ", " + std::to_string(at.col0) +
                                    ") lies outside X's " + std::to_string(groups_.n_cells) + " x " +
                                    std::to_string(n_cols_));
    add_block(table_.tally(), b, groups_.codes + at.row0, block_columns(plan_, at.col0, b.n_cols));
}

std::vector<FinishedTable> TallyDriver::finish() {
    const std::vector<std::int64_t> sizes = code_counts(groups_.codes, groups_.n_cells, groups_.n_groups);
    return table_.finish(req_, sizes.data());
}

}  // namespace quend
