#include "core/group_expression.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>

namespace quend {

GroupTallies zero_tallies(std::size_t n_groups, std::size_t n_cols, bool with_sums) {
    GroupTallies t;
    t.n_groups = n_groups;
    t.n_cols = n_cols;
    t.with_sums = with_sums;
    t.group_size.assign(n_groups, 0);
    t.positive.assign(n_groups * n_cols, 0);
    if (with_sums) {
        t.sum.assign(n_groups * n_cols, 0.0);
        t.missing.assign(n_groups * n_cols, 0);
    }
    return t;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Distinct matrix columns in first-appearance order, and where each output
// column finds its values among them.
struct Plan {
    std::vector<std::int64_t> distinct;  // matrix column of each tally column
    std::vector<std::int64_t> slot;      // per matrix column: tally column or -1
    std::vector<std::size_t> expand;     // per output column: tally column
    bool identity = false;
};

Plan make_plan(const ColumnSelection& sel, std::size_t n_cols) {
    Plan p;
    p.slot.assign(n_cols, -1);
    if (sel.cols.empty()) {
        p.identity = true;
        p.distinct.resize(n_cols);
        for (std::size_t j = 0; j < n_cols; ++j) {
            p.distinct[j] = static_cast<std::int64_t>(j);
            p.slot[j] = static_cast<std::int64_t>(j);
        }
        return p;
    }
    p.expand.reserve(sel.cols.size());
    for (std::int64_t c : sel.cols) {
        auto& s = p.slot.at(static_cast<std::size_t>(c));
        if (s < 0) {
            s = static_cast<std::int64_t>(p.distinct.size());
            p.distinct.push_back(c);
        }
        p.expand.push_back(static_cast<std::size_t>(s));
    }
    if (p.expand.size() == p.distinct.size()) {
        bool same = true;
        for (std::size_t k = 0; k < p.expand.size(); ++k) same = same && p.expand[k] == k;
        if (same) p.expand.clear();
    }
    return p;
}

template <bool Sums, typename T>
inline void add_value(GroupTallies& t, std::size_t off, T v) {
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(v)) {
            if constexpr (Sums) ++t.missing[off];
            return;
        }
    }
    if (v > T(0)) ++t.positive[off];
    if constexpr (Sums) t.sum[off] += static_cast<double>(v);
}

void count_groups(GroupTallies& t, const std::int64_t* codes, std::size_t n_rows) {
    for (std::size_t i = 0; i < n_rows; ++i)
        if (codes[i] >= 0) ++t.group_size[static_cast<std::size_t>(codes[i])];
}

// Output columns in the caller's order (repeated columns copied).
GroupTallies expand(GroupTallies t, const Plan& p) {
    if (p.expand.empty()) return t;
    GroupTallies out = zero_tallies(t.n_groups, p.expand.size(), t.with_sums);
    out.group_size = t.group_size;
    for (std::size_t g = 0; g < t.n_groups; ++g) {
        for (std::size_t k = 0; k < p.expand.size(); ++k) {
            copy_cell(t, g * t.n_cols + p.expand[k], out, g * out.n_cols + k);
        }
    }
    return out;
}

template <bool Sums, typename T>
void dense_pass(GroupTallies& t, const T* data, std::size_t n_rows, std::ptrdiff_t rs, std::ptrdiff_t cs,
                const std::int64_t* codes, const Plan& p) {
    const std::size_t nc = p.distinct.size();
    // Walk memory in storage order: rows outer for row-major blocks.
    if (std::abs(cs) <= std::abs(rs)) {
        for (std::size_t i = 0; i < n_rows; ++i) {
            if (codes[i] < 0) continue;
            const T* row = data + static_cast<std::ptrdiff_t>(i) * rs;
            const std::size_t base = static_cast<std::size_t>(codes[i]) * nc;
            for (std::size_t k = 0; k < nc; ++k) add_value<Sums>(t, base + k, row[p.distinct[k] * cs]);
        }
    } else {
        for (std::size_t k = 0; k < nc; ++k) {
            const T* col = data + p.distinct[k] * cs;
            for (std::size_t i = 0; i < n_rows; ++i) {
                if (codes[i] < 0) continue;
                add_value<Sums>(t, static_cast<std::size_t>(codes[i]) * nc + k,
                                col[static_cast<std::ptrdiff_t>(i) * rs]);
            }
        }
    }
}

