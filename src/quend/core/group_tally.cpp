#include "core/group_tally.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace quend {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <typename T>
inline bool is_nan(T v) {
    if constexpr (std::is_floating_point_v<T>)
        return std::isnan(v);
    else
        return false;
}

// Block columns that are tallied, as (block column, tallied column) pairs.
std::vector<std::pair<std::size_t, std::size_t>> tallied(const BlockColumns& c) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t j = 0; j < c.n_block_cols; ++j) {
        const std::int64_t k = c.identity ? static_cast<std::int64_t>(j) : c.slot[j];
        if (k >= 0) out.emplace_back(j, static_cast<std::size_t>(k));
    }
    return out;
}

// What one stored value does to a cell of a dense tally. Blocks without a
// NaN take the plain sum: the mean is then the scatter that detection is.
enum class Op { count, sum_checked, sum };

template <typename T>
bool holds_nan(const T* data, std::size_t n) {
    if constexpr (std::is_floating_point_v<T>) {
        bool any = false;
        for (std::size_t q = 0; q < n; ++q) any |= data[q] != data[q];  // vectorised
        return any;
    } else {
        return false;
    }
}

template <Op S, typename T>
inline void put(DenseTally& t, std::size_t o, T v) {
    if constexpr (S == Op::count) {
        t.value[o] += v > T(0);  // NaN is not > 0
    } else if constexpr (S == Op::sum) {
        t.value[o] += static_cast<double>(v);
    } else {
        if (is_nan(v)) {
            ++t.missing[o];
            t.any_missing = true;
        } else {
            t.value[o] += static_cast<double>(v);
        }
    }
}

template <Op S, typename T>
void dense_pass(DenseTally& t, const T* data, std::size_t n_rows, std::ptrdiff_t rs, std::ptrdiff_t cs,
                const std::int64_t* codes, const BlockColumns& c) {
    const auto pairs = tallied(c);
    // Walk memory in storage order: rows outer for row-major blocks.
    if (std::abs(cs) <= std::abs(rs)) {
        for (std::size_t i = 0; i < n_rows; ++i) {
            if (codes[i] < 0) continue;
            const T* row = data + static_cast<std::ptrdiff_t>(i) * rs;
            const std::size_t base = static_cast<std::size_t>(codes[i]) * t.width;
            for (const auto& [j, k] : pairs) put<S>(t, base + k, row[static_cast<std::ptrdiff_t>(j) * cs]);
        }
    } else {
        for (const auto& [j, k] : pairs) {
            const T* col = data + static_cast<std::ptrdiff_t>(j) * cs;
            for (std::size_t i = 0; i < n_rows; ++i)
                if (codes[i] >= 0)
                    put<S>(t, static_cast<std::size_t>(codes[i]) * t.width + k,
                           col[static_cast<std::ptrdiff_t>(i) * rs]);
        }
    }
}

template <Op S, bool Identity, typename T, typename I, typename P>
void rows_pass(DenseTally& t, const T* data, const I* indices, const P* indptr, std::size_t n_rows,
               const std::int64_t* codes, const std::int64_t* slot) {
    for (std::size_t i = 0; i < n_rows; ++i) {
        if (codes[i] < 0) continue;
        const std::size_t base = static_cast<std::size_t>(codes[i]) * t.width;
        for (P q = indptr[i]; q < indptr[i + 1]; ++q) {
            std::int64_t k = static_cast<std::int64_t>(indices[q]);
            if constexpr (!Identity) {
                k = slot[k];
                if (k < 0) continue;
            }
            put<S>(t, base + static_cast<std::size_t>(k), data[q]);
        }
    }
}

template <Op S, typename T, typename I, typename P>
void compressed_pass(DenseTally& t, const T* data, const I* indices, const P* indptr, bool by_rows, std::size_t n_rows,
                     const std::int64_t* codes, const BlockColumns& c) {
    if (by_rows) {
        if (c.identity)
            rows_pass<S, true>(t, data, indices, indptr, n_rows, codes, c.slot);
        else
            rows_pass<S, false>(t, data, indices, indptr, n_rows, codes, c.slot);
        return;
    }
    for (const auto& [j, k] : tallied(c)) {
        for (P q = indptr[j]; q < indptr[j + 1]; ++q) {
            const std::int64_t g = codes[static_cast<std::size_t>(indices[q])];
            if (g >= 0) put<S>(t, static_cast<std::size_t>(g) * t.width + k, data[q]);
        }
    }
}

