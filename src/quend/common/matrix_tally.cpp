#include "common/matrix_tally.hpp"

#include "common/nb.hpp"

#include <string>

#include "common/backed_tally.hpp"
#include "common/dask_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/pyglue.hpp"
#include "core/row_order.hpp"
#include "core/tally_merge.hpp"

namespace quend::glue {

namespace {

template <typename F>
bool dispatch_value(const nb::dlpack::dtype& dt, F&& f) {
    if (dt == nb::dtype<float>()) return f(static_cast<const float*>(nullptr)), true;
    if (dt == nb::dtype<double>()) return f(static_cast<const double*>(nullptr)), true;
    if (dt == nb::dtype<bool>()) return f(static_cast<const bool*>(nullptr)), true;
    if (dt == nb::dtype<std::int8_t>()) return f(static_cast<const std::int8_t*>(nullptr)), true;
    if (dt == nb::dtype<std::int16_t>()) return f(static_cast<const std::int16_t*>(nullptr)), true;
    if (dt == nb::dtype<std::int32_t>()) return f(static_cast<const std::int32_t*>(nullptr)), true;
    if (dt == nb::dtype<std::int64_t>()) return f(static_cast<const std::int64_t*>(nullptr)), true;
    if (dt == nb::dtype<std::uint8_t>()) return f(static_cast<const std::uint8_t*>(nullptr)), true;
    if (dt == nb::dtype<std::uint16_t>()) return f(static_cast<const std::uint16_t*>(nullptr)), true;
    if (dt == nb::dtype<std::uint32_t>()) return f(static_cast<const std::uint32_t*>(nullptr)), true;
    if (dt == nb::dtype<std::uint64_t>()) return f(static_cast<const std::uint64_t*>(nullptr)), true;
    return false;
}

// Element types the kernels read directly; anything else (float16, object,
// non-native byte order) is converted once.
nb::object native_numeric(nb::object arr, bool sparse_index) {
    nb::object np = nb::module_::import_("numpy");
    arr = np.attr("asarray")(arr);
    nb::object dt = arr.attr("dtype");
    const bool native = nb::cast<bool>(dt.attr("isnative"));
    const std::string kind = nb::cast<std::string>(dt.attr("kind"));
    const int size = nb::cast<int>(dt.attr("itemsize"));
    if (sparse_index) {
        if (native && kind == "i" && (size == 4 || size == 8)) return arr;
        return arr.attr("astype")(np.attr("int64"));
    }
    if (native && (kind == "b" || kind == "i" || kind == "u" || (kind == "f" && (size == 4 || size == 8)))) return arr;
    if (kind == "f" && size == 2) return arr.attr("astype")(np.attr("float32"));
    return arr.attr("astype")(np.attr("float64"));
}

void check_rows(std::size_t n_rows, std::size_t expected) {
    if (n_rows != expected)
        raise(PyExc_ValueError,
              "adata.X has " + std::to_string(n_rows) + " rows but obs has " + std::to_string(expected) + " cells");
}

template <typename I, typename P>
bool check_layout(const AnyArray& ix, const AnyArray& ip, std::size_t n_major, std::size_t n_minor, std::size_t nnz) {
    if (ip.shape(0) != n_major + 1)
        raise(PyExc_ValueError, "malformed sparse X: indptr has " + std::to_string(ip.shape(0)) +
                                    " entries, expected " + std::to_string(n_major + 1));
    if (ix.shape(0) < nnz) raise(PyExc_ValueError, "malformed sparse X: fewer indices than stored values");
    bool canonical = true;
    const std::string err = check_compressed(static_cast<const I*>(ix.data()), static_cast<const P*>(ip.data()),
                                             n_major, n_minor, nnz, canonical);
    if (!err.empty()) raise(PyExc_ValueError, "malformed sparse X: " + err);
    return canonical;
}

// CSR rows tallied group after group (see core/row_order.hpp), into `into`
// when given.
template <typename T, typename I>
GroupTallies tally_regrouped(const T* data, const I* indices, const I* indptr, std::size_t n_rows, std::size_t n_cols,
                             const std::int64_t* codes, std::size_t n_groups, const ColumnSelection& sel,
                             bool with_sums, GroupTallies* into) {
    const GroupedRows grouped = rows_by_group(codes, n_rows, n_groups);
    // Kept between blocks: fresh pages for every block cost more than the copy.
    thread_local std::vector<T> d;
    thread_local std::vector<I> ix;
    thread_local std::vector<std::int64_t> ip;
    gather_rows(data, indices, indptr, grouped.rows, d, ix, ip);
    if (into) {
        add_compressed(*into, d.data(), ix.data(), ip.data(), true, grouped.rows.size(), n_cols, grouped.codes.data(),
                       sel);
        return {};
    }
    return tally_compressed(d.data(), ix.data(), ip.data(), true, grouped.rows.size(), n_cols, grouped.codes.data(),
                            n_groups, sel, with_sums);
}

template <typename T, typename I>
GroupTallies tally_in_order(const T* data, const I* indices, const I* indptr, bool by_rows, std::size_t n_rows,
                            std::size_t n_cols, const std::int64_t* codes, std::size_t n_groups,
                            const ColumnSelection& sel, bool with_sums, GroupTallies* into) {
    if (into) {
        add_compressed(*into, data, indices, indptr, by_rows, n_rows, n_cols, codes, sel);
        return {};
    }
    return tally_compressed(data, indices, indptr, by_rows, n_rows, n_cols, codes, n_groups, sel, with_sums);
}

// The tallies of a compressed block, or, with `into`, added into it.
GroupTallies compressed_arrays(nb::object data, nb::object indices, nb::object indptr, bool by_rows, std::size_t n_rows,
                               std::size_t n_cols, const std::int64_t* codes, std::size_t n_groups,
                               const ColumnSelection& sel, bool with_sums, bool regroup, GroupTallies* into) {
    nb::object np = nb::module_::import_("numpy");
    data = native_numeric(data, false);
    indices = native_numeric(indices, true);
    indptr = native_numeric(indptr, true);
    if (!indices.attr("dtype").equal(indptr.attr("dtype"))) {
        indices = indices.attr("astype")(np.attr("int64"));
        indptr = indptr.attr("astype")(np.attr("int64"));
    }
    auto d = nb::cast<AnyArray>(data, false);
    auto ix = nb::cast<AnyArray>(indices, false);
    auto ip = nb::cast<AnyArray>(indptr, false);
    const bool i64 = ix.dtype() == nb::dtype<std::int64_t>();
    const std::size_t n_major = by_rows ? n_rows : n_cols, n_minor = by_rows ? n_cols : n_rows;
    if (ip.ndim() != 1 || ix.ndim() != 1 || d.ndim() != 1)
        raise(PyExc_ValueError, "malformed sparse X: data, indices and indptr must be one-dimensional");
    const std::size_t nnz = d.shape(0);
    const bool canonical = i64 ? check_layout<std::int64_t, std::int64_t>(ix, ip, n_major, n_minor, nnz)
                               : check_layout<std::int32_t, std::int32_t>(ix, ip, n_major, n_minor, nnz);
    if (!canonical) {
        // Stored duplicates add up in the dense view; sum them on a copy.
        nb::object sp = nb::module_::import_("scipy.sparse");
        nb::object M = sp.attr(by_rows ? "csr_matrix" : "csc_matrix")(nb::make_tuple(data, indices, indptr),
                                                                      nb::arg("shape") = nb::make_tuple(n_rows, n_cols),
                                                                      nb::arg("copy") = true);
        M.attr("sum_duplicates")();
        return compressed_arrays(M.attr("data"), M.attr("indices"), M.attr("indptr"), by_rows, n_rows, n_cols, codes,
                                 n_groups, sel, with_sums, regroup, into);
    }
    GroupTallies out;
    dispatch_value(d.dtype(), [&](auto tag) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
        const T* vals = static_cast<const T*>(d.data());
        if constexpr (!std::is_same_v<T, bool>) {
            if (regroup && by_rows && n_groups > 1) {
                if (i64)
                    out = tally_regrouped(vals, static_cast<const std::int64_t*>(ix.data()),
                                          static_cast<const std::int64_t*>(ip.data()), n_rows, n_cols, codes, n_groups,
                                          sel, with_sums, into);
                else
                    out = tally_regrouped(vals, static_cast<const std::int32_t*>(ix.data()),
                                          static_cast<const std::int32_t*>(ip.data()), n_rows, n_cols, codes, n_groups,
                                          sel, with_sums, into);
                return;
            }
        }
        if (i64)
            out = tally_in_order(vals, static_cast<const std::int64_t*>(ix.data()),
                                 static_cast<const std::int64_t*>(ip.data()), by_rows, n_rows, n_cols, codes, n_groups,
                                 sel, with_sums, into);
        else
            out = tally_in_order(vals, static_cast<const std::int32_t*>(ix.data()),
                                 static_cast<const std::int32_t*>(ip.data()), by_rows, n_rows, n_cols, codes, n_groups,
                                 sel, with_sums, into);
    });
    return out;
}

// Tallies of a numpy-like block into `*out`, or added into it when `add`.
// Returns whether the block holds float32.
bool dense_tallies(nb::handle X, const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups,
                   const ColumnSelection& sel, bool with_sums, GroupTallies* out, bool add) {
    nb::object arr = nb::module_::import_("numpy").attr("asarray")(X);
    if (nb::cast<int>(arr.attr("ndim")) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    arr = native_numeric(arr, false);
    auto a = nb::cast<AnyArray>(arr, false);
    check_rows(a.shape(0), n_rows);
    dispatch_value(a.dtype(), [&](auto tag) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
        const T* data = static_cast<const T*>(a.data());
        if (add)
            add_dense(*out, data, a.shape(0), a.shape(1), a.stride(0), a.stride(1), codes, sel);
        else
            *out = tally_dense(data, a.shape(0), a.shape(1), a.stride(0), a.stride(1), codes, n_groups, sel, with_sums);
    });
    return a.dtype() == nb::dtype<float>();
}

}  // namespace

