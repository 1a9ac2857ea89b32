#pragma once
// Welch's unequal-variance t-test over many items at once, missing values
// (NaN) omitted per item, matching scipy.stats.ttest_ind(equal_var=False,
// nan_policy='omit').
#include <cstddef>
#include <vector>

#include "core/strided.hpp"

namespace quend {

// Per-item statistics of one group of samples, NaN omitted.
struct GroupStats {
    std::vector<double> count;  // non-missing values
    std::vector<double> mean;   // NaN when count == 0
    std::vector<double> var;    // ddof = 1; NaN when count < 2
};

// Per item: the non-missing values are summed pairwise in numpy's order,
// mean = sum / n, var = mean of squared deviations * (n / (n - 1)), as
// scipy's ttest_ind forms them, so nearly constant items (where the
// difference of means cancels) still agree with it. `samples` holds sample
// positions.
GroupStats group_stats(const StridedMatrix& m, const std::vector<std::size_t>& samples);

struct WelchResult {
    std::vector<double> statistic;
    std::vector<double> df;
    std::vector<double> pvalue;  // two-sided
};

// Test of group a against group b, item by item. Items with fewer than two
// values in a group get NaN.
WelchResult welch_from_stats(const GroupStats& a, const GroupStats& b);

// Convenience: stats of both groups, then the test.
WelchResult welch_test(const StridedMatrix& m, const std::vector<std::size_t>& samples_a,
                       const std::vector<std::size_t>& samples_b);

}  // namespace quend