// One group's running tallies over all columns, emitted as sparse pairs in
// column order, then cleared for the next group.
class GroupRow {
public:
    GroupRow(Stat stat, std::size_t width)
        : mean_(stat == Stat::mean), value_(width, 0.0), missing_(mean_ ? width : 0, 0.0), mark_(width, 0) {}

    template <typename T>
    void add(std::size_t k, T v) {
        if (mean_) {
            if (is_nan(v)) {
                touch(k);
                missing_[k] += 1.0;
            } else if (v != T(0)) {
                touch(k);
                value_[k] += static_cast<double>(v);
            }
        } else if (v > T(0)) {
            touch(k);
            value_[k] += 1.0;
        }
    }

    // A partial's pair, kept as it is (zero sums included).
    void add_pair(std::size_t k, double value, double missing) {
        touch(k);
        value_[k] += value;
        if (mean_) missing_[k] += missing;
    }

    // Pairs in the order they were first touched: no sum depends on it.
    void emit(std::int64_t group, SparseTally& out) {
        if (touched_.empty()) return;
        for (std::int32_t k : touched_) {
            out.cols.push_back(k);
            out.value.push_back(value_[k]);
            value_[k] = 0.0;
            if (mean_) {
                out.missing.push_back(missing_[k]);
                missing_[k] = 0.0;
            }
            mark_[k] = 0;
        }
        touched_.clear();
        out.groups.push_back(group);
        out.ptr.push_back(static_cast<std::int64_t>(out.cols.size()));
    }

private:
    void touch(std::size_t k) {
        if (!mark_[k]) {
            mark_[k] = 1;
            touched_.push_back(static_cast<std::int32_t>(k));
        }
    }
    bool mean_;
    std::vector<double> value_, missing_;
    std::vector<unsigned char> mark_;
    std::vector<std::int32_t> touched_;
};

// Room for `max_pairs` pairs up front: reserved pages cost nothing until
// written, while growing by doubling would copy (and first touch) twice.
void reserve(SparseTally& t, std::size_t max_pairs, std::size_t max_groups) {
    t.groups.reserve(max_groups);
    t.ptr.reserve(max_groups + 1);
    t.cols.reserve(max_pairs);
    t.value.reserve(max_pairs);
    if (t.stat == Stat::mean) t.missing.reserve(max_pairs);
}

// The tallies of the groups present in a chunk as one dense table, when it
// is no bigger than the chunk's values: filled in storage order, like the
// result itself, then read out group by group.
class PresentTable {
public:
    PresentTable(Stat stat, std::size_t n_present, std::size_t width)
        : mean_(stat == Stat::mean),
          width_(width),
          value_(n_present * width, 0.0),
          missing_(mean_ ? n_present * width : 0, 0.0) {}

    // The sink of one group's row of the table.
    struct Row {
        PresentTable& t;
        std::size_t base;
        template <typename T>
        void add(std::size_t k, T v) {
            if (t.mean_) {
                if (is_nan(v))
                    t.missing_[base + k] += 1.0;
                else
                    t.value_[base + k] += static_cast<double>(v);
            } else {
                t.value_[base + k] += v > T(0);
            }
        }
    };
    Row row(std::size_t p) { return Row{*this, p * width_}; }

    void emit(std::size_t p, std::int64_t group, SparseTally& out) const {
        const std::size_t base = p * width_;
        for (std::size_t k = 0; k < width_; ++k) {
            const double m = mean_ ? missing_[base + k] : 0.0;
            if (value_[base + k] == 0.0 && m == 0.0) continue;
            out.cols.push_back(static_cast<std::int32_t>(k));
            out.value.push_back(value_[base + k]);
            if (mean_) out.missing.push_back(m);
        }
        out.groups.push_back(group);
        out.ptr.push_back(static_cast<std::int64_t>(out.cols.size()));
    }

private:
    bool mean_;
    std::size_t width_;
    std::vector<double> value_, missing_;
};

