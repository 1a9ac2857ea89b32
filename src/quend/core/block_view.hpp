#pragma once
// A plain description of one block of a cells x genes matrix, as the tally
// kernels read it: its form, element type, pointers and strides. The caller
// keeps the buffers alive while a kernel runs. Compressed arrays are
// contiguous (a caller holding a strided one copies only that array).
#include <cstddef>
#include <cstdint>

namespace quend {

enum class Dtype { f32, f64, boolean, i8, i16, i32, i64, u8, u16, u32, u64 };

struct BlockView {
    enum Form { dense, csr, csc } form = dense;
    Dtype dtype = Dtype::f64;
    std::size_t n_rows = 0, n_cols = 0;
    const void* data = nullptr;
    // Dense: element strides of rows and columns (any sign).
    std::ptrdiff_t row_stride = 0, col_stride = 0;
    // Compressed: int64 indices and pointers when `wide_index`, else int32.
    bool wide_index = false;
    const void* indices = nullptr;
    const void* indptr = nullptr;
    std::size_t n_data = 0, n_indices = 0, n_indptr = 0;  // array lengths
};

// f(const T*) with the block's element type.
template <typename F>
decltype(auto) with_dtype(Dtype d, const void* p, F&& f) {
    switch (d) {
        case Dtype::f32: return f(static_cast<const float*>(p));
        case Dtype::f64: return f(static_cast<const double*>(p));
        case Dtype::boolean: return f(static_cast<const bool*>(p));
        case Dtype::i8: return f(static_cast<const std::int8_t*>(p));
        case Dtype::i16: return f(static_cast<const std::int16_t*>(p));
        case Dtype::i32: return f(static_cast<const std::int32_t*>(p));
        case Dtype::i64: return f(static_cast<const std::int64_t*>(p));
        case Dtype::u8: return f(static_cast<const std::uint8_t*>(p));
        case Dtype::u16: return f(static_cast<const std::uint16_t*>(p));
        case Dtype::u32: return f(static_cast<const std::uint32_t*>(p));
        case Dtype::u64: break;
    }
    return f(static_cast<const std::uint64_t*>(p));
}

}  // namespace quend
