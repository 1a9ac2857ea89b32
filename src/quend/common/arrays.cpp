#include "common/arrays.hpp"

#include <algorithm>

#include "common/pyglue.hpp"

namespace quend::glue {

nb::object numpy_empty(const nb::tuple& shape, const char* dtype) {
    return numpy().attr("empty")(shape, nb::arg("dtype") = dtype);
}

namespace {

template <typename T>
nb::object filled(const std::vector<T>& values, NewArray<T> out) {
    std::copy(values.begin(), values.end(), out.data);
    return out.array;
}

}  // namespace

nb::object numpy_vector(const std::vector<double>& values) { return filled(values, new_vector<double>(values.size())); }

nb::object numpy_int_vector(const std::vector<std::int64_t>& values) {
    return filled(values, new_vector<std::int64_t>(values.size()));
}

nb::object numpy_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols, bool as_float32) {
    nb::object arr = filled(values, new_matrix<double>(rows, cols));
    // Computed in float64 and rounded once, as numpy's astype does.
    if (as_float32) arr = arr.attr("astype")("float32");
    return arr;
}

nb::object numpy_int_matrix(const std::vector<std::int64_t>& values, std::size_t rows, std::size_t cols) {
    return filled(values, new_matrix<std::int64_t>(rows, cols));
}

Float64Block float64_block(const nb::handle& array2d) {
    auto a = nb::cast<StridedMat<double>>(array2d);  // no copy for float64; raises otherwise
    Float64Block b;
    b.owner = nb::borrow(array2d);
    b.view.data = a.data();
    b.view.n_items = a.shape(0);
    b.view.n_samples = a.shape(1);
    b.view.item_stride = a.stride(0);
    b.view.sample_stride = a.stride(1);
    return b;
}

}  // namespace quend::glue
