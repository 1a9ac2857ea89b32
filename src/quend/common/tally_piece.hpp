#pragma once
// The wire form of a Dask tally piece (core/dask_task.hpp), written and read
// here alone. A piece travels as a dict of numpy arrays whose "form" names
// it:
// - "dense": "groups" (laid-out, ascending), "cols" (the result column of
//   each of its columns) and one float64 array per intermediate, named
//   after it, groups x cols values;
// - "rows": the task's rows of one block as CSR ("data" in X's element
//   type, "indices", "indptr"), "codes" (each row's laid-out group), "j"
//   (its column chunk) and "n_cols".
// A piece read back is checked for its arrays' lengths here and for its
// contents by the kernel before it walks them; what the kernel indexes
// with outside a checked CSR (groups, columns, codes) is copied first, so
// that another thread changing them cannot move them out of range.
#include "common/nb.hpp"

#include <cstdint>
#include <vector>

#include "common/matrix_tally.hpp"
#include "core/dask_task.hpp"

namespace quend::glue {

namespace nb = nanobind;

// The piece as a dict, None for an absent one; its buffers are handed over.
// A finished block (n_groups x width) goes as its tables, a tuple of one
// per statistic, as a fold chain's last step returns them.
nb::object encode_piece(Piece&& p, std::size_t n_groups, std::size_t width);

struct HeldPiece {
    std::vector<std::int64_t> groups, cols, codes;
    HeldBlock rows;
    nb::object values[kMaxParts];
    PieceView view;
};

// A piece read back (ValueError "malformed partial tally: ..." when its
// arrays do not fit together).
HeldPiece decode_piece(nb::handle obj, PartSet parts);

}  // namespace quend::glue
