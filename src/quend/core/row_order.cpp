#include "core/row_order.hpp"

#include <algorithm>

namespace quend {

GroupedRows rows_by_group(const std::int64_t* codes, std::size_t n_rows, std::size_t n_groups) {
    std::vector<std::size_t> start(n_groups + 1, 0);
    for (std::size_t i = 0; i < n_rows; ++i)
        if (codes[i] >= 0) ++start[static_cast<std::size_t>(codes[i]) + 1];
    for (std::size_t g = 0; g < n_groups; ++g) start[g + 1] += start[g];
    GroupedRows out;
    out.rows.resize(start[n_groups]);
    out.codes.resize(start[n_groups]);
    for (std::size_t i = 0; i < n_rows; ++i) {
        if (codes[i] < 0) continue;
        const std::size_t at = start[static_cast<std::size_t>(codes[i])]++;
        out.rows[at] = static_cast<std::int64_t>(i);
        out.codes[at] = codes[i];
    }
    return out;
}

template <typename T, typename I, typename P>
void gather_rows(const T* data, const I* indices, const P* indptr, const std::vector<std::int64_t>& rows,
                 std::vector<T>& out_data, std::vector<I>& out_indices, std::vector<std::int64_t>& out_indptr) {
    out_indptr.assign(rows.size() + 1, 0);
    for (std::size_t k = 0; k < rows.size(); ++k)
        out_indptr[k + 1] = out_indptr[k] + static_cast<std::int64_t>(indptr[rows[k] + 1] - indptr[rows[k]]);
    out_data.resize(static_cast<std::size_t>(out_indptr.back()));
    out_indices.resize(out_data.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const P lo = indptr[rows[k]], hi = indptr[rows[k] + 1];
        std::copy(data + lo, data + hi, out_data.begin() + out_indptr[k]);
        std::copy(indices + lo, indices + hi, out_indices.begin() + out_indptr[k]);
    }
}

#define QUEND_GATHER_IP(T, I, P)                                                                       \
    template void gather_rows<T, I, P>(const T*, const I*, const P*, const std::vector<std::int64_t>&, \
                                       std::vector<T>&, std::vector<I>&, std::vector<std::int64_t>&);
#define QUEND_GATHER(T)                            \
    QUEND_GATHER_IP(T, std::int32_t, std::int32_t) \
    QUEND_GATHER_IP(T, std::int64_t, std::int64_t)
QUEND_GATHER(float)
QUEND_GATHER(double)
QUEND_GATHER(std::int8_t)
QUEND_GATHER(std::int16_t)
QUEND_GATHER(std::int32_t)
QUEND_GATHER(std::int64_t)
QUEND_GATHER(std::uint8_t)
QUEND_GATHER(std::uint16_t)
QUEND_GATHER(std::uint32_t)
QUEND_GATHER(std::uint64_t)
#undef QUEND_GATHER
#undef QUEND_GATHER_IP

}  // namespace quend
