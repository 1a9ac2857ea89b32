#include "common/label_codes.hpp"

#include <string>
#include <vector>

#include "common/pyglue.hpp"
#include "core/group_counts.hpp"

namespace quend::glue {

namespace {

bool is_array_like(nb::handle values) {
    nb::object pd = glue::pandas();
    nb::object np = glue::numpy();
    nb::object kinds = nb::make_tuple(pd.attr("Series"), pd.attr("Index"), np.attr("ndarray"),
                                      pd.attr("api").attr("extensions").attr("ExtensionArray"));
    return PyObject_IsInstance(values.ptr(), kinds.ptr()) == 1;
}

struct Factorized {
    nb::object codes;  // writable contiguous int64
    nb::list uniques;  // first-appearance order
};

std::int64_t* int64_data(nb::handle arr) { return nb::cast<quend::glue::MutVec<std::int64_t>>(arr, false).data(); }

// Categorical: its codes are already integers; only observed categories are
// labels, as unique() would report them.
Factorized factorize_categorical(nb::handle cat) {
    nb::object np = glue::numpy();
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
    std::size_t size() const { return used_; }
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
// code through a dictionary. `data` belongs to an array of our own, which
// keeps every object alive meanwhile.
Factorized factorize_objects(PyObject* const* data, std::size_t n) {
    nb::object np = glue::numpy();
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
        PyObject* hit = PyDict_GetItemWithError(seen.ptr(), o);
        if (hit) {
            code = PyLong_AsLongLong(hit);
        } else {
            if (PyErr_Occurred()) throw nb::python_error();
            code = static_cast<std::int64_t>(nb::len(f.uniques));
            seen[nb::handle(o)] = nb::int_(code);
            f.uniques.append(nb::handle(o));
        }
        // Columns read from files hold a distinct object per cell; caching
        // those would only grow the table, so it stops at a few per label.
        if (known.size() < 4 * nb::len(f.uniques) + 64) known.insert(o, code);
        c[i] = code;
    }
    return f;
}

PyObject** object_data(nb::handle arr) {
    // numpy exports no buffer for object arrays: read its data pointer.
    return reinterpret_cast<PyObject**>(nb::cast<std::uintptr_t>(arr.attr("ctypes").attr("data")));
}

// The labels as a contiguous object array that nobody else holds: hashing a
// label runs its own code, which may change the caller's list or array, and
// the cells are read through raw pointers meanwhile.
nb::object own_object_array(nb::handle values, bool is_array) {
    nb::object np = glue::numpy();
    if (is_array) return np.attr("array")(values, nb::arg("dtype") = "object", nb::arg("copy") = true);
    nb::object items = nb::steal(PySequence_Tuple(values.ptr()));
    if (!items.is_valid()) throw nb::python_error();
    const Py_ssize_t n = PyTuple_GET_SIZE(items.ptr());
    nb::object arr = np.attr("empty")(n, nb::arg("dtype") = "object");
    PyObject** slot = object_data(arr);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GET_ITEM(items.ptr(), i);
        Py_INCREF(item);
        PyObject* old = slot[i];
        slot[i] = item;
        Py_XDECREF(old);
    }
    return arr;
}

// Labels that pandas.isna treats as missing (None, NaN of any width, NaT,
// NA) get code -1. Asked once per distinct label, not once per cell: NaN
// objects are distinct labels of their own until here.
void drop_missing_labels(Factorized& f) {
    nb::object np = glue::numpy();
    const std::size_t n_uniques = nb::len(f.uniques);
    if (n_uniques == 0) return;
    nb::object labels = glue::pandas().attr("Series")(f.uniques, nb::arg("dtype") = "object");
    nb::object missing = np.attr("ascontiguousarray")(glue::pandas().attr("isna")(labels).attr("to_numpy")(),
                                                      nb::arg("dtype") = np.attr("uint8"));
    auto is_missing = nb::cast<quend::glue::ConstVec<std::uint8_t>>(missing);
    std::vector<std::int64_t> remap(n_uniques);
    nb::list kept;
    for (std::size_t k = 0; k < n_uniques; ++k) {
        remap[k] = is_missing(k) ? -1 : static_cast<std::int64_t>(nb::len(kept));
        if (!is_missing(k)) kept.append(f.uniques[k]);
    }
    if (nb::len(kept) == n_uniques) return;
    std::int64_t* c = int64_data(f.codes);
    const std::size_t n = nb::len(f.codes);
    for (std::size_t i = 0; i < n; ++i) c[i] = remap[static_cast<std::size_t>(c[i])];
    f.uniques = kept;
}

Factorized factorize_objects(nb::handle values, bool is_array) {
    nb::object arr = own_object_array(values, is_array);
    Factorized f = factorize_objects(object_data(arr), nb::len(arr));
    drop_missing_labels(f);
    return f;
}

Factorized factorize(nb::handle values) {
    nb::object pd = glue::pandas();
    nb::object np = glue::numpy();
    nb::object v = column_values(values);
    if (!is_array_like(v)) return factorize_objects(v, false);
    nb::object inner = nb::hasattr(v, "array") ? v.attr("array") : v;
    if (PyObject_IsInstance(inner.ptr(), pd.attr("Categorical").ptr()) == 1) return factorize_categorical(inner);
    // to_numpy: numpy.asarray on a Series first builds pandas' lookup of its
    // whole index (seconds at 10 million cells).
    nb::object arr = np.attr("asarray")(nb::hasattr(v, "to_numpy") ? v.attr("to_numpy")() : v);
    if (nb::cast<std::string>(arr.attr("dtype").attr("kind")) == "O" && nb::cast<int>(arr.attr("ndim")) == 1)
        return factorize_objects(arr, true);
    nb::tuple fac = nb::cast<nb::tuple>(pd.attr("factorize")(v));
    Factorized f;
    f.codes = np.attr("array")(fac[0], nb::arg("dtype") = np.attr("int64"));
    f.uniques = nb::cast<nb::list>(fac[1].attr("tolist")());
    return f;
}

}  // namespace

