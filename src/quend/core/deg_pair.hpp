#pragma once
// Two-group differential expression over a genes x samples block: group
// means, fold change, the testable-gene rule, Welch p-values, and the
// orderings of the full and significant tables.
#include <cstddef>
#include <vector>

#include "core/strided.hpp"
#include "core/welch.hpp"

namespace quend {

struct PairStats {
    std::vector<double> mean_ref;  // every gene, NaN omitted (NaN if none left)
    std::vector<double> mean_test;
    std::vector<double> log2_fc;    // log2(mean_test / (mean_ref + 1e-10) + 1e-10)
    std::vector<std::size_t> kept;  // testable genes with a valid p-value, in gene order
    std::vector<double> pval;       // p-value of each kept gene
};

// A gene is testable when both groups have more than one value and a
// standard deviation (ddof 1) of at least 1e-08.
PairStats pair_stats(const StridedMatrix& m, const std::vector<std::size_t>& idx_ref,
                     const std::vector<std::size_t>& idx_test);

// The same from both groups' statistics, however they were gathered.
// `min_std` replaces the 1e-08 floor on both deviations; at 0 a gene is
// testable whenever the Welch denominator is positive (one group may be
// constant).
PairStats pair_from_stats(const GroupStats& ref, const GroupStats& test, double min_std = 1e-08);

struct SortedTables {
    std::vector<std::size_t> full;         // positions into kept, by p-value ascending
    std::vector<std::size_t> significant;  // positions into kept, by |log2_FC| descending
    std::size_t n_up = 0, n_down = 0;      // significant rows with log2_FC > 0 / < 0
};

// Column numbers of the table: 0 log2_FC, 1 mean_ref, 2 mean_test, 3 pval,
// 4 pval_adj, 5 |log2_FC|. Significant: column `ref_col` <= pval_cutoff and
// |log2_FC| >= logFC_cutoff (both inclusive). Sorts are stable.
double pair_value(const PairStats& s, const std::vector<double>& pval_adj, std::size_t k, int column);
SortedTables sort_and_select(const PairStats& s, const std::vector<double>& pval_adj, int ref_col, double pval_cutoff,
                             double logFC_cutoff);

}  // namespace quend
