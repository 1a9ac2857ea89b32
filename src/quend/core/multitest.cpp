#include "core/multitest.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace quend {

std::vector<double> fdr_bh(const std::vector<double>& pvalues) {
    const std::size_t n = pvalues.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    if (std::any_of(pvalues.begin(), pvalues.end(), [](double p) { return std::isnan(p); })) {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t i, std::size_t j) { return pvalues[i] < pvalues[j]; });
    } else {
        // (value, position) pairs sort in one contiguous run, several times
        // faster than an indirect stable sort, to the same order.
        std::vector<std::pair<double, std::size_t>> keyed(n);
        for (std::size_t k = 0; k < n; ++k) keyed[k] = {pvalues[k], k};
        std::sort(keyed.begin(), keyed.end());
        for (std::size_t k = 0; k < n; ++k) order[k] = keyed[k].second;
    }
    std::vector<double> adjusted_sorted(n);
    const double nobs = static_cast<double>(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double ecdf = static_cast<double>(k + 1) / nobs;
        adjusted_sorted[k] = pvalues[order[k]] / ecdf;
    }
    // Running minimum from the largest p-value down keeps the result monotone.
    for (std::size_t k = n; k-- > 1;) {
        adjusted_sorted[k - 1] = std::min(adjusted_sorted[k - 1], adjusted_sorted[k]);
    }
    std::vector<double> adjusted(n);
    for (std::size_t k = 0; k < n; ++k) adjusted[order[k]] = std::min(adjusted_sorted[k], 1.0);
    return adjusted;
}

}  // namespace quend