GroupTallies tally_compressed_arrays(nb::object data, nb::object indices, nb::object indptr, bool by_rows,
                                     std::size_t n_rows, std::size_t n_cols, const std::int64_t* codes,
                                     std::size_t n_groups, const ColumnSelection& sel, bool with_sums, bool regroup) {
    return compressed_arrays(std::move(data), std::move(indices), std::move(indptr), by_rows, n_rows, n_cols, codes,
                             n_groups, sel, with_sums, regroup, nullptr);
}

void add_compressed_arrays(GroupTallies& into, nb::object data, nb::object indices, nb::object indptr, bool by_rows,
                           std::size_t n_rows, std::size_t n_cols, const std::int64_t* codes,
                           const ColumnSelection& sel, bool regroup) {
    compressed_arrays(std::move(data), std::move(indices), std::move(indptr), by_rows, n_rows, n_cols, codes,
                      into.n_groups, sel, into.with_sums, regroup, &into);
}

MatrixTallies tally_block(nb::handle X_in, const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups,
                          const ColumnSelection& sel, bool with_sums, bool regroup) {
    nb::object sp = nb::module_::import_("scipy.sparse");
    nb::object X = nb::borrow(X_in);
    MatrixTallies out;

    if (nb::cast<bool>(sp.attr("issparse")(X))) {
        std::string fmt = nb::cast<std::string>(X.attr("format"));
        if (fmt != "csr" && fmt != "csc") {
            X = X.attr("tocsr")();
            fmt = "csr";
        }
        nb::tuple shape = nb::cast<nb::tuple>(X.attr("shape"));
        const std::size_t rows = nb::cast<std::size_t>(shape[0]), cols = nb::cast<std::size_t>(shape[1]);
        check_rows(rows, n_rows);
        out.float32 = holds_float32(X.attr("dtype"));
        out.tallies = tally_compressed_arrays(X.attr("data"), X.attr("indices"), X.attr("indptr"), fmt == "csr", rows,
                                              cols, codes, n_groups, sel, with_sums, regroup);
        return out;
    }

    out.float32 = dense_tallies(X, codes, n_rows, n_groups, sel, with_sums, &out.tallies, false);
    return out;
}

