#pragma once
// What simple_DEG and simple_DEG_adata share: the mode line and its
// reference check, the result dictionaries, and every comparison formed
// from each group's statistics (and each group's rest) gathered in one pass.
#include "common/nb.hpp"

#include <cstddef>
#include <vector>

#include "core/welch.hpp"
#include "deg/deg_args.hpp"

namespace quend::deg {

// "### MODE: ... ###" when verbose; then, with a reference, ValueError unless
// it is among `unique_groups` (the list the message shows).
void announce_mode(const nb::object& ref_condition, const nb::list& unique_groups, bool verbose);

// The two result dictionaries, keyed "<group>_vs_others".
struct DegDicts {
    nb::dict deg, deg_raw;
    // Keeps a successful pair result; a failed one is left out silently.
    void add(const nb::object& result, const nb::handle& group);
    nb::object tuple() const { return nb::make_tuple(deg, deg_raw); }
};

// Each group's statistics, and in one-vs-rest mode each group's rest (every
// sample outside the group, samples in no group included).
struct GroupedStats {
    nb::list groups;                // labels, in the order comparisons run
    std::vector<std::size_t> size;  // samples per group
    std::size_t n_samples = 0;      // all samples
    std::vector<GroupStats> own;    // per group
    std::vector<GroupStats> rest;   // per group; empty with a reference
};

// Every comparison of the mode (one-vs-rest when ref_condition is None), in
// group order, as the module's own simple_DEG_pair runs it; comparisons it
// could not run (a group named like its reference, fewer than two samples
// on a side) are skipped. `index` labels the genes.
void compare_groups(const GroupedStats& gs, const nb::object& ref_condition, const DegArgs& args,
                    const nb::object& corr_method, const nb::object& pval_ref_col, const nb::object& index,
                    DegDicts& out);

}  // namespace quend::deg
