#pragma once
// A read-only view of a 2-D block of doubles with arbitrary element strides,
// so pandas/numpy buffers of either memory order are read in place.
#include <cstddef>

namespace quend {

struct StridedMatrix {
    const double* data = nullptr;
    std::size_t n_items = 0;           // rows of the test (genes, interactions)
    std::size_t n_samples = 0;         // observations per item
    std::ptrdiff_t item_stride = 0;    // in elements
    std::ptrdiff_t sample_stride = 0;  // in elements

    double at(std::size_t item, std::size_t sample) const {
        return data[static_cast<std::ptrdiff_t>(item) * item_stride +
                    static_cast<std::ptrdiff_t>(sample) * sample_stride];
    }
};

}  // namespace quend