// One stored value into a group's row of tallies.
template <bool Sums, typename T>
inline void add_at(std::int64_t* pos, double* sum, std::int64_t* miss, std::size_t k, T v) {
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(v)) {
            if constexpr (Sums) ++miss[k];
            return;
        }
    }
    pos[k] += v > T(0);
    if constexpr (Sums) sum[k] += static_cast<double>(v);
}

// Rows of each group together, ascending within the group (a stable counting
// sort). Cells of many groups come interleaved; visiting them group by group
// keeps one group's row of tallies in cache instead of all of them, and each
// tally still adds its values in row order.
std::vector<std::size_t> rows_by_group(const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups) {
    std::vector<std::size_t> start(n_groups + 1, 0);
    for (std::size_t i = 0; i < n_rows; ++i)
        if (codes[i] >= 0) ++start[static_cast<std::size_t>(codes[i]) + 1];
    for (std::size_t g = 0; g < n_groups; ++g) start[g + 1] += start[g];
    std::vector<std::size_t> order(start[n_groups]);
    for (std::size_t i = 0; i < n_rows; ++i)
        if (codes[i] >= 0) order[start[static_cast<std::size_t>(codes[i])]++] = i;
    return order;
}

template <bool Sums, bool All, typename T, typename I, typename P>
void rows_pass(GroupTallies& t, const T* data, const I* indices, const P* indptr, std::size_t n_rows,
               const std::int64_t* codes, const Plan& p) {
    const std::size_t nc = p.distinct.size();
    const std::int64_t* slot = p.slot.data();
    for (std::size_t i : rows_by_group(codes, n_rows, t.n_groups)) {
        const std::size_t base = static_cast<std::size_t>(codes[i]) * nc;
        std::int64_t* pos = t.positive.data() + base;
        double* sum = Sums ? t.sum.data() + base : nullptr;
        std::int64_t* miss = Sums ? t.missing.data() + base : nullptr;
        for (P q = indptr[i]; q < indptr[i + 1]; ++q) {
            std::int64_t k = static_cast<std::int64_t>(indices[q]);
            if constexpr (!All) {
                k = slot[k];
                if (k < 0) continue;
            }
            add_at<Sums>(pos, sum, miss, static_cast<std::size_t>(k), data[q]);
        }
    }
}

template <bool Sums, typename T, typename I, typename P>
void compressed_pass(GroupTallies& t, const T* data, const I* indices, const P* indptr, bool by_rows,
                     std::size_t n_rows, const std::int64_t* codes, const Plan& p) {
    const std::size_t nc = p.distinct.size();
    if (by_rows) {
        if (p.identity)
            rows_pass<Sums, true>(t, data, indices, indptr, n_rows, codes, p);
        else
            rows_pass<Sums, false>(t, data, indices, indptr, n_rows, codes, p);
    } else {
        for (std::size_t k = 0; k < nc; ++k) {
            const std::size_t j = static_cast<std::size_t>(p.distinct[k]);
            for (P q = indptr[j]; q < indptr[j + 1]; ++q) {
                const std::int64_t g = codes[static_cast<std::size_t>(indices[q])];
                if (g >= 0) add_value<Sums>(t, static_cast<std::size_t>(g) * nc + k, data[q]);
            }
        }
    }
}

void check_target(const GroupTallies& t, std::size_t n_cols) {
    const std::size_t cells = t.n_groups * n_cols;
    if (t.n_cols != n_cols || t.group_size.size() != t.n_groups || t.positive.size() != cells ||
        (t.with_sums && (t.sum.size() != cells || t.missing.size() != cells)))
        throw std::invalid_argument("tallies to add into have another shape");
}

template <typename T>
void fill_dense(GroupTallies& t, const T* data, std::size_t n_rows, std::ptrdiff_t rs, std::ptrdiff_t cs,
                const std::int64_t* codes, const Plan& p) {
    count_groups(t, codes, n_rows);
    if (t.with_sums)
        dense_pass<true>(t, data, n_rows, rs, cs, codes, p);
    else
        dense_pass<false>(t, data, n_rows, rs, cs, codes, p);
}

