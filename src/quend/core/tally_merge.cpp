#include "core/tally_merge.hpp"

#include <stdexcept>

namespace quend {

GroupTallies empty_tallies(std::size_t n_groups, std::size_t n_cols, bool with_sums, const std::int64_t* codes,
                           std::size_t n_rows) {
    GroupTallies t = zero_tallies(n_groups, n_cols, with_sums);
    if (codes)
        for (std::size_t i = 0; i < n_rows; ++i)
            if (codes[i] >= 0 && static_cast<std::size_t>(codes[i]) < n_groups)
                ++t.group_size[static_cast<std::size_t>(codes[i])];
    return t;
}

void add_tallies(GroupTallies& into, const GroupTallies& part) {
    if (into.n_groups != part.n_groups || into.n_cols != part.n_cols || into.with_sums != part.with_sums)
        throw std::invalid_argument("partial tallies of different shapes");
    for (std::size_t g = 0; g < into.n_groups; ++g) into.group_size[g] += part.group_size[g];
    for (std::size_t o = 0; o < into.positive.size(); ++o) into.positive[o] += part.positive[o];
    if (into.with_sums) {
        for (std::size_t o = 0; o < into.sum.size(); ++o) into.sum[o] += part.sum[o];
        for (std::size_t o = 0; o < into.missing.size(); ++o) into.missing[o] += part.missing[o];
    }
}

GroupTallies widen_tallies(const GroupTallies& part, const std::vector<std::size_t>& at, std::size_t n_out,
                           bool keep_sizes) {
    if (at.size() != part.n_cols) throw std::invalid_argument("column map does not match the tallies");
    GroupTallies out = empty_tallies(part.n_groups, n_out, part.with_sums);
    if (keep_sizes) out.group_size = part.group_size;
    for (std::size_t g = 0; g < part.n_groups; ++g) {
        for (std::size_t k = 0; k < at.size(); ++k) {
            if (at[k] >= n_out) throw std::invalid_argument("output column out of range");
            copy_cell(part, g * part.n_cols + k, out, g * n_out + at[k]);
        }
    }
    return out;
}

template <typename I, typename P>
std::string check_compressed(const I* indices, const P* indptr, std::size_t n_major, std::size_t n_minor,
                             std::size_t nnz, bool& canonical) {
    canonical = true;
    if (indptr[0] != 0) return "indptr does not start at 0";
    if (static_cast<std::uint64_t>(indptr[n_major]) != nnz)
        return "indptr ends at " + std::to_string(static_cast<long long>(indptr[n_major])) + " but there are " +
               std::to_string(nnz) + " stored values";
    for (std::size_t s = 0; s < n_major; ++s) {
        const P lo = indptr[s], hi = indptr[s + 1];
        if (hi < lo) return "indptr decreases at position " + std::to_string(s + 1);
        if (static_cast<std::uint64_t>(hi) > nnz) return "indptr goes past the stored values";
        // Branch-free so that the compiler vectorises it: this check reads
        // every stored index of every block. Negative indices wrap to huge.
        unsigned in_range = 1, increasing = 1;
        for (P q = lo; q < hi; ++q)
            in_range &= static_cast<std::uint64_t>(static_cast<std::int64_t>(indices[q])) < n_minor;
        for (P q = lo + 1; q < hi; ++q) increasing &= indices[q] > indices[q - 1];
        if (!in_range) {
            for (P q = lo; q < hi; ++q) {
                const I v = indices[q];
                if (v < 0 || static_cast<std::uint64_t>(v) >= n_minor)
                    return "index " + std::to_string(static_cast<long long>(v)) + " out of range [0, " +
                           std::to_string(n_minor) + ")";
            }
        }
        canonical = canonical && increasing;
    }
    return {};
}

#define QUEND_CHECK(I, P) \
    template std::string check_compressed<I, P>(const I*, const P*, std::size_t, std::size_t, std::size_t, bool&);
QUEND_CHECK(std::int32_t, std::int32_t)
QUEND_CHECK(std::int32_t, std::int64_t)
QUEND_CHECK(std::int64_t, std::int32_t)
QUEND_CHECK(std::int64_t, std::int64_t)
#undef QUEND_CHECK

}  // namespace quend
