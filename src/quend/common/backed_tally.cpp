#include "common/backed_tally.hpp"

#include <nanobind/ndarray.h>

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/pyglue.hpp"
#include "core/tally_merge.hpp"

namespace quend::glue {

namespace {

std::size_t output_width(const ColumnSelection& sel) { return sel.cols.empty() ? sel.n_matrix_cols : sel.cols.size(); }

GroupTallies stream_dense(nb::handle X, const LabelCodes& groups, std::size_t n_cols, const ColumnSelection& sel,
                          bool with_sums) {
    const std::size_t item = nb::cast<std::size_t>(X.attr("dtype").attr("itemsize"));
    const std::size_t row_bytes = n_cols * item;
    const std::size_t step = std::max<std::size_t>(1, block_bytes() / std::max<std::size_t>(1, row_bytes));
    GroupTallies acc = empty_tallies(groups.n_labels(), output_width(sel), with_sums);
    for (std::size_t r0 = 0; r0 < groups.n; r0 += step) {
        const std::size_t r1 = std::min(groups.n, r0 + step);
        add_dense_block(acc, X[py_slice(r0, r1)], groups.data + r0, r1 - r0, sel);
    }
    return acc;
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
            buf_ = nb::module_::import_("numpy").attr("empty")(cap_, nb::arg("dtype") = ds_.attr("dtype"));
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
GroupTallies stream_compressed(nb::handle X, const LabelCodes& groups, std::size_t n_rows, std::size_t n_cols,
                               const ColumnSelection& sel, bool with_sums) {
    nb::object np = nb::module_::import_("numpy");
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

    const std::size_t n_groups = groups.n_labels();
    GroupTallies acc =
        empty_tallies(n_groups, output_width(sel), with_sums, by_rows ? nullptr : groups.data, by_rows ? 0 : n_rows);
    std::size_t s = 0;
    while (s < n_major) {
        std::size_t e = s + 1;
        while (e < n_major && ip(e + 1) - ip(s) <= budget) ++e;
        const std::int64_t p0 = ip(s), p1 = ip(e);
        if (p1 < p0) raise(PyExc_ValueError, "malformed sparse X: indptr decreases");
        nb::slice values = py_slice(static_cast<std::size_t>(p0), static_cast<std::size_t>(p1));
        nb::object block_ptr = indptr[py_slice(s, e + 1)].attr("__sub__")(p0);
        // Pointers of the indices' width keep the kernel off a widened copy
        // of every block's indices.
        if (narrow_ptr && p1 - p0 <= std::numeric_limits<std::int32_t>::max())
            block_ptr = block_ptr.attr("astype")(indices.attr("dtype"));
        if (by_rows) {
            const auto q0 = static_cast<std::size_t>(p0), q1 = static_cast<std::size_t>(p1);
            add_compressed_arrays(acc, data_reader.read(q0, q1), indices_reader.read(q0, q1), block_ptr, true, e - s,
                                  n_cols, groups.data + s, sel, true);
        } else {
            nb::object block = nb::module_::import_("scipy.sparse")
                                   .attr("csc_matrix")(nb::make_tuple(data[values], indices[values], block_ptr),
                                                       nb::arg("shape") = nb::make_tuple(n_rows, e - s));
            add_tallies(acc, tally_window(block, groups.data, n_rows, n_groups, sel, s, e - s, false, with_sums));
        }
        s = e;
    }
    return acc;
}

}  // namespace

std::size_t block_bytes() {
    nb::object settings = nb::module_::import_("orvalen").attr("settings");
    const long long v = nb::cast<long long>(builtin("int")(settings.attr("block_bytes")));
    return v < 1 ? 1 : static_cast<std::size_t>(v);
}

MatrixTallies tally_backed(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums) {
    nb::tuple shape = nb::cast<nb::tuple>(builtin("tuple")(X.attr("shape")));
    if (nb::len(shape) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    const std::size_t n_rows = nb::cast<std::size_t>(shape[0]), n_cols = nb::cast<std::size_t>(shape[1]);
    if (n_rows != groups.n)
        raise(PyExc_ValueError,
              "adata.X has " + std::to_string(n_rows) + " rows but obs has " + std::to_string(groups.n) + " cells");
    MatrixTallies out;
    out.float32 = holds_float32(X.attr("dtype"));
    out.tallies = matrix_kind(X) == MatrixKind::backed_sparse
                      ? stream_compressed(X, groups, n_rows, n_cols, sel, with_sums)
                      : stream_dense(X, groups, n_cols, sel, with_sums);
    return out;
}

}  // namespace quend::glue
