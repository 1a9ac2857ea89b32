#pragma once
// Arrays between numpy and C++.
//
// In: numpy buffers are read in place through the aliases below; nanobind
// raises (or, where a caller asks for conversion, copies) when the dtype or
// layout does not fit.
// Out: numpy allocates the result (C order) and C++ fills its buffer in
// place, so Python owns the memory from the start and nothing needs freeing
// when filling stops with an exception. A vector whose size was known only
// once filled goes out whole through numpy_adopt, never copied. 1-D results
// are 1-D.
#include "common/nb.hpp"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/strided.hpp"

namespace quend::glue {

// Read-only views with any strides, and C-contiguous read-only / writable ones.
template <typename T>
using StridedVec = nb::ndarray<const T, nb::ndim<1>, nb::device::cpu>;
template <typename T>
using StridedMat = nb::ndarray<const T, nb::ndim<2>, nb::device::cpu>;
template <typename T>
using ConstVec = nb::ndarray<const T, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
template <typename T>
using ConstMat = nb::ndarray<const T, nb::ndim<2>, nb::c_contig, nb::device::cpu>;
template <typename T>
using MutVec = nb::ndarray<T, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
template <typename T>
using MutMat = nb::ndarray<T, nb::ndim<2>, nb::c_contig, nb::device::cpu>;
// C-contiguous and read-only with any number of dimensions; and any element
// type and layout, read-only, for code that dispatches on the dtype itself.
template <typename T>
using ConstArray = nb::ndarray<const T, nb::c_contig, nb::device::cpu>;
using AnyArray = nb::ndarray<nb::ro, nb::device::cpu>;

// numpy's name for the element type T.
template <typename T>
constexpr const char* dtype_name() {
    if constexpr (std::is_same_v<T, double>)
        return "float64";
    else if constexpr (std::is_same_v<T, float>)
        return "float32";
    else if constexpr (std::is_same_v<T, bool>)
        return "bool";
    else {
        static_assert(std::is_integral_v<T> && sizeof(T) == 8, "add the numpy name of this element type");
        return std::is_signed_v<T> ? "int64" : "uint64";
    }
}

// A new numpy array and its buffer (null when the array is empty).
template <typename T>
struct NewArray {
    nb::object array;
    T* data;
};

// numpy.empty(shape, dtype) from glue::numpy(): result buffers are the
// package's plumbing, not a library call a caller may rebind.
nb::object numpy_empty(const nb::tuple& shape, const char* dtype);

template <typename T>
NewArray<T> new_vector(std::size_t n) {
    nb::object a = numpy_empty(nb::make_tuple(n), dtype_name<T>());
    return {a, n > 0 ? nb::cast<MutVec<T>>(a, false).data() : nullptr};
}

template <typename T>
NewArray<T> new_matrix(std::size_t rows, std::size_t cols) {
    nb::object a = numpy_empty(nb::make_tuple(rows, cols), dtype_name<T>());
    return {a, rows * cols > 0 ? nb::cast<MutMat<T>>(a, false).data() : nullptr};
}

// Finished results copied into new numpy arrays; matrices are row-major.
nb::object numpy_vector(const std::vector<double>& values);
nb::object numpy_int_vector(const std::vector<std::int64_t>& values);
nb::object numpy_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols, bool as_float32);
nb::object numpy_int_matrix(const std::vector<std::int64_t>& values, std::size_t rows, std::size_t cols);

// A finished vector handed to numpy without a copy: the array owns it from
// here on (large partial results, where a copy would touch every page again).
template <typename T>
nb::object numpy_adopt(std::vector<T>&& values) {
    auto* heap = new std::vector<T>(std::move(values));
    nb::capsule owner(heap, [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
    const std::size_t shape[1] = {heap->size()};
    return nb::ndarray<nb::numpy, T, nb::ndim<1>>(heap->data(), 1, shape, owner).cast();
}

// A float64 2-D numpy array viewed in place (no copy). The array must stay
// alive while the view is used.
struct Float64Block {
    nb::object owner;
    StridedMatrix view;  // items = rows, samples = columns
};
Float64Block float64_block(const nb::handle& array2d);

}  // namespace quend::glue
