#include "core/deg_pair.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/welch.hpp"

namespace quend {

PairStats pair_stats(const StridedMatrix& m, const std::vector<std::size_t>& idx_ref,
                     const std::vector<std::size_t>& idx_test) {
    return pair_from_stats(group_stats(m, idx_ref), group_stats(m, idx_test));
}

PairStats pair_from_stats(const GroupStats& ref, const GroupStats& test, double min_std) {
    const std::size_t n = ref.mean.size();
    PairStats s;
    s.mean_ref = ref.mean;
    s.mean_test = test.mean;
    s.log2_fc.resize(n);
    for (std::size_t i = 0; i < n; ++i) s.log2_fc[i] = std::log2(test.mean[i] / (ref.mean[i] + 1e-10) + 1e-10);
    const WelchResult w = welch_from_stats(test, ref);
    for (std::size_t i = 0; i < n; ++i) {
        // NaN deviations fail the comparisons, so such genes are not testable;
        // with the floor at 0, two constant groups still leave nothing to test.
        const bool testable = test.count[i] > 1 && ref.count[i] > 1 && std::sqrt(test.var[i]) >= min_std &&
                              std::sqrt(ref.var[i]) >= min_std &&
                              test.var[i] / test.count[i] + ref.var[i] / ref.count[i] > 0;
        if (testable && !std::isnan(w.pvalue[i])) {
            s.kept.push_back(i);
            s.pval.push_back(w.pvalue[i]);
        }
    }
    return s;
}

double pair_value(const PairStats& s, const std::vector<double>& pval_adj, std::size_t k, int column) {
    const std::size_t g = s.kept[k];
    switch (column) {
        case 0: return s.log2_fc[g];
        case 1: return s.mean_ref[g];
        case 2: return s.mean_test[g];
        case 3: return s.pval[k];
        case 4: return pval_adj[k];
        default: return std::fabs(s.log2_fc[g]);
    }
}

SortedTables sort_and_select(const PairStats& s, const std::vector<double>& pval_adj, int ref_col, double pval_cutoff,
                             double logFC_cutoff) {
    const std::size_t n = s.kept.size();
    SortedTables t;
    t.full.resize(n);
    std::iota(t.full.begin(), t.full.end(), std::size_t{0});
    std::stable_sort(t.full.begin(), t.full.end(), [&](std::size_t a, std::size_t b) { return s.pval[a] < s.pval[b]; });
    for (std::size_t k : t.full) {
        const double fc = s.log2_fc[s.kept[k]];
        if (pair_value(s, pval_adj, k, ref_col) <= pval_cutoff && std::fabs(fc) >= logFC_cutoff) {
            t.significant.push_back(k);
            if (fc > 0) ++t.n_up;
            if (fc < 0) ++t.n_down;
        }
    }
    std::stable_sort(t.significant.begin(), t.significant.end(), [&](std::size_t a, std::size_t b) {
        return std::fabs(s.log2_fc[s.kept[a]]) > std::fabs(s.log2_fc[s.kept[b]]);
    });
    return t;
}

}  // namespace quend