// `visit(row, sink)` calls sink.add(tallied column, value) for each value of
// a row; rows hold at most `max_pairs` values in all.
template <typename Visit>
SparseTally build_partial(Stat stat, std::size_t width, std::size_t n_rows, const std::int64_t* codes,
                          std::size_t n_groups, std::size_t max_pairs, Visit&& visit) {
    if (width > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::invalid_argument("too many columns for a partial tally");
    SparseTally out;
    out.stat = stat;
    out.width = width;
    // Present groups, ascending, and each one's place among them.
    std::vector<std::int64_t> local(n_groups, -1), present;
    for (std::size_t i = 0; i < n_rows; ++i) {
        const std::int64_t g = codes[i];
        if (g < 0) continue;
        if (static_cast<std::size_t>(g) >= n_groups) throw std::invalid_argument("group code out of range");
        if (local[static_cast<std::size_t>(g)] < 0) {
            local[static_cast<std::size_t>(g)] = 0;
            present.push_back(g);
        }
    }
    std::sort(present.begin(), present.end());
    for (std::size_t p = 0; p < present.size(); ++p)
        local[static_cast<std::size_t>(present[p])] = static_cast<std::int64_t>(p);
    reserve(out, std::min(max_pairs, present.size() * width), present.size());

    if (present.size() * width <= 2 * max_pairs) {
        PresentTable table(stat, present.size(), width);
        for (std::size_t i = 0; i < n_rows; ++i) {
            if (codes[i] < 0) continue;
            auto sink = table.row(static_cast<std::size_t>(local[static_cast<std::size_t>(codes[i])]));
            visit(i, sink);
        }
        for (std::size_t p = 0; p < present.size(); ++p) table.emit(p, present[p], out);
        return out;
    }

    // Otherwise group after group, each one's row of tallies kept hot.
    std::vector<std::size_t> start(present.size() + 1, 0);
    for (std::size_t i = 0; i < n_rows; ++i)
        if (codes[i] >= 0) ++start[static_cast<std::size_t>(local[static_cast<std::size_t>(codes[i])]) + 1];
    for (std::size_t p = 0; p < present.size(); ++p) start[p + 1] += start[p];
    std::vector<std::size_t> rows(start[present.size()]);
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < n_rows; ++i)
            if (codes[i] >= 0) rows[next[static_cast<std::size_t>(local[static_cast<std::size_t>(codes[i])])]++] = i;
    }
    GroupRow acc(stat, width);
    for (std::size_t p = 0; p < present.size(); ++p) {
        for (std::size_t r = start[p]; r < start[p + 1]; ++r) visit(rows[r], acc);
        acc.emit(present[p], out);
    }
    return out;
}

}  // namespace

ColumnPlan plan_columns(const ColumnSelection& sel) {
    ColumnPlan p;
    const std::size_t n = sel.n_matrix_cols;
    p.slot.assign(n, -1);
    if (sel.cols.empty()) {
        p.all = true;
        p.distinct.resize(n);
        for (std::size_t j = 0; j < n; ++j) p.distinct[j] = p.slot[j] = static_cast<std::int64_t>(j);
        return p;
    }
    p.expand.reserve(sel.cols.size());
    for (std::int64_t c : sel.cols) {
        if (c < 0 || static_cast<std::size_t>(c) >= n) throw std::out_of_range("selected column out of range");
        auto& s = p.slot[static_cast<std::size_t>(c)];
        if (s < 0) {
            s = static_cast<std::int64_t>(p.distinct.size());
            p.distinct.push_back(c);
        }
        p.expand.push_back(s);
    }
    bool same = p.expand.size() == p.distinct.size();
    for (std::size_t k = 0; same && k < p.expand.size(); ++k) same = p.expand[k] == static_cast<std::int64_t>(k);
    if (same) p.expand.clear();
    return p;
}

BlockColumns block_columns(const ColumnPlan& plan, std::size_t c0, std::size_t n_block_cols) {
    if (c0 + n_block_cols > plan.slot.size()) throw std::out_of_range("block columns outside the matrix");
    BlockColumns c;
    c.slot = plan.slot.data() + c0;
    c.identity = plan.all && c0 == 0;
    c.n_block_cols = n_block_cols;
    return c;
}

template <typename T>
void add_dense(DenseTally& into, const T* data, std::size_t n_rows, std::ptrdiff_t row_stride,
               std::ptrdiff_t col_stride, const std::int64_t* codes, const BlockColumns& cols) {
    if (into.stat == Stat::mean)
        dense_pass<Op::sum_checked>(into, data, n_rows, row_stride, col_stride, codes, cols);
    else
        dense_pass<Op::count>(into, data, n_rows, row_stride, col_stride, codes, cols);
}

template <typename T, typename I, typename P>
void add_compressed(DenseTally& into, const T* data, const I* indices, const P* indptr, bool by_rows,
                    std::size_t n_rows, const std::int64_t* codes, const BlockColumns& cols) {
    const std::size_t n_slices = by_rows ? n_rows : cols.n_block_cols;
    const P lo = indptr[0], hi = indptr[n_slices];
    if (into.stat == Stat::detected)
        compressed_pass<Op::count>(into, data, indices, indptr, by_rows, n_rows, codes, cols);
    else if (holds_nan(data + lo, static_cast<std::size_t>(hi - lo)))
        compressed_pass<Op::sum_checked>(into, data, indices, indptr, by_rows, n_rows, codes, cols);
    else
        compressed_pass<Op::sum>(into, data, indices, indptr, by_rows, n_rows, codes, cols);
}

