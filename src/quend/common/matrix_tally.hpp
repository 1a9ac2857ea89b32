#pragma once
// Per-group tallies read straight from AnnData.X: dense numpy of any numeric
// dtype, scipy CSR/CSC in place.
#include "common/nb.hpp"

#include "common/label_codes.hpp"
#include "core/group_expression.hpp"

namespace quend::glue {

namespace nb = nanobind;

struct MatrixTallies {
    GroupTallies tallies;
    bool float32 = false;  // X holds float32 values
};

MatrixTallies tally_matrix(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums);

}  // namespace quend::glue
