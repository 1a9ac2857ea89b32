#include "common/expression_glue.hpp"

#include <nanobind/ndarray.h>

#include <cmath>
#include <cstring>
#include <string>

#include "common/pyglue.hpp"
#include "core/group_counts.hpp"

namespace quend::glue {

namespace {

using AnyArray = nb::ndarray<nb::ro, nb::device::cpu>;


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

namespace {

struct Factorized {
    nb::object codes;  // writable contiguous int64
    nb::list uniques;  // first-appearance order
};

std::int64_t* int64_data(nb::handle arr) {
    return nb::cast<nb::ndarray<std::int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(arr, false).data();
}

// Categorical: its codes are already integers; only observed categories are
// labels, as unique() would report them.
Factorized factorize_categorical(nb::handle cat) {
    nb::object np = nb::module_::import_("numpy");
    Factorized f;
    f.codes = np.attr("array")(cat.attr("codes"), nb::arg("dtype") = np.attr("int64"));
    nb::list cats = nb::cast<nb::list>(cat.attr("categories").attr("tolist")());
    const std::size_t n = nb::len(f.codes), k = nb::len(cats);
    std::int64_t* c = int64_data(f.codes);
    std::vector<std::int64_t> seen(k, -1);
    std::int64_t next = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (c[i] < 0) continue;
        std::int64_t& s = seen[static_cast<std::size_t>(c[i])];
        if (s < 0) {
            s = next++;
            f.uniques.append(cats[static_cast<std::size_t>(c[i])]);
        }
        c[i] = s;
    }
    return f;
}

// Pointer -> code table: label arrays hold few distinct objects, repeated,
// so most cells are resolved without touching the objects at all.
class PointerCodes {
public:
    PointerCodes() : keys_(64, nullptr), vals_(64, 0) {}
    bool find(PyObject* k, std::int64_t& v) const {
        for (std::size_t i = slot(k);; i = (i + 1) & (keys_.size() - 1)) {
            if (keys_[i] == k) {
                v = vals_[i];
                return true;
            }
            if (!keys_[i]) return false;
        }
    }
    void insert(PyObject* k, std::int64_t v) {
        if (2 * (used_ + 1) > keys_.size()) grow();
        std::size_t i = slot(k);
        while (keys_[i]) i = (i + 1) & (keys_.size() - 1);
        keys_[i] = k;
        vals_[i] = v;
        ++used_;
    }

private:
    std::size_t slot(PyObject* k) const {
        return (reinterpret_cast<std::uintptr_t>(k) >> 4) * 0x9E3779B97F4A7C15ull >> 7 & (keys_.size() - 1);
    }
    void grow() {
        std::vector<PyObject*> k = std::move(keys_);
        std::vector<std::int64_t> v = std::move(vals_);
        keys_.assign(k.size() * 2, nullptr);
        vals_.assign(k.size() * 2, 0);
        used_ = 0;
        for (std::size_t i = 0; i < k.size(); ++i)
            if (k[i]) insert(k[i], v[i]);
    }
    std::vector<PyObject*> keys_;
    std::vector<std::int64_t> vals_;
    std::size_t used_ = 0;
};

// Object arrays (text labels): distinct objects that compare equal share a
// code through a dictionary; the array keeps every object alive meanwhile.
Factorized factorize_objects(PyObject* const* data, std::size_t n) {
    nb::object np = nb::module_::import_("numpy");
    nb::object pd = nb::module_::import_("pandas");
    PyObject* na = pd.attr("NA").ptr();
    PyObject* nat = pd.attr("NaT").ptr();
    Factorized f;
    f.codes = np.attr("empty")(n, nb::arg("dtype") = np.attr("int64"));
    std::int64_t* c = int64_data(f.codes);
    nb::dict seen;
    PointerCodes known;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* o = data[i];
        std::int64_t code;
        if (known.find(o, code)) {
            c[i] = code;
            continue;
        }
        if (o == Py_None || o == na || o == nat || (PyFloat_Check(o) && std::isnan(PyFloat_AS_DOUBLE(o)))) {
            code = -1;
        } else {
            PyObject* hit = PyDict_GetItemWithError(seen.ptr(), o);
            if (hit) {
                code = PyLong_AsLongLong(hit);
            } else {
                if (PyErr_Occurred()) throw nb::python_error();
                code = static_cast<std::int64_t>(nb::len(f.uniques));
                seen[nb::handle(o)] = nb::int_(code);
                f.uniques.append(nb::handle(o));
            }
        }
        known.insert(o, code);
        c[i] = code;
    }
    return f;
}

Factorized factorize_objects(nb::handle arr) {
    nb::object contiguous = nb::module_::import_("numpy").attr("ascontiguousarray")(arr);
    // numpy exports no buffer for object arrays: read its data pointer.
    const std::uintptr_t addr = nb::cast<std::uintptr_t>(contiguous.attr("ctypes").attr("data"));
    return factorize_objects(reinterpret_cast<PyObject* const*>(addr), nb::len(contiguous));
}

Factorized factorize(nb::handle values) {
    nb::object pd = nb::module_::import_("pandas");
    nb::object np = nb::module_::import_("numpy");
    nb::object v = nb::borrow(values);
    if (!is_array_like(v)) {
        nb::object seq = PyList_Check(v.ptr()) || PyTuple_Check(v.ptr()) ? v : glue::builtin("list")(v);
        return factorize_objects(PySequence_Fast_ITEMS(seq.ptr()), nb::len(seq));
    }
    nb::object inner = nb::hasattr(v, "array") ? v.attr("array") : v;
    if (PyObject_IsInstance(inner.ptr(), pd.attr("Categorical").ptr()) == 1) return factorize_categorical(inner);
    nb::object arr = np.attr("asarray")(v);
    if (nb::cast<std::string>(arr.attr("dtype").attr("kind")) == "O" && nb::cast<int>(arr.attr("ndim")) == 1)
        return factorize_objects(arr);
    nb::tuple fac = nb::cast<nb::tuple>(pd.attr("factorize")(v));
    Factorized f;
    f.codes = np.attr("array")(fac[0], nb::arg("dtype") = np.attr("int64"));
    f.uniques = nb::cast<nb::list>(fac[1].attr("tolist")());
    return f;
}

}  // namespace

LabelCodes sorted_label_codes(nb::handle values) {
    Factorized fac = factorize(values);
    nb::object codes = fac.codes;
    nb::list uniq = fac.uniques;
    const std::size_t k = nb::len(uniq);
    nb::object order = glue::builtin("sorted")(glue::builtin("range")(k), nb::arg("key") = uniq.attr("__getitem__"));
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
                                                     : glue::builtin("list")(genes);
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
