#include "core/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

namespace quend {

namespace {

// numpy's blocked pairwise sum: eight accumulators up to 128 values, halves
// (rounded to a multiple of eight) above that.
double pairwise(const double* a, std::size_t n) {
    if (n < 8) {
        double res = -0.0;
        for (std::size_t i = 0; i < n; ++i) res += a[i];
        return res;
    }
    if (n <= 128) {
        double r[8];
        for (int j = 0; j < 8; ++j) r[j] = a[j];
        std::size_t i = 8;
        for (; i < n - (n % 8); i += 8)
            for (int j = 0; j < 8; ++j) r[j] += a[i + j];
        double res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
        for (; i < n; ++i) res += a[i];
        return res;
    }
    std::size_t n2 = n / 2;
    n2 -= n2 % 8;
    return pairwise(a, n2) + pairwise(a + n2, n - n2);
}

}  // namespace

double numpy_sum(const double* a, std::size_t n) {
    return pairwise(a, n);
}

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
    r.bits = numpy_sum(terms.data(), terms.size()) + 0.0;  // no negative zero
    r.n_nonzero = static_cast<std::int64_t>(c.size());
    return r;
}

}  // namespace quend
