#include "core/significance_rank.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace quend {

PProduct p_product(const double* p, std::size_t n, std::ptrdiff_t stride) {
    PProduct r;
    for (std::size_t j = 0; j < n; ++j) {
        double v = p[static_cast<std::ptrdiff_t>(j) * stride];
        if (std::isnan(v)) v = 1.0;
        r.value *= v;
        if (v == 0.0) {
            r.zero = true;
            continue;
        }
        int e = 0;
        const double m = std::frexp(v, &e);
        r.mantissa *= m;
        r.exponent += e;
        int k = 0;
        r.mantissa = std::frexp(r.mantissa, &k);
        r.exponent += k;
    }
    if (!r.zero) {
        int k = 0;
        r.mantissa = std::frexp(r.mantissa, &k);
        r.exponent += k;
    }
    return r;
}

namespace {

// 0: the plain product is a normal double; 1: it fell below that range;
// 2: a factor is exactly zero.
int product_class(const PProduct& a) {
    if (a.zero) return 2;
    return a.value >= DBL_MIN ? 0 : 1;
}

}  // namespace

bool p_product_less(const PProduct& a, const PProduct& b) {
    const int ca = product_class(a), cb = product_class(b);
    if (ca != cb) return ca > cb;
    if (ca == 2) return false;
    // Same comparison as on -log10(product), so rows whose plain products are
    // representable rank exactly as that key ranks them.
    if (ca == 0) return -std::log10(a.value) > -std::log10(b.value);
    if (a.exponent != b.exponent) return a.exponent < b.exponent;
    return a.mantissa < b.mantissa;
}

std::vector<std::size_t> rank_by_significance(const StridedMatrix& p, double cutoff) {
    // -log10 of a representable product, once per row rather than once per
    // comparison of the sort.
    struct Key {
        std::size_t item;
        std::size_t n_sig;
        PProduct prod;
        int cls;
        double neg_log;
    };
    std::vector<Key> kept;
    for (std::size_t i = 0; i < p.n_items; ++i) {
        const double* row = p.data + static_cast<std::ptrdiff_t>(i) * p.item_stride;
        std::size_t n_sig = 0;
        for (std::size_t j = 0; j < p.n_samples; ++j)
            if (row[static_cast<std::ptrdiff_t>(j) * p.sample_stride] <= cutoff) ++n_sig;
        if (n_sig == 0) continue;
        const PProduct prod = p_product(row, p.n_samples, p.sample_stride);
        const int cls = product_class(prod);
        kept.push_back({i, n_sig, prod, cls, cls == 0 ? -std::log10(prod.value) : 0.0});
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Key& a, const Key& b) {
        if (a.n_sig != b.n_sig) return a.n_sig > b.n_sig;
        if (a.cls == 0 && b.cls == 0) return a.neg_log > b.neg_log;
        return p_product_less(a.prod, b.prod);
    });
    std::vector<std::size_t> order(kept.size());
    for (std::size_t k = 0; k < kept.size(); ++k) order[k] = kept[k].item;
    return order;
}

}  // namespace quend
