#include "common/expression_glue.hpp"

#include <nanobind/ndarray.h>

#include <cstring>
#include <string>

#include "common/pyglue.hpp"
#include "core/group_counts.hpp"

namespace quend::glue {

namespace {

using AnyArray = nb::ndarray<nb::ro, nb::device::cpu>;

nb::module_ builtins() { return nb::module_::import_("builtins"); }

[[noreturn]] void raise(PyObject* type, const std::string& msg) {
    PyErr_SetString(type, msg.c_str());
    throw nb::python_error();
}

bool is_array_like(nb::handle values) {
    nb::object pd = nb::module_::import_("pandas");
    nb::object np = nb::module_::import_("numpy");
    nb::object kinds = nb::make_tuple(pd.attr("Series"), pd.attr("Index"), np.attr("ndarray"),
                                      pd.attr("api").attr("extensions").attr("ExtensionArray"));
    return PyObject_IsInstance(values.ptr(), kinds.ptr()) == 1;
}

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

LabelCodes sorted_label_codes(nb::handle values) {
    nb::object pd = nb::module_::import_("pandas");
    nb::object np = nb::module_::import_("numpy");
    nb::object v = nb::borrow(values);
    if (!is_array_like(v)) v = np.attr("asarray")(builtins().attr("list")(v), nb::arg("dtype") = "object");
    nb::tuple fac = nb::cast<nb::tuple>(pd.attr("factorize")(v));
    // Renumbered in place below: the factorisation's own array when it is a
    // writable int64 block, else a fresh copy.
    nb::object codes = np.attr("ascontiguousarray")(fac[0], nb::arg("dtype") = np.attr("int64"));
    if (!nb::cast<bool>(codes.attr("flags").attr("writeable"))) codes = codes.attr("copy")();
    nb::list uniq = nb::cast<nb::list>(fac[1].attr("tolist")());
    const std::size_t k = nb::len(uniq);
    nb::object order = builtins().attr("sorted")(builtins().attr("range")(k), nb::arg("key") = uniq.attr("__getitem__"));
    LabelCodes out;
    std::vector<std::int64_t> rank(k);
    std::size_t pos = 0;
    for (nb::handle o : order) {
        const std::size_t src = nb::cast<std::size_t>(o);
        rank[src] = static_cast<std::int64_t>(pos++);
        out.labels.append(uniq[src]);
    }
    auto arr = nb::cast<nb::ndarray<std::int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(codes, false);
    out.n = arr.shape(0);
    remap_codes(arr.data(), out.n, rank);
    out.codes = codes;
    out.data = arr.data();
    return out;
}

bool all_genes(nb::handle genes) { return genes.is_none() || nb::len(genes) == 0; }

std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes) {
    nb::object np = nb::module_::import_("numpy");
    nb::object wanted = PyUnicode_Check(genes.ptr()) ? nb::object(nb::make_tuple(genes))
                                                     : builtins().attr("list")(genes);
    nb::object pos = np.attr("asarray")(var_names.attr("get_indexer")(wanted), nb::arg("dtype") = np.attr("int64"));
    auto arr = nb::cast<nb::ndarray<const std::int64_t, nb::ndim<1>, nb::device::cpu>>(pos);
    std::vector<std::int64_t> out(arr.shape(0));
    nb::list missing;
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = arr(k);
        if (out[k] < 0) missing.append(nb::borrow(wanted[k]));
    }
    if (nb::len(missing) > 0) {
        PyErr_SetObject(PyExc_KeyError,
                        nb::str("{} not found in the gene names (var_names)").format(missing).ptr());
        throw nb::python_error();
    }
    return out;
}

nb::object obs_column(nb::handle obs, nb::handle column) {
    if (PySequence_Contains(obs.attr("columns").ptr(), column.ptr()) != 1) {
        if (PyErr_Occurred()) throw nb::python_error();
        PyErr_SetObject(PyExc_KeyError, nb::str("column {!r} not found in obs").format(column).ptr());
        throw nb::python_error();
    }
    return obs[column];
}

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

nb::object numpy_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols, bool as_float32) {
    nb::object np = nb::module_::import_("numpy");
    nb::object arr = np.attr("empty")(nb::make_tuple(rows, cols), nb::arg("dtype") = np.attr("float64"));
    if (!values.empty()) {
        auto a = nb::cast<nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>>(arr, false);
        std::memcpy(a.data(), values.data(), values.size() * sizeof(double));
    }
    if (as_float32) arr = arr.attr("astype")(np.attr("float32"));
    return arr;
}

nb::object numpy_int_matrix(const std::vector<std::int64_t>& values, std::size_t rows, std::size_t cols) {
    nb::object np = nb::module_::import_("numpy");
    nb::object arr = np.attr("empty")(nb::make_tuple(rows, cols), nb::arg("dtype") = np.attr("int64"));
    if (!values.empty()) {
        auto a = nb::cast<nb::ndarray<std::int64_t, nb::ndim<2>, nb::c_contig, nb::device::cpu>>(arr, false);
        std::memcpy(a.data(), values.data(), values.size() * sizeof(std::int64_t));
    }
    return arr;
}

}  // namespace quend::glue
