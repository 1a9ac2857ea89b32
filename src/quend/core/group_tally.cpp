#include "core/group_tally.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace quend {

namespace {

constexpr const char* kChanged = "malformed sparse X: its indices or pointers changed while being read";

// One read of a value another thread may be writing: the compiler may not
// read it again after it was checked.
template <typename T>
inline T load_once(const T* p) {
    return __atomic_load_n(p, __ATOMIC_RELAXED);
}

[[noreturn]] void fail(const std::string& what) { throw std::invalid_argument(what); }

// The array lengths of a compressed block; "" when they agree.
std::string check_lengths(const BlockView& b) {
    const std::size_t n_major = b.form == BlockView::csr ? b.n_rows : b.n_cols;
    if (b.n_indptr != n_major + 1)
        return "indptr has " + std::to_string(b.n_indptr) + " entries, expected " + std::to_string(n_major + 1);
    if (b.n_indices < b.n_data) return "fewer indices than stored values";
    return {};
}

// Pointers that start at 0, never decrease and end at `nnz`; "" when so.
template <typename P>
std::string check_pointers(const P* indptr, std::size_t n_major, std::size_t nnz) {
    if (indptr[0] != 0) return "indptr does not start at 0";
    if (static_cast<std::uint64_t>(indptr[n_major]) != nnz)
        return "indptr ends at " + std::to_string(static_cast<long long>(indptr[n_major])) + " but there are " +
               std::to_string(nnz) + " stored values";
    for (std::size_t s = 0; s < n_major; ++s) {
        const P lo = indptr[s], hi = indptr[s + 1];
        if (hi < lo) return "indptr decreases at position " + std::to_string(s + 1);
        if (static_cast<std::uint64_t>(hi) > nnz) return "indptr goes past the stored values";
    }
    return {};
}

// Storage for copied values: std::vector<bool> holds no array of bool.
template <typename T>
using Stored = std::conditional_t<std::is_same_v<T, bool>, unsigned char, T>;
template <typename T>
const T* as_values(const std::vector<Stored<T>>& v) {
    return reinterpret_cast<const T*>(v.data());
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

// The arrays of a compressed block, read so that every offset and index is
// checked where it is used.
template <typename I, typename P>
struct Slices {
    const I* indices;
    const P* indptr;
    std::size_t n_major, n_minor, nnz;
    std::pair<std::size_t, std::size_t> range(std::size_t s) const {
        const P lo = load_once(indptr + s), hi = load_once(indptr + s + 1);
        if (lo < 0 || hi < lo || static_cast<std::uint64_t>(hi) > nnz) fail(kChanged);
        return {static_cast<std::size_t>(lo), static_cast<std::size_t>(hi)};
    }
    std::size_t index(std::size_t q) const {
        const I v = load_once(indices + q);
        if (static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) >= n_minor) fail(kChanged);
        return static_cast<std::size_t>(v);
    }
};

// A canonical copy of a compressed block: each slice's indices sorted and
// duplicates summed (in the element type, as scipy sums them).
template <typename T, typename I, typename P>
struct Canonical {
    std::vector<Stored<T>> data;
    std::vector<I> indices;
    std::vector<P> indptr;
    Canonical(const T* d, const Slices<I, P>& s) {
        indptr.reserve(s.n_major + 1);
        indptr.push_back(0);
        std::vector<std::pair<std::size_t, T>> row;
        for (std::size_t m = 0; m < s.n_major; ++m) {
            const auto [lo, hi] = s.range(m);
            row.clear();
            for (std::size_t q = lo; q < hi; ++q) row.emplace_back(s.index(q), d[q]);
            std::stable_sort(row.begin(), row.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            for (std::size_t q = 0; q < row.size(); ++q) {
                if (q > 0 && row[q].first == row[q - 1].first) {
                    if constexpr (std::is_same_v<T, bool>)
                        data.back() = data.back() | row[q].second;
                    else
                        data.back() = static_cast<T>(data.back() + row[q].second);
                } else {
                    indices.push_back(static_cast<I>(row[q].first));
                    data.push_back(static_cast<Stored<T>>(row[q].second));
                }
            }
            indptr.push_back(static_cast<P>(data.size()));
        }
    }
};

// f(Slices<I, P>, const T*) for a checked compressed block whose stored
// duplicates are summed.
template <typename T, typename F>
void with_slices(const BlockView& b, const T* data, F&& f) {
    auto run = [&](auto tag) {
        using I = decltype(tag);
        const auto* ix = static_cast<const I*>(b.indices);
        const auto* ip = static_cast<const I*>(b.indptr);
        const bool by_rows = b.form == BlockView::csr;
        const std::size_t n_major = by_rows ? b.n_rows : b.n_cols, n_minor = by_rows ? b.n_cols : b.n_rows;
        const std::size_t nnz = b.n_data;
        bool canonical = true;
        const std::string err = check_block(b, canonical);
        if (!err.empty()) fail("malformed sparse X: " + err);
        const Slices<I, I> s{ix, ip, n_major, n_minor, nnz};
        if (canonical) return f(s, data);
        const Canonical<T, I, I> c(data, s);
        f(Slices<I, I>{c.indices.data(), c.indptr.data(), n_major, n_minor, c.data.size()}, as_values<T>(c.data));
    };
    if (b.wide_index)
        run(std::int64_t{});
    else
        run(std::int32_t{});
}

// Table pointers by part kind (null where not held), for the per-value rule.
struct Kinds {
    double* p[kMaxParts] = {};
    Kinds(PartSet s, double* const* held) {
        for (std::size_t i = 0; i < s.size(); ++i) p[static_cast<unsigned>(s.at(i))] = held[i];
    }
};

template <typename T>
bool plain_dense(const BlockView& b, const T* data, PartSet parts) {
    const auto r = static_cast<std::size_t>(std::abs(b.row_stride)),
               c = static_cast<std::size_t>(std::abs(b.col_stride));
    const bool packed = (c == 1 && r == b.n_cols) || (r == 1 && c == b.n_rows);
    if (!packed || b.row_stride < 0 || b.col_stride < 0) return false;  // the checked rule is always right
    return plain_values(parts, data, b.n_rows * b.n_cols);
}

template <typename R, bool Plain, typename T>
void dense_pass(DenseTally& t, const BlockView& b, const T* data, const std::int64_t* codes, const BlockColumns& c) {
    const auto pairs = tallied(c);
    const Kinds kinds(t.parts, t.part);
    double* const* part = kinds.p;
    const std::ptrdiff_t rs = b.row_stride, cs = b.col_stride;
    // Walk memory in storage order: rows outer for row-major blocks.
    if (std::abs(cs) <= std::abs(rs)) {
        for (std::size_t i = 0; i < b.n_rows; ++i) {
            if (codes[i] < 0) continue;
            const T* row = data + static_cast<std::ptrdiff_t>(i) * rs;
            const std::size_t base = static_cast<std::size_t>(codes[i]) * t.width;
            for (const auto& [j, k] : pairs)
                R::template add<Plain>(part, base + k, row[static_cast<std::ptrdiff_t>(j) * cs]);
        }
    } else {
        for (const auto& [j, k] : pairs) {
            const T* col = data + static_cast<std::ptrdiff_t>(j) * cs;
            for (std::size_t i = 0; i < b.n_rows; ++i)
                if (codes[i] >= 0)
                    R::template add<Plain>(part, static_cast<std::size_t>(codes[i]) * t.width + k,
                                           col[static_cast<std::ptrdiff_t>(i) * rs]);
        }
    }
}

// Out of line, so that the check where each index is read stays small
// enough to inline into the pass.
[[noreturn]] __attribute__((noinline, cold)) void bad_index(long long v, std::size_t n_minor) {
    fail("malformed sparse X: index " + std::to_string(v) + " out of range [0, " + std::to_string(n_minor) + ")");
}

// Whether the plain rule asks a block to hold no NaN: `positive` alone
// never counts one.
bool looks_at_nan(PartSet s) { return s.mask != 1u << static_cast<unsigned>(Part::positive); }

// A compressed block read for adding, in one pass: the pointers are
// checked up front (one per slice), each stored index where it is used.
// Before a slice is added, one vectorised look at it tells whether its
// indices strictly increase (else it is added from a sorted copy with its
// duplicates summed, in the element type, as scipy sums them) and, where
// the parts look at NaN, whether it holds one (else the plain rule).
// A separate check pass over the whole block would read every index twice.
template <typename T, typename I>
class SlicePass {
public:
    SlicePass(const BlockView& b, const T* data, PartSet parts)
        : data_(data),
          indices_(static_cast<const I*>(b.indices)),
          indptr_(static_cast<const I*>(b.indptr)),
          n_major_(b.form == BlockView::csr ? b.n_rows : b.n_cols),
          n_minor_(b.form == BlockView::csr ? b.n_cols : b.n_rows),
          nnz_(b.n_data),
          nan_matters_(std::is_floating_point_v<T> && looks_at_nan(parts)) {
        std::string err = check_lengths(b);
        if (err.empty()) err = check_pointers(indptr_, n_major_, b.n_data);
        if (!err.empty()) fail("malformed sparse X: " + err);
    }
    std::size_t n_major() const { return n_major_; }
    // Whether a slice was added with the rule that counts NaN.
    bool counted_nan() const { return counted_nan_; }