nb::object column_values(nb::handle values) {
    // Only a DataArray can come from xarray, and then xarray is loaded already.
    nb::object xr = nb::steal(PyImport_GetModule(nb::str("xarray").ptr()));
    if (!xr.is_valid()) {
        if (PyErr_Occurred()) throw nb::python_error();
        return nb::borrow(values);
    }
    if (PyObject_IsInstance(values.ptr(), xr.attr("DataArray").ptr()) != 1) return nb::borrow(values);
    return values.attr("to_pandas")();
}

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
    auto arr = nb::cast<quend::glue::MutVec<std::int64_t>>(codes, false);
    out.n = arr.shape(0);
    remap_codes(arr.data(), out.n, rank);
    out.codes = codes;
    out.data = arr.data();
    return out;
}

LabelCodes appearance_label_codes(nb::handle values) {
    Factorized fac = factorize(values);
    LabelCodes out;
    auto arr = nb::cast<quend::glue::MutVec<std::int64_t>>(fac.codes, false);
    out.codes = fac.codes;
    out.labels = fac.uniques;
    out.data = arr.data();
    out.n = arr.shape(0);
    return out;
}

GroupPositions group_positions(nb::handle labels, const nb::list& groups) {
    nb::object np = glue::numpy();
    const std::size_t n = nb::len(labels);
    GroupPositions out;
    for (nb::handle g : groups) {
        nb::object mask = np.attr("asarray")(compare(labels, g, Py_EQ), nb::arg("dtype") = np.attr("bool_"));
        if (nb::cast<int>(mask.attr("ndim")) != 1 || nb::len(mask) != n) out.one_per_label = false;
        nb::object idx = np.attr("flatnonzero")(mask).attr("astype")(np.attr("int64"));
        auto view = nb::cast<StridedVec<std::int64_t>>(idx);
        std::vector<std::size_t> pos(view.shape(0));
        for (std::size_t k = 0; k < pos.size(); ++k) pos[k] = static_cast<std::size_t>(view(k));
        out.members.push_back(std::move(pos));
    }
    return out;
}

}  // namespace quend::glue
