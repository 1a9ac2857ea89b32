#pragma once
// Tallies of a backed X (anndata's CSR/CSC datasets of an h5ad opened with
// backed="r", h5py/zarr dense datasets) streamed in blocks through the
// in-memory kernel. A block holds about `orvalen.settings.block_bytes` of
// stored values (read at call time); CSR and dense files are cut into rows,
// CSC files into columns. Peak memory is one block, the compressed index
// pointer and the groups x genes results.
#include "common/nb.hpp"

#include "common/matrix_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

MatrixTallies tally_backed(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums);

// orvalen.settings.block_bytes, at least 1.
std::size_t block_bytes();

}  // namespace quend::glue
