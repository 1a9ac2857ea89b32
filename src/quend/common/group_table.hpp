#pragma once
// Per-group statistics read straight from AnnData.X, whatever X is: dense
// numpy of any numeric dtype or scipy CSR/CSC read in place (one block), a
// backed file streamed in blocks (backed_tally), a Dask array reduced on the
// active scheduler (dask_tally). The sequence is written once, here: check
// the shape, plan the columns, zero the tables, add the blocks, finish,
// narrow to float32, repeat selected columns. Several statistics share one
// pass: the tally holds the union of their parts (core/tally_recipe.hpp).
#include "common/nb.hpp"

#include <vector>

#include "common/label_codes.hpp"
#include "core/group_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

struct TableRequest {
    std::vector<Stat> stats;             // one finished table per statistic, in this order, from one pass over X
    bool narrow = true;                  // float32 X gives float32 tables where the recipe narrows
    const char* caller = "group_table";  // names the progress bars
};

// One finished groups x output-columns numpy table per requested statistic:
// float64, except where `narrow` and the recipe narrows float32 values
// (rounded once to float32).
std::vector<nb::object> group_tables(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel,
                                     const TableRequest& req);

// The table of one statistic.
nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat,
                       const char* caller = "group_table");

}  // namespace quend::glue
