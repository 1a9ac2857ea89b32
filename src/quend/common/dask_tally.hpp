#pragma once
// Tallies of a dask.array X (numpy or scipy sparse chunks, any chunking along
// cells and genes): one task per chunk runs the kernel and returns a partial
// tally, partials are added in a tree of tasks, and the graph is computed on
// the active scheduler (a user's distributed.Client included). X and its
// chunks never travel to the caller; only the groups x genes result does.
// The task bodies are the private functions below, reached on workers through
// orvalen._dask (compiled functions do not pickle).
#include "common/nb.hpp"

#include "common/matrix_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

MatrixTallies tally_dask(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums);

// Partial tally of one chunk holding rows [r0, r1) and matrix columns
// [c0, c0 + chunk width): (group_size, positive, sum, missing) numpy arrays,
// sum and missing None without sums. `cols` is the int64 array of selected
// columns or None for all of them.
nb::object chunk_tallies(nb::handle chunk, nb::handle codes, std::size_t r0, std::size_t r1, std::size_t n_groups,
                         nb::handle cols, std::size_t n_matrix_cols, std::size_t c0, bool count_sizes, bool with_sums);

// Sum of partial tallies.
nb::object merge_tallies(nb::handle parts);

// The private bindings above, added to a module.
void def_dask_tasks(nb::module_& m);

}  // namespace quend::glue
