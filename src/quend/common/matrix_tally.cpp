#include "common/matrix_tally.hpp"

#include "common/nb.hpp"

#include <string>

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

namespace {

using AnyArray = nb::ndarray<nb::ro, nb::device::cpu>;

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
    nb::object dt = arr.attr("dtype");
    const bool native = nb::cast<bool>(dt.attr("isnative"));
    const std::string kind = nb::cast<std::string>(dt.attr("kind"));
    const int size = nb::cast<int>(dt.attr("itemsize"));
    if (sparse_index) {
        if (native && kind == "i" && (size == 4 || size == 8)) return arr;
        return arr.attr("astype")(np.attr("int64"));
    }
    if (native && (kind == "b" || kind == "i" || kind == "u" || (kind == "f" && (size == 4 || size == 8))))
        return arr;
    if (kind == "f" && size == 2) return arr.attr("astype")(np.attr("float32"));
    return arr.attr("astype")(np.attr("float64"));
}

}  // namespace

MatrixTallies tally_matrix(nb::handle X_in, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums) {
    nb::object np = nb::module_::import_("numpy");
    nb::object sp = nb::module_::import_("scipy.sparse");
    nb::object X = nb::borrow(X_in);
    if (X.is_none()) raise(PyExc_ValueError, "adata.X holds no matrix (None)");
    const std::size_t n_groups = groups.n_labels();
    MatrixTallies out;

    if (nb::cast<bool>(sp.attr("issparse")(X))) {
        std::string fmt = nb::cast<std::string>(X.attr("format"));
        if (fmt != "csr" && fmt != "csc") {
            X = X.attr("tocsr")();
            fmt = "csr";
        }
        // Stored duplicates add up in the dense view; only then pay for a copy.
        if (!nb::cast<bool>(X.attr("has_canonical_format"))) {
            X = X.attr("copy")();
            X.attr("sum_duplicates")();
        }
        nb::tuple shape = nb::cast<nb::tuple>(X.attr("shape"));
        const std::size_t n_rows = nb::cast<std::size_t>(shape[0]), n_cols = nb::cast<std::size_t>(shape[1]);
        if (n_rows != groups.n)
            raise(PyExc_ValueError, "adata.X has " + std::to_string(n_rows) + " rows but obs has " +
                                        std::to_string(groups.n) + " cells");
        nb::object data = native_numeric(X.attr("data"), false);
        nb::object indices = native_numeric(X.attr("indices"), true);
        nb::object indptr = native_numeric(X.attr("indptr"), true);
        auto d = nb::cast<AnyArray>(data, false);
        auto ix = nb::cast<AnyArray>(indices, false);
        auto ip = nb::cast<AnyArray>(indptr, false);
        if (ix.dtype() != ip.dtype()) {
            indices = indices.attr("astype")(np.attr("int64"));
            indptr = indptr.attr("astype")(np.attr("int64"));
            ix = nb::cast<AnyArray>(indices, false);
            ip = nb::cast<AnyArray>(indptr, false);
        }
        const bool by_rows = fmt == "csr";
        const bool i64 = ix.dtype() == nb::dtype<std::int64_t>();
        out.float32 = d.dtype() == nb::dtype<float>();
        dispatch_value(d.dtype(), [&](auto tag) {
            using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
            const T* vals = static_cast<const T*>(d.data());
            if (i64)
                out.tallies = tally_compressed(vals, static_cast<const std::int64_t*>(ix.data()),
                                               static_cast<const std::int64_t*>(ip.data()), by_rows, n_rows, n_cols,
                                               groups.data, n_groups, sel, with_sums);
            else
                out.tallies = tally_compressed(vals, static_cast<const std::int32_t*>(ix.data()),
                                               static_cast<const std::int32_t*>(ip.data()), by_rows, n_rows, n_cols,
                                               groups.data, n_groups, sel, with_sums);
        });
        return out;
    }

    nb::object arr = np.attr("asarray")(X);
    if (nb::cast<int>(arr.attr("ndim")) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    arr = native_numeric(arr, false);
    auto a = nb::cast<AnyArray>(arr, false);
    if (a.shape(0) != groups.n)
        raise(PyExc_ValueError, "adata.X has " + std::to_string(a.shape(0)) + " rows but obs has " +
                                    std::to_string(groups.n) + " cells");
    out.float32 = a.dtype() == nb::dtype<float>();
    dispatch_value(a.dtype(), [&](auto tag) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
        out.tallies = tally_dense(static_cast<const T*>(a.data()), a.shape(0), a.shape(1), a.stride(0), a.stride(1),
                                  groups.data, n_groups, sel, with_sums);
    });
    return out;
}

}  // namespace quend::glue
