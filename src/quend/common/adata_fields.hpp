#pragma once
// Shared by deg and tolvar: gene names to column positions, obs columns, and
// result arrays (common/arrays.hpp). Includes the label codes and the matrix
// tallies that the expression functions use with them.
#include "common/nb.hpp"

#include <cstdint>
#include <string>
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

// adata.X. When an AnnData's X cannot be read (an unknown encoding, a file
// cut short), anndata's own error comes through, of its type where it can,
// prefixed with `function` and chained to the original.
nb::object adata_X(nb::handle adata, const char* function);

// table[column], or a KeyError naming the column and the columns there are
// ("column 'samples' not found in obs; obs has: sample, condition"); `where`
// names the table in the message.
nb::object table_column(nb::handle table, nb::handle column, const char* where);

// The message of that KeyError, for a caller that says more around it.
std::string column_not_found(nb::handle columns, nb::handle column, const char* where);

// The matrix to read: adata.X (as adata_X reads it) when `layer` is None, else
// adata.layers[layer]; a KeyError naming `caller` and listing the layers when
// there is no such layer.
nb::object adata_matrix(nb::handle adata, nb::handle layer, const char* caller);

// obs[column], as table_column names it.
nb::object obs_column(nb::handle obs, nb::handle column);

// A UserWarning when `groups` has no group: `function` then returns a table
// without rows, and the warning says why (no cell, or every cell's
// obs[column] missing) instead of leaving the caller to guess.
void warn_if_no_group(const LabelCodes& groups, nb::handle column, const char* function);

}  // namespace quend::glue
