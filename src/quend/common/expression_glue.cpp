#include "common/expression_glue.hpp"

#include <nanobind/ndarray.h>

#include <cstring>

#include "common/pyglue.hpp"

namespace quend::glue {

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
