#pragma once
// The tables of one two-group comparison from its statistics: correction,
// ordering, the significant rows and the verbose summary line. Shared by
// simple_DEG_pair and the one-pass route of simple_DEG.
#include "common/nb.hpp"

#include "core/deg_pair.hpp"
#include "deg/deg_args.hpp"

namespace quend::deg {

// {'error': False, 'deg', 'deg_raw'}, or the error result when no gene kept
// a p-value. `index` holds the gene labels of the table's rows.
nb::object pair_outcome(const PairStats& st, const nb::object& index, const DegArgs& args,
                        const nb::object& corr_method, const nb::object& pval_ref_col, const nb::handle& test,
                        const nb::handle& ref);

}  // namespace quend::deg