PartialView SparseTally::view() const {
    PartialView v;
    v.n_present = groups.size();
    v.groups = groups.data();
    v.ptr = ptr.data();
    v.cols = cols.data();
    v.value = value.data();
    v.missing = stat == Stat::mean ? missing.data() : nullptr;
    return v;
}

template <typename T, typename I, typename P>
SparseTally partial_compressed(Stat stat, std::size_t width, const T* data, const I* indices, const P* indptr,
                               std::size_t n_rows, const std::int64_t* codes, std::size_t n_groups,
                               const BlockColumns& cols) {
    const std::size_t nnz = n_rows ? static_cast<std::size_t>(indptr[n_rows] - indptr[0]) : 0;
    return build_partial(stat, width, n_rows, codes, n_groups, nnz, [&](std::size_t i, auto& sink) {
        for (P q = indptr[i]; q < indptr[i + 1]; ++q) {
            const std::int64_t k = cols.identity ? static_cast<std::int64_t>(indices[q]) : cols.slot[indices[q]];
            if (k >= 0) sink.add(static_cast<std::size_t>(k), data[q]);
        }
    });
}

template <typename T>
SparseTally partial_dense(Stat stat, std::size_t width, const T* data, std::size_t n_rows, std::ptrdiff_t row_stride,
                          std::ptrdiff_t col_stride, const std::int64_t* codes, std::size_t n_groups,
                          const BlockColumns& cols) {
    const auto pairs = tallied(cols);
    return build_partial(stat, width, n_rows, codes, n_groups, n_rows * pairs.size(), [&](std::size_t i, auto& sink) {
        const T* row = data + static_cast<std::ptrdiff_t>(i) * row_stride;
        for (const auto& [j, k] : pairs) sink.add(k, row[static_cast<std::ptrdiff_t>(j) * col_stride]);
    });
}

SparseTally merge(Stat stat, std::size_t width, const std::vector<PartialView>& parts) {
    std::vector<std::int64_t> all;
    for (const PartialView& p : parts) all.insert(all.end(), p.groups, p.groups + p.n_present);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    SparseTally out;
    out.stat = stat;
    out.width = width;
    std::size_t max_pairs = 0;
    for (const PartialView& p : parts) max_pairs += static_cast<std::size_t>(p.ptr[p.n_present] - p.ptr[0]);
    reserve(out, std::min(max_pairs, all.size() * width), all.size());
    GroupRow acc(stat, width);
    std::vector<std::size_t> at(parts.size(), 0);
    for (std::int64_t g : all) {
        for (std::size_t s = 0; s < parts.size(); ++s) {
            const PartialView& p = parts[s];
            if (at[s] >= p.n_present || p.groups[at[s]] != g) continue;
            for (std::int64_t q = p.ptr[at[s]]; q < p.ptr[at[s] + 1]; ++q) {
                if (p.cols[q] < 0 || static_cast<std::size_t>(p.cols[q]) >= width)
                    throw std::invalid_argument("partial tally column out of range");
                acc.add_pair(static_cast<std::size_t>(p.cols[q]), p.value[q], p.missing ? p.missing[q] : 0.0);
            }
            ++at[s];
        }
        acc.emit(g, out);
    }
    return out;
}

void add_partial(DenseTally& into, const PartialView& part, std::int64_t g0) {
    for (std::size_t p = 0; p < part.n_present; ++p) {
        const std::int64_t g = part.groups[p] - g0;
        if (g < 0 || static_cast<std::size_t>(g) >= into.n_groups)
            throw std::invalid_argument("partial tally group outside the result rows");
        const std::size_t base = static_cast<std::size_t>(g) * into.width;
        for (std::int64_t q = part.ptr[p]; q < part.ptr[p + 1]; ++q) {
            if (part.cols[q] < 0 || static_cast<std::size_t>(part.cols[q]) >= into.width)
                throw std::invalid_argument("partial tally column out of range");
            const std::size_t o = base + static_cast<std::size_t>(part.cols[q]);
            into.value[o] += part.value[q];
            if (into.stat == Stat::mean && part.missing && part.missing[q] != 0.0) {
                into.missing[o] += static_cast<std::int64_t>(part.missing[q]);
                into.any_missing = true;
            }
        }
    }
}