    // sink.add<Plain>(minor index, value) for each stored value of slice s.
    template <typename Sink>
    void add(std::size_t s, Sink& sink) {
        const auto [lo, hi] = range(s);
        const I* ix = indices_;
        unsigned increasing = 1, nan = 0;
        for (std::size_t q = lo + 1; q < hi; ++q) increasing &= ix[q] > ix[q - 1];
        if constexpr (std::is_floating_point_v<T>)
            if (nan_matters_)
                for (std::size_t q = lo; q < hi; ++q) nan |= data_[q] != data_[q];
        if (!increasing) return add_sorted(lo, hi, sink);
        if (nan) {
            counted_nan_ = true;
            return add_values<false>(lo, hi, sink);
        }
        add_values<true>(lo, hi, sink);
    }
    // A slice the pass leaves out, its indices checked all the same.
    void skip(std::size_t s) {
        const auto [lo, hi] = range(s);
        unsigned in_range = 1;
        for (std::size_t q = lo; q < hi; ++q) in_range &= wide(indices_[q]) < n_minor_;
        if (!in_range)
            for (std::size_t q = lo; q < hi; ++q) index(q);
    }

private:
    static std::uint64_t wide(I v) { return static_cast<std::uint64_t>(static_cast<std::int64_t>(v)); }
    std::pair<std::size_t, std::size_t> range(std::size_t s) const {
        return Slices<I, I>{indices_, indptr_, n_major_, n_minor_, nnz_}.range(s);
    }
    std::size_t index(std::size_t q) const {
        const I v = load_once(indices_ + q);
        if (wide(v) >= n_minor_) bad_index(static_cast<long long>(v), n_minor_);
        return static_cast<std::size_t>(v);
    }
    template <bool Plain, typename Sink>
    void add_values(std::size_t lo, std::size_t hi, Sink& sink) const {
        const T* d = data_;
        const I* ix = indices_;
        std::size_t q = lo;
        // The table cells a few values ahead are asked for early: the cells
        // of one cell's row lie far apart, each a cache miss.
        constexpr std::size_t kAhead = 16;
        for (; q + kAhead < hi; ++q) {
            sink.prefetch(static_cast<std::size_t>(ix[q + kAhead]));
            sink.template add<Plain>(index(q), d[q]);
        }
        for (; q < hi; ++q) sink.template add<Plain>(index(q), d[q]);
    }
    template <typename Sink>
    void add_sorted(std::size_t lo, std::size_t hi, Sink& sink) {
        sorted_.clear();
        for (std::size_t q = lo; q < hi; ++q) sorted_.emplace_back(index(q), data_[q]);
        std::stable_sort(sorted_.begin(), sorted_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::size_t n = 0;
        for (std::size_t q = 0; q < sorted_.size(); ++q) {
            if (n > 0 && sorted_[q].first == sorted_[n - 1].first) {
                T& sum = sorted_[n - 1].second;
                if constexpr (std::is_same_v<T, bool>)
                    sum = sum | sorted_[q].second;
                else
                    sum = static_cast<T>(sum + sorted_[q].second);
            } else {
                sorted_[n++] = sorted_[q];
            }
        }
        counted_nan_ = true;
        for (std::size_t q = 0; q < n; ++q) sink.template add<false>(sorted_[q].first, sorted_[q].second);
    }

    const T* data_;
    const I* indices_;
    const I* indptr_;
    std::size_t n_major_, n_minor_, nnz_;
    bool nan_matters_, counted_nan_ = false;
    std::vector<std::pair<std::size_t, T>> sorted_;
};

// Sinks of a compressed pass: the table row of one cell (CSR), or the
// table column of one gene (CSC).
template <typename R, bool Identity>
struct CellRow {
    double* const* part;
    const std::int64_t* slot;
    std::size_t base;
    std::uintptr_t hot;  // the table every value writes, 0 for none
    // A hint only, never a read: `j` has not been checked.
    void prefetch(std::size_t j) const {
        if constexpr (Identity) __builtin_prefetch(reinterpret_cast<const void*>(hot + (base + j) * sizeof(double)));
    }
    template <bool Plain, typename T>
    void add(std::size_t j, T v) const {
        std::int64_t k = static_cast<std::int64_t>(j);
        if constexpr (!Identity) {
            k = slot[j];
            if (k < 0) return;
        }
        R::template add<Plain>(part, base + static_cast<std::size_t>(k), v);
    }
};
template <typename R>
struct GeneColumn {
    double* const* part;
    const std::int64_t* codes;
    std::size_t width, k;
    void prefetch(std::size_t) const {}
    template <bool Plain, typename T>
    void add(std::size_t i, T v) const {
        const std::int64_t g = codes[i];
        if (g >= 0) R::template add<Plain>(part, static_cast<std::size_t>(g) * width + k, v);
    }
};

template <typename R, bool Identity, typename T, typename I>
void rows_pass(DenseTally& t, SlicePass<T, I>& pass, const std::int64_t* codes, const std::int64_t* slot) {
    const Kinds kinds(t.parts, t.part);
    const std::uintptr_t hot = reinterpret_cast<std::uintptr_t>(t.part[0]);
    for (std::size_t i = 0; i < pass.n_major(); ++i) {
        if (codes[i] < 0) {
            pass.skip(i);
            continue;
        }
        CellRow<R, Identity> row{kinds.p, slot, static_cast<std::size_t>(codes[i]) * t.width, hot};
        pass.add(i, row);
    }
}

template <typename R, typename T, typename I>
void compressed_pass(DenseTally& t, const BlockView& b, const T* data, const std::int64_t* codes,
                     const BlockColumns& c) {
    SlicePass<T, I> pass(b, data, t.parts);
    if (b.form == BlockView::csr) {
        if (c.identity)
            rows_pass<R, true>(t, pass, codes, c.slot);
        else
            rows_pass<R, false>(t, pass, codes, c.slot);
    } else {
        const Kinds kinds(t.parts, t.part);
        for (std::size_t j = 0; j < pass.n_major(); ++j) {
            const std::int64_t k = c.identity ? static_cast<std::int64_t>(j) : c.slot[j];
            if (k < 0) {
                pass.skip(j);
                continue;
            }
            GeneColumn<R> col{kinds.p, codes, t.width, static_cast<std::size_t>(k)};
            pass.add(j, col);
        }
    }
    // A pass that met no NaN leaves the NaN counts untouched.
    for (std::size_t p = 0; p < t.parts.size(); ++p)
        if (pass.counted_nan() || t.parts.at(p) != Part::nan_count) t.touched[p] = true;
}

// The rows of a CSC block, as CSR arrays.
template <typename T>
struct Transposed {
    std::vector<Stored<T>> data;
    std::vector<std::int64_t> indices, indptr;
};
template <typename T, typename I, typename P>
Transposed<T> to_rows(const T* data, const Slices<I, P>& s) {
    Transposed<T> t;
    t.indptr.assign(s.n_minor + 1, 0);
    for (std::size_t j = 0; j < s.n_major; ++j) {
        const auto [lo, hi] = s.range(j);
        for (std::size_t q = lo; q < hi; ++q) ++t.indptr[s.index(q) + 1];
    }
    for (std::size_t i = 0; i < s.n_minor; ++i) t.indptr[i + 1] += t.indptr[i];
    const auto n = static_cast<std::size_t>(t.indptr[s.n_minor]);
    t.data.resize(n);
    t.indices.resize(n);
    std::vector<std::int64_t> next(t.indptr.begin(), t.indptr.end() - 1);
    for (std::size_t j = 0; j < s.n_major; ++j) {
        const auto [lo, hi] = s.range(j);
        for (std::size_t q = lo; q < hi; ++q) {
            // Checked again: the count above may have seen other indices.
            auto& at = next[s.index(q)];
            if (static_cast<std::size_t>(at) >= n) fail(kChanged);
            t.data[static_cast<std::size_t>(at)] = static_cast<Stored<T>>(data[q]);
            t.indices[static_cast<std::size_t>(at++)] = static_cast<std::int64_t>(j);
        }
    }
    return t;
}

// A partial view's arrays checked before a kernel walks them: groups
// ascending and non-negative, columns within the width.
void check_view(const PartialView& v, std::size_t width) {
    if (v.col_map) {
        for (std::size_t k = 0; k < v.width; ++k)
            if (v.col_map[k] < 0 || static_cast<std::size_t>(v.col_map[k]) >= width)
                fail("malformed partial tally: column out of range");
    } else if (v.width != width) {
        fail("malformed partial tally: width " + std::to_string(v.width) + ", expected " + std::to_string(width));
    }
    for (std::size_t g = 0; g < v.n_present; ++g)
        if (v.groups[g] < 0 || (g > 0 && v.groups[g] <= v.groups[g - 1]))
            fail("malformed partial tally: groups must ascend");
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

TallyTable::TallyTable(PartSet parts, std::size_t n_groups, std::size_t width) {
    t_.parts = parts;
    t_.n_groups = n_groups;
    t_.width = width;
    const std::size_t n = n_groups * width;
    if (n == 0) return;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        t_.part[p] = static_cast<double*>(std::calloc(n, sizeof(double)));
        if (!t_.part[p]) {
            for (double*& q : t_.part) std::free(q), q = nullptr;
            throw std::bad_alloc();
        }
    }
}

TallyTable::~TallyTable() {
    for (double* p : t_.part) std::free(p);
}

void narrow_forward(double* values, std::size_t n) {
    auto* bytes = reinterpret_cast<unsigned char*>(values);
    for (std::size_t o = 0; o < n; ++o) {
        double d;
        std::memcpy(&d, bytes + 8 * o, 8);
        const float f = static_cast<float>(d);
        std::memcpy(bytes + 4 * o, &f, 4);
    }
}

namespace {

// Narrowed forward in place, then the buffer shrinks.
double* narrow_in_place(double* values, std::size_t n) {
    narrow_forward(values, n);
    if (void* shrunk = std::realloc(values, n * sizeof(float))) return static_cast<double*>(shrunk);
    return values;
}

}  // namespace

std::vector<FinishedTable> TallyTable::finish(const TallyRequest& req, const std::int64_t* group_size) {
    const std::vector<Stat>& stats = req.stats;
    for (Stat s : stats)
        if ((PartSet(s).mask & ~t_.parts.mask) != 0)
            throw std::invalid_argument(std::string("the tally lacks the parts of '") + recipe_info(s).name + "'");
    const std::size_t n = t_.n_groups * t_.width;
    std::vector<FinishedTable> out;
    out.reserve(stats.size());
    for (std::size_t i = 0; i < stats.size(); ++i) {
        const bool f32 = req.narrow && recipe_info(stats[i]).narrows;
        if (n == 0) {
            out.emplace_back(nullptr, f32);
            continue;
        }
        unsigned later = 0;
        for (std::size_t j = i + 1; j < stats.size(); ++j) later |= PartSet(stats[j]).mask;
        // A part no later statistic reads takes the values in place.
        const PartSet own(stats[i]);
        std::size_t slot = kMaxParts;
        for (std::size_t q = 0; q < own.size() && slot == kMaxParts; ++q) {
            const std::size_t at = t_.parts.index(own.at(q));
            if ((later >> static_cast<unsigned>(own.at(q))) & 1u || !t_.part[at]) continue;
            slot = at;
        }
        if (slot < kMaxParts) {
            double* into = t_.part[slot];
            quend::finish(t_, stats[i], group_size, into);
            t_.part[slot] = nullptr;
            out.emplace_back(f32 ? narrow_in_place(into, n) : into, f32);
            continue;
        }
        // A new buffer of the result's own width.
        void* into = std::malloc(n * (f32 ? sizeof(float) : sizeof(double)));
        if (!into) throw std::bad_alloc();
        if (f32)
            quend::finish(t_, stats[i], group_size, static_cast<float*>(into));
        else
            quend::finish(t_, stats[i], group_size, static_cast<double*>(into));
        out.emplace_back(into, f32);
    }
    for (double*& p : t_.part) std::free(p), p = nullptr;
    return out;
}

void add_block(DenseTally& into, const BlockView& b, const std::int64_t* codes, const BlockColumns& cols) {
    if (into.n_groups * into.width == 0) return;
    with_rule(into.parts, [&](auto r) {
        using R = decltype(r);
        with_dtype(b.dtype, b.data, [&](auto data) {
            using T = std::remove_const_t<std::remove_pointer_t<decltype(data)>>;
            if (b.form != BlockView::dense) {
                if (b.wide_index)
                    compressed_pass<R, T, std::int64_t>(into, b, data, codes, cols);
                else
                    compressed_pass<R, T, std::int32_t>(into, b, data, codes, cols);
                return;
            }
            const bool plain = plain_dense<T>(b, data, into.parts);
            if (plain)
                dense_pass<R, true>(into, b, data, codes, cols);
            else
                dense_pass<R, false>(into, b, data, codes, cols);
            // A plain block counts no NaN.
            for (std::size_t p = 0; p < into.parts.size(); ++p)
                if (!plain || into.parts.at(p) != Part::nan_count) into.touched[p] = true;
        });
    });
}

PartialView Partial::view() const {
    PartialView v;
    v.parts = parts;
    v.width = width;
    v.n_present = groups.size();
    v.groups = groups.data();
    for (std::size_t p = 0; p < kMaxParts; ++p) v.part[p] = part[p].data();
    return v;
}

void add_partial(DenseTally& into, const PartialView& part, std::int64_t g0) {
    if (part.parts != into.parts) fail("malformed partial tally: other parts");
    check_view(part, into.width);
    const std::size_t n_parts = into.parts.size();
    for (std::size_t p = 0; p < part.n_present; ++p) {
        const std::int64_t g = part.groups[p] - g0;
        if (g < 0 || static_cast<std::size_t>(g) >= into.n_groups) fail("partial tally group outside the result rows");
        const std::size_t base = static_cast<std::size_t>(g) * into.width;
        // Whole rows: plain vector adds.
        for (std::size_t q = 0; q < n_parts; ++q) {
            const double* from = part.part[q] + p * part.width;
            double* to = into.part[q] + base;
            bool any = false;
            for (std::size_t k = 0; k < part.width; ++k) any |= from[k] != 0.0;
            if (!any) continue;
            if (part.col_map)
                for (std::size_t k = 0; k < part.width; ++k) to[part.col_map[k]] += from[k];
            else
                for (std::size_t k = 0; k < part.width; ++k) to[k] += from[k];
            into.touched[q] = true;
        }
    }
}

BlockView RowBlock::view() const {
    BlockView v;
    v.form = BlockView::csr;
    v.dtype = dtype;
    v.n_rows = n_rows();
    v.n_cols = n_cols;
    v.data = data.data();
    v.indices = indices.data();
    v.indptr = indptr.data();
    v.n_data = indices.size();
    v.n_indices = indices.size();
    v.n_indptr = indptr.size();
    return v;
}

namespace {

// Room for `most[k]` more values in out[k], allocated once (a vector that
// grows by doubling copies and first-touches its pages twice).
template <typename T>
void make_room(std::vector<RowBlock>& out, const std::vector<std::size_t>& most) {
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (most[k] == 0) continue;
        RowBlock& r = out[k];
        if (r.indices.size() + most[k] > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            fail("too many stored values for one piece of a chunk");
        r.indices.reserve(r.indices.size() + most[k]);
        r.data.reserve((r.indices.size() + most[k]) * sizeof(Stored<T>));
    }
}

// Appends one row to `r` (room made): `fill(put)` calls put(column, value)
// for each value, zeros left out here.
template <typename T, typename Fill>
void append_row(RowBlock& r, std::int64_t code, Fill&& fill) {
    fill([&](std::size_t j, T v) {
        if (v == T{}) return;
        const Stored<T> stored = static_cast<Stored<T>>(v);
        r.indices.push_back(static_cast<std::int32_t>(j));
        const auto* bytes = reinterpret_cast<const unsigned char*>(&stored);
        r.data.insert(r.data.end(), bytes, bytes + sizeof(stored));
    });
    r.indptr.push_back(static_cast<std::int32_t>(r.indices.size()));
    r.codes.push_back(code);
}

template <typename T>
void split_typed(const BlockView& b, const T* data, const std::int64_t* to, const std::int64_t* codes,
                 std::vector<RowBlock>& out) {
    for (std::size_t i = 0; i < b.n_rows; ++i)
        if (to[i] >= 0 && static_cast<std::size_t>(to[i]) >= out.size()) fail("row piece out of range");
    for (RowBlock& r : out) {
        r.dtype = b.dtype;
        r.n_cols = b.n_cols;
    }
    std::vector<std::size_t> most(out.size(), 0);
    if (b.form == BlockView::dense) {
        for (std::size_t i = 0; i < b.n_rows; ++i)
            if (to[i] >= 0) most[static_cast<std::size_t>(to[i])] += b.n_cols;
        make_room<T>(out, most);
        for (std::size_t i = 0; i < b.n_rows; ++i) {
            if (to[i] < 0) continue;
            const T* row = data + static_cast<std::ptrdiff_t>(i) * b.row_stride;
            append_row<T>(out[static_cast<std::size_t>(to[i])], codes[i], [&](auto&& put) {
                for (std::size_t j = 0; j < b.n_cols; ++j) put(j, row[static_cast<std::ptrdiff_t>(j) * b.col_stride]);
            });
        }
        return;
    }
    with_slices(b, data, [&](const auto& s, const T* values) {
        const auto rows = [&](const auto& sl, const T* vals) {
            for (std::size_t i = 0; i < sl.n_major; ++i) {
                if (to[i] < 0) continue;
                const auto [lo, hi] = sl.range(i);
                most[static_cast<std::size_t>(to[i])] += hi - lo;
            }
            make_room<T>(out, most);
            for (std::size_t i = 0; i < sl.n_major; ++i) {
                if (to[i] < 0) continue;
                RowBlock& r = out[static_cast<std::size_t>(to[i])];
                const auto [lo, hi] = sl.range(i);
                // Read again: a range that grew since it was counted would
                // outgrow the room, which push_back survives.
                append_row<T>(r, codes[i], [&](auto&& put) {
                    for (std::size_t q = lo; q < hi; ++q) put(sl.index(q), vals[q]);
                });
            }
        };
        if (b.form == BlockView::csr) return rows(s, values);
        const Transposed<T> t = to_rows(values, s);
        rows(Slices<std::int64_t, std::int64_t>{t.indices.data(), t.indptr.data(), b.n_rows, b.n_cols, t.data.size()},
             as_values<T>(t.data));
    });
    for (const RowBlock& r : out)
        if (r.indices.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            fail("too many stored values for one piece of a chunk");
}

}  // namespace

void split_rows(const BlockView& b, const std::int64_t* to, const std::int64_t* codes, std::vector<RowBlock>& out) {
    if (b.n_cols > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        fail("too many columns for a piece of a chunk");
    with_dtype(b.dtype, b.data, [&](auto data) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(data)>>;
        split_typed<T>(b, data, to, codes, out);
    });
}

namespace {

// Finished values written as `Out` (float values rounded once).
template <typename Out>
void finish_as(const DenseTally& t, Stat stat, const std::int64_t* group_size, Out* out) {
    if (t.n_groups * t.width == 0) return;
    with_recipe(stat, [&](auto r) {
        using R = decltype(r);
        constexpr std::size_t n_parts = std::size(R::parts);
        const double* from[n_parts] = {};
        for (std::size_t i = 0; i < n_parts; ++i) {
            if (!t.parts.has(R::parts[i])) fail(std::string("the tally lacks the parts of '") + R::name + "'");
            const std::size_t at = t.parts.index(R::parts[i]);
            if (t.touched[at]) from[i] = t.part[at];
        }
        double x[n_parts] = {};
        for (std::size_t g = 0; g < t.n_groups; ++g) {
            const std::int64_t n = group_size[g];
            for (std::size_t k = 0, o = g * t.width; k < t.width; ++k, ++o) {
                for (std::size_t i = 0; i < n_parts; ++i) x[i] = from[i] ? from[i][o] : 0.0;
                out[o] = static_cast<Out>(R::finish(x, n));
            }
        }
    });
}

}  // namespace

void finish(const DenseTally& t, Stat stat, const std::int64_t* group_size, double* out) {
    finish_as(t, stat, group_size, out);
}

void finish(const DenseTally& t, Stat stat, const std::int64_t* group_size, float* out) {
    finish_as(t, stat, group_size, out);
}

template <typename I, typename P>
std::string check_compressed(const I* indices, const P* indptr, std::size_t n_major, std::size_t n_minor,
                             std::size_t nnz, bool& canonical) {
    canonical = true;
    std::string err = check_pointers(indptr, n_major, nnz);
    if (!err.empty()) return err;
    for (std::size_t s = 0; s < n_major; ++s) {
        const P lo = indptr[s], hi = indptr[s + 1];
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
    std::vector<double> out(n_groups * n_cols, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t o = 0; o < out.size(); ++o)
        if (nobs[o] > 0) out[o] = sumx[o] / static_cast<double>(nobs[o]);
    return out;
}

std::string check_block(const BlockView& b, bool& canonical) {
    canonical = true;
    if (b.form == BlockView::dense) return {};
    const bool by_rows = b.form == BlockView::csr;
    const std::size_t n_major = by_rows ? b.n_rows : b.n_cols, n_minor = by_rows ? b.n_cols : b.n_rows;
    std::string err = check_lengths(b);
    if (!err.empty()) return err;
    if (b.wide_index)
        return check_compressed(static_cast<const std::int64_t*>(b.indices), static_cast<const std::int64_t*>(b.indptr),
                                n_major, n_minor, b.n_data, canonical);
    return check_compressed(static_cast<const std::int32_t*>(b.indices), static_cast<const std::int32_t*>(b.indptr),
                            n_major, n_minor, b.n_data, canonical);
}

#define QUEND_CHECK(I, P) \
    template std::string check_compressed<I, P>(const I*, const P*, std::size_t, std::size_t, std::size_t, bool&);
QUEND_CHECK(std::int32_t, std::int32_t)
QUEND_CHECK(std::int32_t, std::int64_t)
QUEND_CHECK(std::int64_t, std::int32_t)
QUEND_CHECK(std::int64_t, std::int64_t)
#undef QUEND_CHECK

}  // namespace quend
