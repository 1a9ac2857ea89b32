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

    // Each bucket counted in a table of all labels; only the labels it
    // touched are read back (in label order) and reset, so the work is the
    // bucket's size, not groups x labels.
    std::size_t n_labels = 0;
    for (std::int64_t l : bucket) n_labels = std::max(n_labels, static_cast<std::size_t>(l) + 1);
    std::vector<std::int64_t> tally(n_labels, 0), touched, counts;
    std::vector<EntropyResult> out(n_groups);
    for (std::size_t g = 0; g < n_groups; ++g) {
        touched.clear();
        for (std::size_t k = start[g]; k < start[g + 1]; ++k) {
            const auto l = static_cast<std::size_t>(bucket[k]);
            if (tally[l]++ == 0) touched.push_back(bucket[k]);
        }
        std::sort(touched.begin(), touched.end());
        counts.clear();
        for (std::int64_t l : touched) {
            counts.push_back(tally[static_cast<std::size_t>(l)]);
            tally[static_cast<std::size_t>(l)] = 0;
        }
        out[g] = shannon_entropy_bits(counts.data(), counts.size());
    }
    return out;
}

}  // namespace quend
