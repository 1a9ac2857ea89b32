#pragma once
// Shared by deg and tolvar: gene names to column positions, obs columns, and
// result arrays (common/arrays.hpp). Includes the label codes and the matrix
// tallies that the expression functions use with them.
#include "common/nb.hpp"

#include <cstdint>
#include <vector>

#include "common/arrays.hpp"
#include "common/label_codes.hpp"
#include "common/group_table.hpp"

namespace quend::glue {

// Column positions of `genes` among `var_names`; KeyError naming the genes
// that are not there. Repeated gene names are common in real data: a name
// asked for that occurs more than once raises ValueError naming it.
std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes);

// `genes` means "all genes" when None or of length 0.
bool all_genes(nb::handle genes);

// A gene list that can be read more than once: a generator or other
// iterator becomes a list; anything sized passes through.
nb::object gene_list(nb::handle genes);

// TypeError unless `adata` looks like an AnnData (obs, var and X), naming
// the function, the parameter and what was given (a DataFrame, say).
void require_anndata(nb::handle adata, const char* function, const char* param);

// obs[column] with a KeyError that names the column.
nb::object obs_column(nb::handle obs, nb::handle column);

}  // namespace quend::glue
