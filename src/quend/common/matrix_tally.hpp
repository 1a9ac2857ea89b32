#pragma once
// In-memory blocks of X as the tally kernels read them: a numpy-like block
// or a scipy sparse matrix/array is described once (core::BlockView) and
// handed to core in one call per block, with the GIL released. Compressed
// arrays that are not contiguous are copied (that array alone); element
// types the kernels do not read are converted once. Errors in a block are
// ValueError.
#include "common/nb.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/thread_exit.hpp"
#include "common/label_codes.hpp"
#include "core/group_tally.hpp"
#include "core/tally_driver.hpp"

namespace quend::glue {

namespace nb = nanobind;

// A block and the Python objects that own its buffers.
struct HeldBlock {
    nb::object owners;
    BlockView view;
};

// A numpy-like block or scipy sparse matrix/array.
HeldBlock read_block(nb::handle X);
// Compressed arrays of a CSR (`by_rows`) or CSC block.
HeldBlock compressed_block(nb::object data, nb::object indices, nb::object indptr, bool by_rows, std::size_t n_rows,
                           std::size_t n_cols);

// ValueError ("malformed sparse X: ...") unless a compressed block's arrays
// are sound, for a block handed to a library rather than to the kernels.
void require_sound(const HeldBlock& b);

// A held block added where it sits, with the GIL released.
void add(TallyDriver& pass, const HeldBlock& b, BlockAt at);
// The partial of a held block (core/group_tally.hpp), with the GIL released.
Partial partial_of(const HeldBlock& b, PartSet parts, std::size_t width, const std::int64_t* codes,
                   std::size_t n_groups, const BlockColumns& cols, bool dense);

// A finished table handed over to numpy without a copy, groups x width
// (float32 where it was narrowed).
nb::object adopt_table(FinishedTable&& t, std::size_t n_groups, std::size_t width);

// The cells' groups as core reads them.
CellCodes cells_of(const LabelCodes& groups);
// Cells per group (unlabelled cells left out).
std::vector<std::int64_t> group_sizes(const LabelCodes& groups);

// ValueError unless X has `expected` rows (cells of obs) / columns (genes of var).
void check_rows(std::size_t n_rows, std::size_t expected);
void check_cols(std::size_t n_cols, std::size_t expected);

[[noreturn]] void raise_value_error(const std::string& message);

// Runs `f` (a kernel call) with the GIL released; a core error becomes ValueError.
template <typename F>
void in_kernel(F&& f) {
    std::string error;
    {
        KernelRelease unlocked;
        try {
            f();
        } catch (const std::invalid_argument& e) {
            error = e.what();
        }
    }
    if (!error.empty()) raise_value_error(error);
}

}  // namespace quend::glue
