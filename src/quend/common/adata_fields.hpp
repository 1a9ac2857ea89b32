#pragma once
// Shared by deg and tolvar: gene names to column positions, obs columns, and
// result arrays (common/arrays.hpp). Includes the label codes and the matrix
// tallies that the expression functions use with them.
#include "common/nb.hpp"

#include <cstdint>
#include <vector>

#include "common/arrays.hpp"
#include "common/label_codes.hpp"
#include "common/matrix_tally.hpp"

namespace quend::glue {

// Column positions of `genes` among `var_names`; KeyError naming the genes
// that are not there.
std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes);

// `genes` means "all genes" when None or of length 0.
bool all_genes(nb::handle genes);

// obs[column] with a KeyError that names the column.
nb::object obs_column(nb::handle obs, nb::handle column);

}  // namespace quend::glue
