#include "common/matrix_kind.hpp"

#include <string>

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

namespace {

// sys.modules[name].attr, or None when the module was never imported.
nb::object loaded(const char* module, const char* attr) {
    nb::object mods = nb::module_::import_("sys").attr("modules");
    nb::object mod = mods.attr("get")(module);
    if (mod.is_none()) return nb::none();
    return nb::getattr(mod, attr, nb::none());
}

bool instance_of_loaded(nb::handle X, const char* module, const char* attr) {
    nb::object cls = loaded(module, attr);
    return !cls.is_none() && is_instance(X, cls);
}

}  // namespace

MatrixKind matrix_kind(nb::handle X) {
    if (X.is_none()) return MatrixKind::missing;
    nb::object np = numpy();
    if (is_instance(X, np.attr("ndarray")) || PyList_Check(X.ptr()) || PyTuple_Check(X.ptr()))
        return MatrixKind::in_memory;
    if (nb::cast<bool>(nb::module_::import_("scipy.sparse").attr("issparse")(X))) return MatrixKind::in_memory;
    if (instance_of_loaded(X, "pandas", "DataFrame")) return MatrixKind::in_memory;
    if (instance_of_loaded(X, "dask.array", "Array")) return MatrixKind::dask;
    // anndata.abc names the backed sparse types from 0.11 on; older releases
    // have only their common base.
    if (instance_of_loaded(X, "anndata.abc", "CSRDataset") || instance_of_loaded(X, "anndata.abc", "CSCDataset") ||
        instance_of_loaded(X, "anndata._core.sparse_dataset", "BaseCompressedSparseDataset"))
        return MatrixKind::backed_sparse;
    if (instance_of_loaded(X, "h5py", "Dataset") || instance_of_loaded(X, "zarr", "Array"))
        return MatrixKind::backed_dense;
    return MatrixKind::unsupported;
}

void raise_unsupported_matrix(nb::handle X) {
    nb::handle tp = reinterpret_cast<PyObject*>(Py_TYPE(X.ptr()));
    const std::string name = to_str(tp.attr("__module__")) + "." + to_str(tp.attr("__qualname__"));
    raise(PyExc_TypeError, "X of type " + name +
                               " is not supported: use a numpy array, a scipy sparse matrix or array, a backed "
                               "h5ad matrix (read_h5ad(path, backed=\"r\")) or a dask array of numpy or scipy "
                               "sparse chunks");
}

bool holds_float32(nb::handle dtype) {
    const std::string kind = nb::cast<std::string>(dtype.attr("kind"));
    const int size = nb::cast<int>(dtype.attr("itemsize"));
    const bool native = nb::cast<bool>(dtype.attr("isnative"));
    return kind == "f" && (size == 2 || (size == 4 && native));
}

}  // namespace quend::glue
