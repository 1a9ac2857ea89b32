#pragma once
// Per-group statistics read straight from AnnData.X, whatever X is: dense
// numpy of any numeric dtype or scipy CSR/CSC read in place (one block), a
// backed file streamed in blocks (backed_tally), a Dask array reduced on the
// active scheduler (dask_tally). The sequence is written once, here: check
// the shape, plan the columns, zero the table, add the blocks, finish,
// narrow to float32, repeat selected columns.
#include "common/nb.hpp"

#include "common/label_codes.hpp"
#include "core/group_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

// The finished groups x output columns table: float64, except where the
// statistic's recipe narrows float32 values (the mean), rounded once to
// float32. `caller` names the function in progress bars.
nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat,
                       const char* caller = "group_table");

}  // namespace quend::glue
