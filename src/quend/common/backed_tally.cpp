#include "common/backed_tally.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "common/arrays.hpp"
#include "common/errors.hpp"
#include "common/matrix_tally.hpp"
#include "common/progress.hpp"
#include "common/pyglue.hpp"
#include "core/add_in_flight.hpp"
#include "core/tally_budget.hpp"

namespace quend::glue {

namespace {

// The block whose add runs on a second thread and the one read meanwhile.
// A block is released only once its add has ended: the members are
// destroyed in reverse order, so `run_` waits before `held_` goes.
class BlocksInFlight {
public:
    explicit BlocksInFlight(TallyDriver& pass) : pass_(pass) {}
    // Hands `b` to the second thread once the add before has ended; that
    // add's error raises here.
    void add(HeldBlock b, BlockAt at) {
        // The slot of the block before the last, whose add has ended.
        held_[next_] = std::move(b);
        const BlockView view = held_[next_].view;
        next_ ^= 1;
        TallyDriver& pass = pass_;
        in_kernel([&] { run_.start([&pass, view, at] { pass.add(view, at); }); });
    }
    // Waits for the last add; its error raises here.
    void finish() {
        in_kernel([&] { run_.wait(); });
    }

private:
    TallyDriver& pass_;
    HeldBlock held_[2];
    int next_ = 0;
    AddInFlight run_;
};

void stream_dense(nb::handle X, std::size_t n_rows, std::size_t n_cols, TallyDriver& pass, const std::string& label) {
    const std::size_t item = nb::cast<std::size_t>(X.attr("dtype").attr("itemsize"));
    const std::size_t row_bytes = n_cols * item;
    const std::size_t step = std::max<std::size_t>(1, block_bytes() / std::max<std::size_t>(1, row_bytes));
    ProgressBar bar(label, n_rows, "cells");
    BlocksInFlight blocks(pass);
    for (std::size_t r0 = 0; r0 < n_rows; r0 += step) {
        const std::size_t r1 = std::min(n_rows, r0 + step);
        HeldBlock b = read_block(X[py_slice(r0, r1)]);
        check_rows(b.view.n_rows, r1 - r0);
        check_cols(b.view.n_cols, n_cols);
        blocks.add(std::move(b), {r0, 0});
        bar.advance(r1 - r0);
    }
    blocks.finish();
}

// Compressed slices cut so that each block's stored values fill about one
// block budget.
void stream_compressed(nb::handle X, std::size_t n_rows, std::size_t n_cols, TallyDriver& pass,
                       const std::string& label) {
    CompressedFile file(X, n_rows, n_cols);
    // Counted in what a slice is: cells for CSR, genes for CSC.
    ProgressBar bar(label, file.n_major(), file.by_rows() ? "cells" : "genes");
    BlocksInFlight blocks(pass);
    for (std::size_t s = 0, e = 0; s < file.n_major(); s = e) {
        e = file.block_end(s);
        HeldBlock b = file.read(s, e);
        blocks.add(std::move(b), file.by_rows() ? BlockAt{s, 0} : BlockAt{0, s});
        bar.advance(e - s);
    }
    blocks.finish();
}

}  // namespace

namespace {

// Values per chunk of a one-dimensional h5py dataset stored in chunks that
// are all written and unfiltered, else 0.
std::size_t whole_chunks(const nb::object& ds) {
    nb::object chunks = nb::getattr(ds, "chunks", nb::none());
    nb::object id = nb::getattr(ds, "id", nb::none());
    if (chunks.is_none() || nb::len(chunks) != 1 || !nb::hasattr(id, "read_direct_chunk") ||
        !nb::hasattr(id, "get_num_chunks"))
        return 0;
    const auto c = nb::cast<std::size_t>(chunks[0]);
    const auto n = nb::cast<std::size_t>(nb::cast<nb::tuple>(ds.attr("shape"))[0]);
    if (c == 0 || nb::cast<int>(id.attr("get_create_plist")().attr("get_nfilters")()) != 0 ||
        nb::cast<std::size_t>(id.attr("get_num_chunks")()) != (n + c - 1) / c)
        return 0;
    return c;
}

}  // namespace

BlockReader::BlockReader(nb::object ds) : ds_(std::move(ds)), direct_(nb::hasattr(ds_, "read_direct")) {
    if (!direct_) return;
    chunk_ = whole_chunks(ds_);
    if (chunk_ == 0) return;
    length_ = nb::cast<std::size_t>(nb::cast<nb::tuple>(ds_.attr("shape"))[0]);
    item_ = nb::cast<std::size_t>(ds_.attr("dtype").attr("itemsize"));
}

void BlockReader::reserve(Buffer& b, std::size_t n) {
    if (n <= b.cap && b.values.is_valid()) return;
    b.cap = std::max(n, b.cap);
    b.values = numpy().attr("empty")(b.cap, nb::arg("dtype") = ds_.attr("dtype"));
    b.bytes = b.values.attr("view")(numpy().attr("uint8"));
}

void BlockReader::read_chunks(Buffer& b, const Buffer& before, std::size_t p0, std::size_t p1) {
    // Room for the chunk holding p0 from its start, and a last chunk
    // reaching up to one chunk past p1.
    reserve(b, p1 - p0 + 2 * chunk_);
    std::size_t at = p0 / chunk_ * chunk_;
    b.start = b.end = at;
    if (before.values.is_valid() && before.start <= p0 && p0 < before.end) {
        const std::size_t kept = std::min(before.end, p1) - p0, from = p0 - before.start;
        b.values.attr("__setitem__")(py_slice(0, kept), before.values[py_slice(from, from + kept)]);
        b.start = p0;
        b.end = p0 + kept;
        at = before.end;
    }
    nb::object read_chunk = ds_.attr("id").attr("read_direct_chunk");
    for (; at < p1; at += chunk_) {
        const std::size_t off = (at - b.start) * item_;
        read_chunk(nb::make_tuple(at), nb::arg("out") = b.bytes[py_slice(off, off + chunk_ * item_)]);
        b.end = std::min(at + chunk_, length_);
    }
}

nb::object BlockReader::read(std::size_t p0, std::size_t p1) {
    if (!direct_) return ds_[py_slice(p0, p1)];
    next_ ^= 1;
    Buffer& b = buf_[next_];
    const std::size_t n = p1 - p0;
    if (chunk_ > 0 && n > 0) {
        read_chunks(b, buf_[next_ ^ 1], p0, p1);
        return b.values[py_slice(p0 - b.start, p1 - b.start)];
    }
    reserve(b, n);
    b.start = p0;
    b.end = p0;  // nothing kept for the next read
    if (n > 0)
        ds_.attr("read_direct")(b.values, nb::arg("source_sel") = py_slice(p0, p1),
                                nb::arg("dest_sel") = py_slice(0, n));
    return b.values[py_slice(0, n)];
}

namespace {

std::size_t length_of(const nb::object& ds) {
    nb::tuple shape = nb::cast<nb::tuple>(ds.attr("shape"));
    if (nb::len(shape) != 1)
        raise(PyExc_ValueError, "malformed sparse X: data, indices and indptr must be one-dimensional");
    return nb::cast<std::size_t>(shape[0]);
}

// `format` from anndata 0.11 on, `format_str` before.
bool stored_by_rows(nb::handle X) {
    nb::object format = nb::getattr(X, "format", nb::none());
    if (format.is_none()) format = X.attr("format_str");
    return nb::cast<std::string>(format) == "csr";
}

}  // namespace

CompressedFile::CompressedFile(nb::handle X, std::size_t n_rows, std::size_t n_cols)
    : by_rows_(stored_by_rows(X)),
      n_rows_(n_rows),
      n_cols_(n_cols),
      n_major_(by_rows_ ? n_rows : n_cols),
      data_(X.attr("group")["data"]),
      indices_(X.attr("group")["indices"]) {
    nb::object np = numpy();
    nb::object g = X.attr("group");
    nb::object data = g["data"], indices = g["indices"];
    index_dtype_ = indices.attr("dtype");
    narrow_ptr_ = index_dtype_.equal(np.attr("dtype")("int32"));
    indptr_ = np.attr("asarray")(g["indptr"][nb::slice(nb::none(), nb::none(), nb::none())],
                                 nb::arg("dtype") = np.attr("int64"));
    auto ip = nb::cast<ConstVec<std::int64_t>>(indptr_);
    nnz_ = length_of(data);
    const std::size_t n_indices = length_of(indices);
    if (ip.shape(0) != n_major_ + 1 || ip(0) != 0 || static_cast<std::size_t>(ip(n_major_)) != nnz_)
        raise(PyExc_ValueError, "malformed sparse X: indptr does not span the stored values (" + std::to_string(nnz_) +
                                    " values, " + std::to_string(ip.shape(0)) + " pointers)");
    if (n_indices != nnz_)
        raise(PyExc_ValueError, "malformed sparse X: " + std::to_string(n_indices) + " indices for " +
                                    std::to_string(nnz_) + " stored values");
    const std::size_t per_value = nb::cast<std::size_t>(data.attr("dtype").attr("itemsize")) +
                                  nb::cast<std::size_t>(index_dtype_.attr("itemsize"));
    budget_ = static_cast<std::int64_t>(std::max<std::size_t>(1, block_bytes() / per_value));
}

std::size_t CompressedFile::block_end(std::size_t s) const {
    auto ip = nb::cast<ConstVec<std::int64_t>>(indptr_);
    std::size_t e = s + 1;
    while (e < n_major_ && ip(e + 1) - ip(s) <= budget_) ++e;
    return e;
}

HeldBlock CompressedFile::read(std::size_t s, std::size_t e) {
    auto ip = nb::cast<ConstVec<std::int64_t>>(indptr_);
    const std::int64_t p0 = ip(s), p1 = ip(e);
    // Checked before anything of the block's size is allocated: a pointer
    // that jumps would otherwise ask for the memory it claims.
    if (p1 < p0 || static_cast<std::uint64_t>(p1) > nnz_)
        raise(PyExc_ValueError, "malformed sparse X: indptr[" + std::to_string(e) + "] = " + std::to_string(p1) +
                                    (p1 < p0 ? " decreases from " + std::to_string(p0)
                                             : " is past the " + std::to_string(nnz_) + " stored values"));
    const auto q0 = static_cast<std::size_t>(p0), q1 = static_cast<std::size_t>(p1);
    nb::object block_ptr = indptr_[py_slice(s, e + 1)].attr("__sub__")(p0);
    // Pointers of the indices' width keep the kernel off a widened copy of
    // every block's indices.
    if (narrow_ptr_ && p1 - p0 <= std::numeric_limits<std::int32_t>::max())
        block_ptr = block_ptr.attr("astype")(index_dtype_);
    return compressed_block(data_.read(q0, q1), indices_.read(q0, q1), block_ptr, by_rows_, by_rows_ ? e - s : n_rows_,
                            by_rows_ ? n_cols_ : e - s);
}

std::size_t block_bytes() {
    nb::object v = nb::module_::import_("orvalen").attr("settings").attr("block_bytes");
    long long n = 0;
    if (!nb::try_cast(v, n) || n < 1)
        raise(PyExc_ValueError,
              "orvalen.settings.block_bytes must be a positive number of bytes, not " + glue::repr(v));
    return tally_budget(static_cast<std::size_t>(n)).block_bytes;
}

std::pair<std::size_t, std::size_t> backed_shape(nb::handle X) {
    nb::tuple shape = nb::cast<nb::tuple>(builtin("tuple")(X.attr("shape")));
    if (nb::len(shape) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    return {nb::cast<std::size_t>(shape[0]), nb::cast<std::size_t>(shape[1])};
}

void stream_backed(nb::handle X, MatrixKind kind, TallyDriver& pass, const std::string& label) {
    const auto [n_rows, n_cols] = backed_shape(X);
    if (kind == MatrixKind::backed_sparse)
        stream_compressed(X, n_rows, n_cols, pass, label);
    else
        stream_dense(X, n_rows, n_cols, pass, label);
}

}  // namespace quend::glue
