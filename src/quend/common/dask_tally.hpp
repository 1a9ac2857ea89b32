#pragma once
// Per-group statistics of a dask.array X (numpy or scipy sparse chunks, any
// chunking along cells and genes), computed on the active scheduler (a
// user's distributed.Client included), as core/dask_plan.hpp lays it out.
//
// Each chunk task reads a few row chunks and returns its pieces, already
// cut into the plan's blocks of groups. Each block is a slab of the result
// filled by a chain of folds as the pieces arrive, and finished (narrowed
// to float32) by the chain's last step. The caller puts each finished
// slice into the one result as it arrives; X and its chunks never travel
// to it.
//
// Every task takes one picklable job description (a dict: the statistics by
// name, the width, the cells' group codes and their layout, column slots,
// chunk, task and block bounds) and checks it before any kernel walks it. The task bodies are the private
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

// Task t's row chunks of column chunk j (a list, in row order): a tuple of
// one piece per block of groups (common/tally_piece.hpp), None where the
// task has no cell of that block.
nb::object tally_chunk(nb::handle chunks, nb::handle job, std::size_t t, std::size_t j);
// One step of block k's fold chain: the pieces (None entries skipped) added
// into `slab` (None: a new one), which is returned; the last step returns
// the block's finished tables instead, a tuple of one per statistic.
nb::object tally_fold(nb::handle slab, nb::handle pieces, nb::handle job, std::size_t k, bool last);

// The task bodies above, bound as private functions of a module.
void def_dask_tasks(nb::module_& m);

}  // namespace quend::glue