void add_dense_block(GroupTallies& into, nb::handle block, const std::int64_t* codes, std::size_t n_rows,
                     const ColumnSelection& sel) {
    dense_tallies(block, codes, n_rows, into.n_groups, sel, into.with_sums, &into, true);
}

GroupTallies tally_window(nb::handle block, const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups,
                          const ColumnSelection& sel, std::size_t c0, std::size_t width, bool count_sizes,
                          bool with_sums) {
    const std::size_t n_out = sel.cols.empty() ? sel.n_matrix_cols : sel.cols.size();
    if (c0 == 0 && width == sel.n_matrix_cols) {
        GroupTallies t = tally_block(block, codes, n_rows, n_groups, sel, with_sums, true).tallies;
        if (!count_sizes) t.group_size.assign(n_groups, 0);
        return t;
    }
    ColumnSelection local{width, {}};
    std::vector<std::size_t> at;
    for (std::size_t k = 0; k < n_out; ++k) {
        const std::size_t c = sel.cols.empty() ? k : static_cast<std::size_t>(sel.cols[k]);
        if (c < c0 || c >= c0 + width) continue;
        local.cols.push_back(static_cast<std::int64_t>(c - c0));
        at.push_back(k);
    }
    if (at.empty()) return empty_tallies(n_groups, n_out, with_sums, count_sizes ? codes : nullptr, n_rows);
    return widen_tallies(tally_block(block, codes, n_rows, n_groups, local, with_sums, true).tallies, at, n_out,
                         count_sizes);
}

MatrixTallies tally_matrix(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums) {
    switch (matrix_kind(X)) {
        case MatrixKind::missing: raise(PyExc_ValueError, "adata.X holds no matrix (None)");
        case MatrixKind::in_memory:
            return tally_block(X, groups.data, groups.n, groups.n_labels(), sel, with_sums, false);
        case MatrixKind::backed_sparse:
        case MatrixKind::backed_dense: return tally_backed(X, groups, sel, with_sums);
        case MatrixKind::dask: return tally_dask(X, groups, sel, with_sums);
        case MatrixKind::unsupported: break;
    }
    raise_unsupported_matrix(X);
}

}  // namespace quend::glue