template <typename T, typename I, typename P>
void fill_compressed(GroupTallies& t, const T* data, const I* indices, const P* indptr, bool by_rows,
                     std::size_t n_rows, const std::int64_t* codes, const Plan& p) {
    count_groups(t, codes, n_rows);
    if (t.with_sums)
        compressed_pass<true>(t, data, indices, indptr, by_rows, n_rows, codes, p);
    else
        compressed_pass<false>(t, data, indices, indptr, by_rows, n_rows, codes, p);
}

// into += what `fill` tallies under plan `p`: in place, unless repeated
// columns need a result of their own to expand first.
template <typename Fill>
void add_planned(GroupTallies& into, const Plan& p, Fill&& fill) {
    check_target(into, p.expand.empty() ? p.distinct.size() : p.expand.size());
    if (p.expand.empty()) return fill(into);
    GroupTallies t = zero_tallies(into.n_groups, p.distinct.size(), into.with_sums);
    fill(t);
    const GroupTallies part = expand(std::move(t), p);
    for (std::size_t g = 0; g < into.n_groups; ++g) into.group_size[g] += part.group_size[g];
    for (std::size_t o = 0; o < into.positive.size(); ++o) into.positive[o] += part.positive[o];
    for (std::size_t o = 0; o < into.sum.size(); ++o) into.sum[o] += part.sum[o];
    for (std::size_t o = 0; o < into.missing.size(); ++o) into.missing[o] += part.missing[o];
}

}  // namespace

std::vector<double> GroupTallies::positive_fraction() const {
    std::vector<double> out(positive.size());
    for (std::size_t g = 0; g < n_groups; ++g) {
        const double n = static_cast<double>(group_size[g]);
        for (std::size_t k = 0; k < n_cols; ++k) {
            const std::size_t o = g * n_cols + k;
            out[o] = n > 0 ? static_cast<double>(positive[o]) / n : kNaN;
        }
    }
    return out;
}

std::vector<double> GroupTallies::mean() const {
    std::vector<double> out(n_groups * n_cols, kNaN);
    if (!with_sums) return out;
    for (std::size_t g = 0; g < n_groups; ++g) {
        for (std::size_t k = 0; k < n_cols; ++k) {
            const std::size_t o = g * n_cols + k;
            const std::int64_t n = group_size[g] - missing[o];
            if (n > 0) out[o] = sum[o] / static_cast<double>(n);
        }
    }
    return out;
}

template <typename T>
GroupTallies tally_dense(const T* data, std::size_t n_rows, std::size_t n_cols, std::ptrdiff_t row_stride,
                         std::ptrdiff_t col_stride, const std::int64_t* codes, std::size_t n_groups,
                         const ColumnSelection& sel, bool with_sums) {
    const Plan p = make_plan(sel, n_cols);
    GroupTallies t = zero_tallies(n_groups, p.distinct.size(), with_sums);
    fill_dense(t, data, n_rows, row_stride, col_stride, codes, p);
    return expand(std::move(t), p);
}

template <typename T, typename I, typename P>
GroupTallies tally_compressed(const T* data, const I* indices, const P* indptr, bool by_rows, std::size_t n_rows,
                              std::size_t n_cols, const std::int64_t* codes, std::size_t n_groups,
                              const ColumnSelection& sel, bool with_sums) {
    const Plan p = make_plan(sel, n_cols);
    GroupTallies t = zero_tallies(n_groups, p.distinct.size(), with_sums);
    fill_compressed(t, data, indices, indptr, by_rows, n_rows, codes, p);
    return expand(std::move(t), p);
}

template <typename T>
void add_dense(GroupTallies& into, const T* data, std::size_t n_rows, std::size_t n_cols, std::ptrdiff_t row_stride,
               std::ptrdiff_t col_stride, const std::int64_t* codes, const ColumnSelection& sel) {
    const Plan p = make_plan(sel, n_cols);
    add_planned(into, p, [&](GroupTallies& t) { fill_dense(t, data, n_rows, row_stride, col_stride, codes, p); });
}

