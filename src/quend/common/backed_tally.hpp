#pragma once
// Blocks of a backed X (anndata's CSR/CSC datasets of an h5ad opened with
// backed="r", h5py/zarr dense datasets) streamed into one tally. A block
// holds about `orvalen.settings.block_bytes` of stored values (read at call
// time); CSR and dense files are cut into rows, CSC files into columns. A
// block is added on a second thread while the next one is read. Peak memory
// is two blocks, the compressed index pointer and the table.
#include "common/nb.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "common/label_codes.hpp"
#include "common/matrix_kind.hpp"
#include "core/group_tally.hpp"

#include "common/matrix_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

// One stored array of a file read block after block into two numpy
// buffers taken in turn (one is read while a kernel runs on the block in
// the other): fresh pages for every block cost more here than the read.
// An h5py dataset stored in whole, unfiltered chunks is read a chunk at a
// time straight into the buffer (h5py's read_direct goes through a second
// copy); the rest of a block's last chunk is kept for the next block.
class BlockReader {
public:
    explicit BlockReader(nb::object ds);
    // Values [p0, p1) of the dataset, a view valid until the read after next.
    nb::object read(std::size_t p0, std::size_t p1);

private:
    // A buffer and the values [start, end) of the dataset it holds.
    struct Buffer {
        nb::object values, bytes;
        std::size_t cap = 0, start = 0, end = 0;
    };
    void reserve(Buffer& b, std::size_t n);
    void read_chunks(Buffer& b, const Buffer& before, std::size_t p0, std::size_t p1);
    nb::object ds_;
    bool direct_;
    std::size_t chunk_ = 0, length_ = 0, item_ = 0;  // chunk_: values per chunk, 0 when not read by chunks
    Buffer buf_[2];
    int next_ = 0;
};

// A backed CSR/CSC opened for streaming. The index pointer is read once and
// the stored values and indices must both be as long as it says: a shorter
// dataset would otherwise be read clipped, and its last value spread over
// the block. ValueError ("malformed sparse X: ...") when they disagree.
class CompressedFile {
public:
    CompressedFile(nb::handle X, std::size_t n_rows, std::size_t n_cols);
    bool by_rows() const { return by_rows_; }
    std::size_t n_major() const { return n_major_; }
    std::size_t nnz() const { return nnz_; }
    // Major slices [s, block_end(s)) hold about one block budget of stored
    // values; a slice larger than the budget is a block of its own.
    std::size_t block_end(std::size_t s) const;
    // Major slices [s, e), valid until the read after next. Its pointers are checked
    // against the stored values before anything of the block's size is read;
    // its indices are checked by whoever reads them (require_sound, kernels).
    HeldBlock read(std::size_t s, std::size_t e);

private:
    bool by_rows_;
    std::size_t n_rows_, n_cols_, n_major_, nnz_;
    std::int64_t budget_;
    nb::object indptr_, index_dtype_;
    bool narrow_ptr_;
    BlockReader data_, indices_;
};

// (rows, columns) of a backed X; ValueError unless two-dimensional.
std::pair<std::size_t, std::size_t> backed_shape(nb::handle X);

// Adds every block of X to the pass, with a progress bar labelled `label`.
void stream_backed(nb::handle X, MatrixKind kind, TallyDriver& pass, const std::string& label);

// orvalen.settings.block_bytes (validated when set): the one budget every
// tally size is derived from (core/tally_budget.hpp).
std::size_t block_bytes();

}  // namespace quend::glue
