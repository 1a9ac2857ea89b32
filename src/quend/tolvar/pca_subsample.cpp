// Truncated SVD fitted on at most N_cells_max_for_pca rows, applied to all.
#include "common/pyglue.hpp"
#include "tolvar/functions.hpp"

namespace quend::tolvar {

O pca_subsample(O Xx, O N_components_pca, O N_cells_max_for_pca) {
    using quend::glue::ns;
    nb::object builtins = nb::module_::import_("builtins");
    nb::object n_comp = builtins.attr("int")(N_components_pca);
    nb::object pca = ns("TruncatedSVD")(nb::arg("n_components") = n_comp);
    nb::object n_rows = nb::cast<nb::tuple>(Xx.attr("shape"))[0];
    const int small = PyObject_RichCompareBool(n_rows.ptr(), N_cells_max_for_pca.ptr(), Py_LE);
    if (small < 0) throw nb::python_error();
    if (small) return pca.attr("fit_transform")(Xx);

    // Row positions drawn from the interpreter's generator: the same draw as
    // sampling the row labels, and exactly the cap's size even when labels
    // repeat.
    nb::object picked = ns("random").attr("sample")(builtins.attr("range")(n_rows), nb::arg("k") = N_cells_max_for_pca);
    nb::object all = nb::slice(nb::none(), nb::none(), nb::none());
    const int is_frame = PyObject_IsInstance(Xx.ptr(), ns("pd").attr("DataFrame").ptr());
    if (is_frame < 0) throw nb::python_error();
    nb::object subset = is_frame ? Xx.attr("iloc")[nb::make_tuple(picked, all)] : Xx[nb::make_tuple(picked, all)];
    pca.attr("fit")(subset);
    return pca.attr("transform")(Xx);
}

}  // namespace quend::tolvar
