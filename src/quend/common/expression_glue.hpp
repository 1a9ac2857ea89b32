#pragma once
// Shared by deg and tolvar: gene names to column positions, obs columns, and
// result blocks handed back as numpy arrays. Includes the label codes and the
// matrix tallies that the expression functions use with them.
#include <nanobind/nanobind.h>

#include "common/accessor_cast.hpp"

#include <cstdint>
#include <vector>

#include "common/label_codes.hpp"
#include "common/matrix_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

// Column positions of `genes` among `var_names`; KeyError naming the genes
// that are not there.
std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes);

// `genes` means "all genes" when None or of length 0.
bool all_genes(nb::handle genes);

// obs[column] with a KeyError that names the column.
nb::object obs_column(nb::handle obs, nb::handle column);

// New C-ordered float64 / float32 numpy array holding a row-major block.
nb::object numpy_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols, bool as_float32);

// New C-ordered int64 numpy array holding a row-major block.
nb::object numpy_int_matrix(const std::vector<std::int64_t>& values, std::size_t rows, std::size_t cols);

}  // namespace quend::glue
