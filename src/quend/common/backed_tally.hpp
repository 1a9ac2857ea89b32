#pragma once
// Blocks of a backed X (anndata's CSR/CSC datasets of an h5ad opened with
// backed="r", h5py/zarr dense datasets) streamed into one tally. A block
// holds about `orvalen.settings.block_bytes` of stored values (read at call
// time); CSR and dense files are cut into rows, CSC files into columns. Peak
// memory is one block, the compressed index pointer and the table.
#include "common/nb.hpp"

#include <string>
#include <utility>

#include "common/label_codes.hpp"
#include "common/matrix_kind.hpp"
#include "core/group_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

// (rows, columns) of a backed X; ValueError unless two-dimensional.
std::pair<std::size_t, std::size_t> backed_shape(nb::handle X);

// Adds every block of X into `into`, with a progress bar labelled `label`.
void stream_backed(nb::handle X, MatrixKind kind, const LabelCodes& groups, const ColumnPlan& plan, DenseTally& into,
                   const std::string& label);

// orvalen.settings.block_bytes (validated when set).
std::size_t block_bytes();

}  // namespace quend::glue
