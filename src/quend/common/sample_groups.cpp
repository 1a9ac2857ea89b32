#include "common/sample_groups.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include "common/binding.hpp"
#include "common/errors.hpp"
#include "common/label_codes.hpp"
#include "common/pyglue.hpp"
#include "common/sample_groups_doc.hpp"

namespace quend::glue {

namespace nb = nanobind;

namespace {

// np.asarray(values)[positions] without materialising a whole categorical
// column: its few chosen cells are taken first. Numeric categories with
// missing cells turn float in the full array, so those take the long way.
nb::object elements_at(nb::handle values, const nb::object& positions) {
    nb::object np = quend::glue::ns("np");
    nb::object pd = quend::glue::ns("pd");
    if (is_instance(values, nb::make_tuple(pd.attr("Series"), pd.attr("Index")))) {
        nb::object arr = values.attr("array");
        if (is_instance(arr, pd.attr("Categorical"))) {
            const bool object_cats = nb::cast<std::string>(arr.attr("categories").attr("dtype").attr("kind")) == "O";
            if (object_cats || !truthy(np.attr("any")(compare(arr.attr("codes"), nb::int_(0), Py_LT))))
                return np.attr("asarray")(arr.attr("take")(positions));
        }
    }
    return np.attr("asarray")(values)[positions];
}

}  // namespace

nb::dict sample_to_group_dict(nb::handle samples, nb::handle conditions) {
    nb::object np = quend::glue::ns("np");
    // Distinct labels ascending by their own ordering (TypeError when they
    // cannot be compared); cells without a sample label are left out.
    LabelCodes codes = sorted_label_codes(samples);
    nb::dict result;
    const std::size_t k = codes.n_labels();
    if (k == 0) return result;
    const std::size_t n_s = codes.n, n_c = nb::len(conditions);
    if (n_s != n_c) {
        raise(PyExc_IndexError, "boolean index did not match indexed array along axis 0; size of axis is " +
                                    std::to_string(n_c) + " but size of corresponding boolean axis is " +
                                    std::to_string(n_s));
    }
    // First cell of every label, in label order.
    nb::object first = np.attr("empty")(k, nb::arg("dtype") = np.attr("int64"));
    std::int64_t* f = nb::cast<quend::glue::MutVec<std::int64_t>>(first).data();
    {
        std::vector<char> seen(k, 0);
        std::size_t found = 0;
        for (std::size_t i = 0; i < n_s && found < k; ++i) {
            const std::int64_t c = codes.data[i];
            if (c < 0 || seen[static_cast<std::size_t>(c)]) continue;
            seen[static_cast<std::size_t>(c)] = 1;
            f[c] = static_cast<std::int64_t>(i);
            ++found;
        }
    }
    // Element objects of the arrays (numpy scalars), as indexing yields them.
    nb::object keys = elements_at(samples, first);
    nb::object values = elements_at(conditions, first);
    // Filled at C speed: iterating an array yields the same scalars as indexing it.
    return nb::cast<nb::dict>(builtin("dict")(builtin("zip")(keys, values)));
}

nb::object sample_to_group_map(nb::handle samples, nb::handle conditions) {
    return ns("get_sample_to_group_dict")(samples, conditions);
}

void bind_get_sample_to_group_dict(nb::module_& m) {
    glue::def(m, &sample_to_group_dict,
              "def get_sample_to_group_dict(samples`: collections.abc.Sequence | pandas.Series | numpy.ndarray`, "
              "conditions`: collections.abc.Sequence | pandas.Series | numpy.ndarray`)` -> "
              "dict[collections.abc.Hashable, typing.Any]`",
              doc::get_sample_to_group_dict);
}

void bind_get_sample_to_group_map(nb::module_& m) {
    glue::def(
        m, &sample_to_group_map,
        "def get_sample_to_group_map(samples`: collections.abc.Sequence | pandas.Series | numpy.ndarray`, conditions`: "
        "collections.abc.Sequence | pandas.Series | numpy.ndarray`)` -> dict[collections.abc.Hashable, typing.Any]`",
        doc::get_sample_to_group_map);
}

}  // namespace quend::glue
