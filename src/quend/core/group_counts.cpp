#include "core/group_counts.hpp"

#include <cmath>

namespace quend {

void remap_codes(std::int64_t* codes, std::size_t n, const std::vector<std::int64_t>& rank) {
    for (std::size_t i = 0; i < n; ++i)
        if (codes[i] >= 0) codes[i] = rank[static_cast<std::size_t>(codes[i])];
}

std::vector<std::int64_t> cross_counts(const std::int64_t* a, const std::int64_t* b, std::size_t n, std::size_t n_a,
                                       std::size_t n_b) {
    std::vector<std::int64_t> out(n_a * n_b, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] < 0 || b[i] < 0) continue;
        ++out[static_cast<std::size_t>(a[i]) * n_b + static_cast<std::size_t>(b[i])];
    }
    return out;
}

std::vector<std::int64_t> code_counts(const std::int64_t* codes, std::size_t n, std::size_t n_codes) {
    std::vector<std::int64_t> out(n_codes, 0);
    for (std::size_t i = 0; i < n; ++i)
        if (codes[i] >= 0) ++out[static_cast<std::size_t>(codes[i])];
    return out;
}

std::vector<double> code_sums(const std::int64_t* codes, const double* values, std::size_t n, std::size_t n_codes) {
    std::vector<double> out(n_codes, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        if (codes[i] >= 0 && !std::isnan(values[i])) out[static_cast<std::size_t>(codes[i])] += values[i];
    return out;
}

}  // namespace quend
