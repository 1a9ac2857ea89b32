#pragma once
// Per-cell labels (categorical, object, numeric, plain sequences) to integer
// codes numbered in ascending label order; missing labels get -1. The labels
// are read from a copy of their own, so a label whose hashing changes the
// caller's sequence cannot pull cells from under the reader.
#include "common/nb.hpp"

#include <cstdint>
#include <cstddef>
#include <vector>

namespace quend::glue {

namespace nb = nanobind;

struct LabelCodes {
    nb::object codes;  // int64 numpy array, one code per position (-1: missing label)
    nb::list labels;   // distinct labels, ascending by their own ordering
    const std::int64_t* data = nullptr;
    std::size_t n = 0;
    std::size_t n_labels() const { return nb::len(labels); }
};

// One vectorised factorisation, then codes renumbered so that code k is the
// k-th label in ascending order. Missing labels (whatever pandas.isna calls
// missing: None, NaN of any float type, NA, NaT) get -1. Labels that
// cannot be ordered raise TypeError, as sorting them would.
LabelCodes sorted_label_codes(nb::handle values);

// The same, numbered in order of first appearance (as pandas.unique lists
// the labels); no ordering of the labels is needed.
LabelCodes appearance_label_codes(nb::handle values);

// The positions whose label equals each group, compared as `labels == group`
// compares them (the labels' own elementwise equality: a label unequal to
// itself, such as NaN, is in no group), ascending within each group.
struct GroupPositions {
    std::vector<std::vector<std::size_t>> members;  // one list per group, in the groups' order
    bool one_per_label = true;                      // every comparison gave one truth value per label
};
GroupPositions group_positions(nb::handle labels, const nb::list& groups);

}  // namespace quend::glue
