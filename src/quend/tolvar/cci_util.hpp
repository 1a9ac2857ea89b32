#pragma once
// Buffer views and identifier parsing shared by the interaction functions.
#include "common/nb.hpp"

#include "common/pyglue.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quend::tolvar::cci {

namespace nb = nanobind;

// Positions as an intp numpy array.
nb::object intp_array(const std::vector<std::size_t>& pos);

// The (sample, table) pairs of a result dictionary, in its key order.
struct Sample {
    nb::object key;
    nb::object table;
};
std::vector<Sample> samples_of(const nb::handle& df_dct);

// Gene pair, cell pair, sender/receiver gene, sender/receiver cell type.
struct IdParts {
    std::string_view part[6];
};

// Splits an identifier the way str.split does at "--", "_" and "|" (pieces
// 0 and 1 of each); false when one of the second pieces is missing.
bool split_interaction_id(std::string_view id, IdParts& out);

// The six parts of `idx` as a tuple of str; IndexError for a malformed
// identifier, the object's own error when it is not a string.
nb::tuple id_parts(const nb::handle& idx);

// Raises pandas' error for labels that select several rows of a table.
[[noreturn]] void raise_duplicate_labels();

}  // namespace quend::tolvar::cci

namespace quend::tolvar::cci {

using quend::glue::compare;

// A boolean Series as a numpy bool array, missing values counting as false.
inline nb::object bool_mask(const nb::handle& series) {
    return series.attr("to_numpy")(nb::arg("dtype") = "bool", nb::arg("na_value") = false);
}

}  // namespace quend::tolvar::cci

namespace quend::tolvar::cci {

// The index without level names, as a frame built from a plain list has it.
inline nb::object without_names(nb::object idx) {
    nb::list none;
    const std::size_t levels = nb::cast<std::size_t>(idx.attr("nlevels"));
    for (std::size_t l = 0; l < levels; ++l) none.append(nb::none());
    return idx.attr("set_names")(none);
}

}  // namespace quend::tolvar::cci

namespace quend::tolvar::cci {

// Distinct labels of several indexes, in order of first appearance.
inline nb::object union_in_order(const nb::list& indexes) {
    nb::object first = indexes[0];
    nb::list rest;
    for (std::size_t k = 1; k < nb::len(indexes); ++k) rest.append(indexes[k]);
    return without_names(first.attr("append")(rest).attr("unique")());
}

}  // namespace quend::tolvar::cci
