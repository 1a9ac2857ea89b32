#pragma once
// Per-group statistics of a dask.array X (numpy or scipy sparse chunks, any
// chunking along cells and genes), computed on the active scheduler (a
// user's distributed.Client included), as core/dask_plan.hpp lays it out.
//
// Each chunk task returns its partial (dense rows or compressed pairs, the
// recipe's named intermediates) already cut into the plan's blocks of
// groups. Each block is reduced on its own: its pieces merged in a tree
// bounded by bytes where the plan asks, then added into that block's slice
// of the result and finished (narrowed to float32) there. The caller puts
// each finished slice into the one result as it arrives; X and its chunks
// never travel to it.
//
// Every task takes one picklable job description (a dict: the statistics by name,
// the width, the cells' group codes, column slots, chunk and block bounds)
// and checks it before any kernel walks it. The task bodies are the private
// functions below, bound in each module that reads X and reached on workers
// through orvalen._dask (compiled functions do not pickle).
#include "common/nb.hpp"

#include <string>
#include <utility>
#include <vector>

#include "common/label_codes.hpp"
#include "core/group_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

// sys.modules["distributed"].default_client(), or None.
nb::object active_client();

// (rows, columns) of a Dask X from its chunks; ValueError for unknown sizes.
std::pair<std::size_t, std::size_t> dask_shape(nb::handle X);

// One finished groups x tallied columns table per requested statistic,
// from one pass (X's shape checked by the caller).
std::vector<nb::object> dask_tables(nb::handle X, const LabelCodes& groups, const ColumnPlan& plan,
                                    const TallyRequest& req, const std::string& label);

// Chunk (i, j) of X: a tuple of one piece per block of groups, None where
// the chunk has no cell of that block. A piece is a dict of numpy arrays:
// "groups", "ptr" and "cols" (compressed pieces), one array per intermediate.
nb::object tally_chunk(nb::handle chunk, nb::handle job, std::size_t i, std::size_t j);
// Sum of pieces (None entries skipped): one piece, or None.
nb::object tally_merge(nb::handle pieces, nb::handle job);
// Block k of the result from its pieces, finished: a tuple of one table per
// statistic ("stats" in the job), or the table of "stat".
nb::object tally_finish(nb::handle pieces, nb::handle job, std::size_t k);

// The task bodies above, bound as private functions of a module.
void def_dask_tasks(nb::module_& m);

}  // namespace quend::glue
