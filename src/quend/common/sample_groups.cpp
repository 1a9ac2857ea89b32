#include "common/sample_groups.hpp"

#include "common/pyglue.hpp"
#include "common/sample_groups_doc.hpp"

namespace quend::glue {

namespace nb = nanobind;

nb::dict sample_to_group_dict(nb::handle samples, nb::handle conditions) {
    nb::module_ np = nb::module_::import_("numpy");
    nb::object s = np.attr("array")(samples);
    nb::object c = np.attr("array")(conditions);
    // Sorting the distinct labels with their own ordering (TypeError when
    // they cannot be compared); the first index of each gives its condition.
    nb::object distinct = quend::glue::builtin("sorted")(quend::glue::builtin("set")(s.attr("tolist")()));
    nb::dict result;
    const size_t n_distinct = nb::len(distinct);
    if (n_distinct == 0) return result;
    const size_t n_s = nb::len(s), n_c = nb::len(c);
    if (n_s != n_c) {
        PyErr_Format(PyExc_IndexError,
                     "boolean index did not match indexed array along axis 0; size of axis is %zu but size of "
                     "corresponding boolean axis is %zu",
                     n_c, n_s);
        throw nb::python_error();
    }
    // First occurrence of every label in one vectorised call.
    nb::tuple uniq = nb::cast<nb::tuple>(np.attr("unique")(s, nb::arg("return_index") = true));
    nb::object labels = uniq[0], first = uniq[1];
    nb::dict first_by_label;
    nb::object label_list = labels.attr("tolist")();
    nb::object first_list = first.attr("tolist")();
    const size_t n_u = nb::len(label_list);
    for (size_t k = 0; k < n_u; ++k) first_by_label[label_list[k]] = first_list[k];
    for (nb::handle key : distinct) {
        nb::object pos = first_by_label[key];
        // Element objects of the arrays (numpy scalars), as indexing yields them.
        nb::object skey = s[pos];
        result[skey] = c[pos];
    }
    return result;
}

nb::object sample_to_group_map(nb::handle samples, nb::handle conditions) {
    return ns("get_sample_to_group_dict")(samples, conditions);
}

void def_sample_to_group(nb::module_& m) {
    m.def("get_sample_to_group_dict", &sample_to_group_dict, nb::arg("samples").none(), nb::arg("conditions").none(),
          nb::sig("def get_sample_to_group_dict(samples, conditions)"),
          doc::get_sample_to_group_dict);
    m.def("get_sample_to_group_map", &sample_to_group_map, nb::arg("samples").none(), nb::arg("conditions").none(),
          nb::sig("def get_sample_to_group_map(samples, conditions)"),
          doc::get_sample_to_group_map);
}

}  // namespace quend::glue
