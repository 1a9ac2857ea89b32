#pragma once
// Per-group statistics of a dask.array X (numpy or scipy sparse chunks, any
// chunking along cells and genes), computed on the active scheduler (a
// user's distributed.Client included).
//
// Each chunk task returns the chunk's sparse partial (core/group_tally.hpp),
// already cut into the result's blocks of groups, so that what a task holds
// is bounded by the chunk's stored values whatever the number of groups.
// Each block of groups is then reduced on its own: partials merged in a tree
// whose task inputs are bounded by bytes, then added into that block's slice
// of the result and finished there. Only the finished slices come back to
// the caller, who stacks them; X and its chunks never travel. The task
// bodies are the private functions below, reached on workers through
// orvalen._dask (compiled functions do not pickle).
#include "common/nb.hpp"

#include "common/matrix_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

nb::object tally_dask(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat);

// The partial of chunk (i, j), holding rows [r0, r1) and matrix columns
// [c0, c0 + width), cut at the group bounds `starts` (ascending, first 0):
// a tuple of one piece per block, None where the chunk has no value there.
// A piece is (groups, ptr, cols, value, missing) numpy arrays.
nb::object chunk_partials(nb::handle chunk, nb::handle codes, std::size_t i, std::size_t j, std::size_t r0,
                          std::size_t r1, std::size_t c0, std::size_t width, nb::handle slot, bool all_cols,
                          std::size_t n_tallied, int stat, nb::handle starts);

// Sum of pieces (None entries skipped): one piece, or None.
nb::object merge_partials(nb::handle pieces, std::size_t n_tallied, int stat);

// Pieces of groups [g0, g0 + len(sizes)) added into that slice of the
// result and finished: a float64 array (float32 when `narrow`), groups x
// tallied columns.
nb::object finish_partials(nb::handle pieces, std::int64_t g0, nb::handle sizes, std::size_t n_tallied, int stat,
                           bool narrow);

// The private bindings above, added to a module.
void def_dask_tasks(nb::module_& m);

}  // namespace quend::glue
