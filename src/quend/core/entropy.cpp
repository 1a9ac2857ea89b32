#include "core/entropy.hpp"

#include "core/pairwise_sum.hpp"

#include <algorithm>
#include <cmath>
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

}  // namespace quend
