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

namespace quend::glue {

namespace {

void stream_dense(nb::handle X, const LabelCodes& groups, std::size_t n_cols, const ColumnPlan& plan, DenseTally& into,
                  const std::string& label) {
    const std::size_t item = nb::cast<std::size_t>(X.attr("dtype").attr("itemsize"));
    const std::size_t row_bytes = n_cols * item;
    const std::size_t step = std::max<std::size_t>(1, block_bytes() / std::max<std::size_t>(1, row_bytes));
    const BlockColumns cols = block_columns(plan, 0, n_cols);
    ProgressBar bar(label, groups.n, "cells");
    for (std::size_t r0 = 0; r0 < groups.n; r0 += step) {
        const std::size_t r1 = std::min(groups.n, r0 + step);
        const HeldBlock b = read_block(X[py_slice(r0, r1)]);
        check_rows(b.view.n_rows, r1 - r0);
        check_cols(b.view.n_cols, n_cols);
        add_block(into, b, groups.data + r0, cols);
        bar.advance(r1 - r0);
    }
}

// One stored array of a file read block after block into the same numpy
// buffer: fresh pages for every block cost more here than the read itself.
class BlockReader {
public:
    explicit BlockReader(nb::object ds) : ds_(std::move(ds)), direct_(nb::hasattr(ds_, "read_direct")) {}

    // Values [p0, p1) of the dataset, a view valid until the next read.
    nb::object read(std::size_t p0, std::size_t p1) {
        if (!direct_) return ds_[py_slice(p0, p1)];
        const std::size_t n = p1 - p0;
        if (n > cap_ || !buf_.is_valid()) {
            cap_ = std::max(n, cap_);
            buf_ = numpy().attr("empty")(cap_, nb::arg("dtype") = ds_.attr("dtype"));
        }
        if (n > 0)
            ds_.attr("read_direct")(buf_, nb::arg("source_sel") = py_slice(p0, p1),
                                    nb::arg("dest_sel") = py_slice(0, n));
        return buf_[py_slice(0, n)];
    }

private:
    nb::object ds_;
    bool direct_;
    nb::object buf_;
    std::size_t cap_ = 0;
};

// Compressed slices cut so that each block's stored values fill about one
// block budget; a slice larger than the budget is a block of its own.
void stream_compressed(nb::handle X, const LabelCodes& groups, std::size_t n_rows, std::size_t n_cols,
                       const ColumnPlan& plan, DenseTally& into, const std::string& label) {
    nb::object np = numpy();
    nb::object g = X.attr("group");
    // `format` from anndata 0.11 on, `format_str` before.
    nb::object format = nb::getattr(X, "format", nb::none());
    if (format.is_none()) format = X.attr("format_str");
    const bool by_rows = nb::cast<std::string>(format) == "csr";
    nb::object data = g["data"], indices = g["indices"];
    BlockReader data_reader(data), indices_reader(indices);
    const bool narrow_ptr = indices.attr("dtype").equal(np.attr("dtype")("int32"));
    nb::object indptr = np.attr("asarray")(g["indptr"][nb::slice(nb::none(), nb::none(), nb::none())],
                                           nb::arg("dtype") = np.attr("int64"));
    auto ip = nb::cast<ConstVec<std::int64_t>>(indptr);
    const std::size_t n_major = by_rows ? n_rows : n_cols;
    const std::size_t nnz = nb::cast<std::size_t>(nb::cast<nb::tuple>(data.attr("shape"))[0]);
    if (ip.shape(0) != n_major + 1 || ip(0) != 0 || static_cast<std::size_t>(ip(n_major)) != nnz)
        raise(PyExc_ValueError, "malformed sparse X: indptr does not span the stored values (" + std::to_string(nnz) +
                                    " values, " + std::to_string(ip.shape(0)) + " pointers)");
    const std::size_t per_value = nb::cast<std::size_t>(data.attr("dtype").attr("itemsize")) +
                                  nb::cast<std::size_t>(indices.attr("dtype").attr("itemsize"));
    const std::int64_t budget = static_cast<std::int64_t>(std::max<std::size_t>(1, block_bytes() / per_value));

    // Counted in what a slice is: cells for CSR, genes for CSC.
    ProgressBar bar(label, n_major, by_rows ? "cells" : "genes");
    std::size_t s = 0;
    while (s < n_major) {
        std::size_t e = s + 1;
        while (e < n_major && ip(e + 1) - ip(s) <= budget) ++e;
        const std::int64_t p0 = ip(s), p1 = ip(e);
        // Checked before anything of the block's size is allocated: a pointer
        // that jumps would otherwise ask for the memory it claims.
        if (p1 < p0 || static_cast<std::uint64_t>(p1) > nnz)
            raise(PyExc_ValueError, "malformed sparse X: indptr[" + std::to_string(e) + "] = " + std::to_string(p1) +
                                        (p1 < p0 ? " decreases from " + std::to_string(p0)
                                                 : " is past the " + std::to_string(nnz) + " stored values"));
        const auto q0 = static_cast<std::size_t>(p0), q1 = static_cast<std::size_t>(p1);
        nb::object block_ptr = indptr[py_slice(s, e + 1)].attr("__sub__")(p0);
        // Pointers of the indices' width keep the kernel off a widened copy
        // of every block's indices.
        if (narrow_ptr && p1 - p0 <= std::numeric_limits<std::int32_t>::max())
            block_ptr = block_ptr.attr("astype")(indices.attr("dtype"));
        const HeldBlock b = by_rows ? compressed_block(data_reader.read(q0, q1), indices_reader.read(q0, q1), block_ptr,
                                                       true, e - s, n_cols)
                                    : compressed_block(data_reader.read(q0, q1), indices_reader.read(q0, q1), block_ptr,
                                                       false, n_rows, e - s);
        if (by_rows)
            add_block(into, b, groups.data + s, block_columns(plan, 0, n_cols));
        else
            add_block(into, b, groups.data, block_columns(plan, s, e - s));
        bar.advance(e - s);
        s = e;
    }
}

}  // namespace

std::size_t block_bytes() {
    nb::object v = nb::module_::import_("orvalen").attr("settings").attr("block_bytes");
    long long n = 0;
    if (!nb::try_cast(v, n) || n < 1)
        raise(PyExc_ValueError,
              "orvalen.settings.block_bytes must be a positive number of bytes, not " + glue::repr(v));
    return static_cast<std::size_t>(n);
}

std::pair<std::size_t, std::size_t> backed_shape(nb::handle X) {
    nb::tuple shape = nb::cast<nb::tuple>(builtin("tuple")(X.attr("shape")));
    if (nb::len(shape) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    return {nb::cast<std::size_t>(shape[0]), nb::cast<std::size_t>(shape[1])};
}

void stream_backed(nb::handle X, MatrixKind kind, const LabelCodes& groups, const ColumnPlan& plan, DenseTally& into,
                   const std::string& label) {
    const auto [n_rows, n_cols] = backed_shape(X);
    if (kind == MatrixKind::backed_sparse)
        stream_compressed(X, groups, n_rows, n_cols, plan, into, label);
    else
        stream_dense(X, groups, n_cols, plan, into, label);
}

}  // namespace quend::glue
