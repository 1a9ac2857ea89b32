#pragma once
// What kind of matrix a caller handed over as X, decided without importing
// anything new: Dask and h5py are only recognised when already imported, so
// the in-memory path never loads them.
#include "common/nb.hpp"

namespace quend::glue {

namespace nb = nanobind;

enum class MatrixKind {
    missing,        // None
    in_memory,      // numpy array (or list, table), scipy sparse matrix/array
    backed_sparse,  // anndata CSR/CSC dataset of a backed file
    backed_dense,   // h5py / zarr dataset
    dask,           // dask.array.Array
    unsupported,
};

MatrixKind matrix_kind(nb::handle X);

// TypeError naming X's type and the kinds that are read.
[[noreturn]] void raise_unsupported_matrix(nb::handle X);

// X.dtype is float32 once read the way the kernels read it (float16 widened
// to float32, non-native byte orders to float64).
bool holds_float32(nb::handle dtype);

}  // namespace quend::glue
