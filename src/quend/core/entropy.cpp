#include "core/entropy.hpp"

#include "core/pairwise_sum.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>

namespace quend {

EntropyResult shannon_entropy_bits(const std::int64_t* counts, std::size_t n) {
    std::vector<std::int64_t> c;
    c.reserve(n);
    std::int64_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (counts[i] > 0) {
            c.push_back(counts[i]);
            total += counts[i];
        }
    }
    EntropyResult r;
    if (c.empty()) return r;
    std::sort(c.begin(), c.end(), std::greater<std::int64_t>());
    std::vector<double> terms(c.size());
    const double t = static_cast<double>(total);
    for (std::size_t i = 0; i < c.size(); ++i) {
        const double p = static_cast<double>(c[i]) / t;
        terms[i] = -p * std::log2(p);
    }
    r.bits = pairwise_sum(terms.data(), terms.size()) + 0.0;  // no negative zero
    r.n_nonzero = static_cast<std::int64_t>(c.size());
    return r;
}

std::vector<EntropyResult> grouped_entropy_bits(const std::int64_t* groups, const std::int64_t* labels, std::size_t n,
                                                std::size_t n_groups) {
    // Labels bucketed by group (a counting sort), then counted per bucket.
    std::vector<std::size_t> start(n_groups + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        if (groups[i] >= 0 && labels[i] >= 0) ++start[static_cast<std::size_t>(groups[i]) + 1];
    for (std::size_t g = 0; g < n_groups; ++g) start[g + 1] += start[g];
    std::vector<std::int64_t> bucket(start[n_groups]);
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < n; ++i)
        if (groups[i] >= 0 && labels[i] >= 0) bucket[fill[static_cast<std::size_t>(groups[i])]++] = labels[i];

    std::vector<EntropyResult> out(n_groups);
    std::vector<std::int64_t> counts;
    for (std::size_t g = 0; g < n_groups; ++g) {
        auto first = bucket.begin() + static_cast<std::ptrdiff_t>(start[g]);
        auto last = bucket.begin() + static_cast<std::ptrdiff_t>(start[g + 1]);
        std::sort(first, last);
        counts.clear();
        for (auto it = first; it != last;) {
            auto run = std::upper_bound(it, last, *it);
            counts.push_back(static_cast<std::int64_t>(run - it));
            it = run;
        }
        out[g] = shannon_entropy_bits(counts.data(), counts.size());
    }
    return out;
}

}  // namespace quend