template <typename T, typename I, typename P>
void add_compressed(GroupTallies& into, const T* data, const I* indices, const P* indptr, bool by_rows,
                    std::size_t n_rows, std::size_t n_cols, const std::int64_t* codes, const ColumnSelection& sel) {
    const Plan p = make_plan(sel, n_cols);
    add_planned(into, p,
                [&](GroupTallies& t) { fill_compressed(t, data, indices, indptr, by_rows, n_rows, codes, p); });
}

std::vector<double> kahan_group_mean(const double* values, std::size_t n_rows, std::size_t n_cols,
                                     const std::int64_t* codes, std::size_t n_groups) {
    std::vector<double> sumx(n_groups * n_cols, 0.0), comp(n_groups * n_cols, 0.0);
    std::vector<std::int64_t> nobs(n_groups * n_cols, 0);
    for (std::size_t i = 0; i < n_rows; ++i) {
        if (codes[i] < 0) continue;
        const std::size_t base = static_cast<std::size_t>(codes[i]) * n_cols;
        for (std::size_t j = 0; j < n_cols; ++j) {
            const double v = values[i * n_cols + j];
            if (std::isnan(v)) continue;
            const std::size_t o = base + j;
            ++nobs[o];
            const double y = v - comp[o];
            const double s = sumx[o] + y;
            comp[o] = s - sumx[o] - y;
            if (std::isnan(comp[o])) comp[o] = 0.0;  // infinities
            sumx[o] = s;
        }
    }
    std::vector<double> out(n_groups * n_cols, kNaN);
    for (std::size_t o = 0; o < out.size(); ++o)
        if (nobs[o] > 0) out[o] = sumx[o] / static_cast<double>(nobs[o]);
    return out;
}

#define QUEND_DENSE(T)                                                                                            \
    template GroupTallies tally_dense<T>(const T*, std::size_t, std::size_t, std::ptrdiff_t, std::ptrdiff_t,      \
                                         const std::int64_t*, std::size_t, const ColumnSelection&, bool);         \
    template void add_dense<T>(GroupTallies&, const T*, std::size_t, std::size_t, std::ptrdiff_t, std::ptrdiff_t, \
                               const std::int64_t*, const ColumnSelection&);
QUEND_DENSE(float)
QUEND_DENSE(double)
QUEND_DENSE(bool)
QUEND_DENSE(std::int8_t)
QUEND_DENSE(std::int16_t)
QUEND_DENSE(std::int32_t)
QUEND_DENSE(std::int64_t)
QUEND_DENSE(std::uint8_t)
QUEND_DENSE(std::uint16_t)
QUEND_DENSE(std::uint32_t)
QUEND_DENSE(std::uint64_t)
#undef QUEND_DENSE

#define QUEND_SPARSE_IP(T, I, P)                                                                                       \
    template GroupTallies tally_compressed<T, I, P>(const T*, const I*, const P*, bool, std::size_t, std::size_t,      \
                                                    const std::int64_t*, std::size_t, const ColumnSelection&, bool);   \
    template void add_compressed<T, I, P>(GroupTallies&, const T*, const I*, const P*, bool, std::size_t, std::size_t, \
                                          const std::int64_t*, const ColumnSelection&);
#define QUEND_SPARSE(T)                            \
    QUEND_SPARSE_IP(T, std::int32_t, std::int32_t) \
    QUEND_SPARSE_IP(T, std::int32_t, std::int64_t) \
    QUEND_SPARSE_IP(T, std::int64_t, std::int64_t) \
    QUEND_SPARSE_IP(T, std::int64_t, std::int32_t)
QUEND_SPARSE(float)
QUEND_SPARSE(double)
QUEND_SPARSE(bool)
QUEND_SPARSE(std::int8_t)
QUEND_SPARSE(std::int16_t)
QUEND_SPARSE(std::int32_t)
QUEND_SPARSE(std::int64_t)
QUEND_SPARSE(std::uint8_t)
QUEND_SPARSE(std::uint16_t)
QUEND_SPARSE(std::uint32_t)
QUEND_SPARSE(std::uint64_t)
#undef QUEND_SPARSE
#undef QUEND_SPARSE_IP

}  // namespace quend