void finish(DenseTally& t, const std::int64_t* group_size) {
    const bool mean = t.stat == Stat::mean;
    for (std::size_t g = 0; g < t.n_groups; ++g) {
        double* row = t.value + g * t.width;
        const std::int64_t n = group_size[g];
        if (mean && t.any_missing) {
            const std::int64_t* miss = t.missing + g * t.width;
            for (std::size_t k = 0; k < t.width; ++k) {
                const std::int64_t m = n - miss[k];
                row[k] = m > 0 ? row[k] / static_cast<double>(m) : kNaN;
            }
        } else if (n > 0) {
            const double d = static_cast<double>(n);
            for (std::size_t k = 0; k < t.width; ++k) row[k] /= d;
        } else {
            std::fill(row, row + t.width, kNaN);
        }
    }
}

template <typename I, typename P>
std::string check_compressed(const I* indices, const P* indptr, std::size_t n_major, std::size_t n_minor,
                             std::size_t nnz, bool& canonical) {
    canonical = true;
    if (indptr[0] != 0) return "indptr does not start at 0";
    if (static_cast<std::uint64_t>(indptr[n_major]) != nnz)
        return "indptr ends at " + std::to_string(static_cast<long long>(indptr[n_major])) + " but there are " +
               std::to_string(nnz) + " stored values";
    for (std::size_t s = 0; s < n_major; ++s) {
        const P lo = indptr[s], hi = indptr[s + 1];
        if (hi < lo) return "indptr decreases at position " + std::to_string(s + 1);
        if (static_cast<std::uint64_t>(hi) > nnz) return "indptr goes past the stored values";
        // Branch-free so that the compiler vectorises it: this check reads
        // every stored index of every block. Negative indices wrap to huge.
        unsigned in_range = 1, increasing = 1;
        for (P q = lo; q < hi; ++q)
            in_range &= static_cast<std::uint64_t>(static_cast<std::int64_t>(indices[q])) < n_minor;
        for (P q = lo + 1; q < hi; ++q) increasing &= indices[q] > indices[q - 1];
        if (!in_range) {
            for (P q = lo; q < hi; ++q) {
                const I v = indices[q];
                if (v < 0 || static_cast<std::uint64_t>(v) >= n_minor)
                    return "index " + std::to_string(static_cast<long long>(v)) + " out of range [0, " +
                           std::to_string(n_minor) + ")";
            }
        }
        canonical = canonical && increasing;
    }
    return {};
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

#define QUEND_DENSE(T)                                                                                              \
    template void add_dense<T>(DenseTally&, const T*, std::size_t, std::ptrdiff_t, std::ptrdiff_t,                  \
                               const std::int64_t*, const BlockColumns&);                                           \
    template SparseTally partial_dense<T>(Stat, std::size_t, const T*, std::size_t, std::ptrdiff_t, std::ptrdiff_t, \
                                          const std::int64_t*, std::size_t, const BlockColumns&);
#define QUEND_SPARSE_IP(T, I, P)                                                                                   \
    template void add_compressed<T, I, P>(DenseTally&, const T*, const I*, const P*, bool, std::size_t,            \
                                          const std::int64_t*, const BlockColumns&);                               \
    template SparseTally partial_compressed<T, I, P>(Stat, std::size_t, const T*, const I*, const P*, std::size_t, \
                                                     const std::int64_t*, std::size_t, const BlockColumns&);
#define QUEND_VALUE(T)                             \
    QUEND_DENSE(T)                                 \
    QUEND_SPARSE_IP(T, std::int32_t, std::int32_t) \
    QUEND_SPARSE_IP(T, std::int32_t, std::int64_t) \
    QUEND_SPARSE_IP(T, std::int64_t, std::int64_t) \
    QUEND_SPARSE_IP(T, std::int64_t, std::int32_t)
QUEND_VALUE(float)
QUEND_VALUE(double)
QUEND_VALUE(bool)
QUEND_VALUE(std::int8_t)
QUEND_VALUE(std::int16_t)
QUEND_VALUE(std::int32_t)
QUEND_VALUE(std::int64_t)
QUEND_VALUE(std::uint8_t)
QUEND_VALUE(std::uint16_t)
QUEND_VALUE(std::uint32_t)
QUEND_VALUE(std::uint64_t)
#undef QUEND_VALUE
#undef QUEND_SPARSE_IP
#undef QUEND_DENSE

#define QUEND_CHECK(I, P) \
    template std::string check_compressed<I, P>(const I*, const P*, std::size_t, std::size_t, std::size_t, bool&);
QUEND_CHECK(std::int32_t, std::int32_t)
QUEND_CHECK(std::int32_t, std::int64_t)
QUEND_CHECK(std::int64_t, std::int32_t)
QUEND_CHECK(std::int64_t, std::int64_t)
#undef QUEND_CHECK

}  // namespace quend
