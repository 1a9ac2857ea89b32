#include "common/backed_tally.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "common/arrays.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

namespace {

void stream_dense(nb::handle X, const LabelCodes& groups, std::size_t n_cols, const ColumnPlan& plan,
                  DenseTally& into) {
    const std::size_t item = nb::cast<std::size_t>(X.attr("dtype").attr("itemsize"));
    const std::size_t row_bytes = n_cols * item;
    const std::size_t step = std::max<std::size_t>(1, block_bytes() / std::max<std::size_t>(1, row_bytes));
    const BlockColumns cols = block_columns(plan, 0, n_cols);
    ProgressBar bar((groups.n + step - 1) / step);
    for (std::size_t r0 = 0; r0 < groups.n; r0 += step) {
        const std::size_t r1 = std::min(groups.n, r0 + step);
        const Block b = read_block(X[py_slice(r0, r1)]);
        check_rows(b.n_rows, r1 - r0);
        check_cols(b.n_cols, n_cols);
        add_block(into, b, groups.data + r0, cols);
        bar.advance(1);
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
                       const ColumnPlan& plan, DenseTally& into) {
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

    ProgressBar bar(nnz);
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
        const Block b = by_rows ? compressed_block(data_reader.read(q0, q1), indices_reader.read(q0, q1), block_ptr,
                                                   true, e - s, n_cols)
                                : compressed_block(data_reader.read(q0, q1), indices_reader.read(q0, q1), block_ptr,
                                                   false, n_rows, e - s);
        if (by_rows)
            add_block(into, b, groups.data + s, block_columns(plan, 0, n_cols));
        else
            add_block(into, b, groups.data, block_columns(plan, s, e - s));
        bar.advance(q1 - q0);
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

ProgressBar::ProgressBar(std::size_t total) : total_(total) {
    if (!truthy(nb::module_::import_("orvalen").attr("settings").attr("progress"))) return;
    nb::object tqdm = nb::module_::import_("importlib.util").attr("find_spec")("tqdm");
    if (!tqdm.is_none()) {
        tqdm_ = nb::module_::import_("tqdm").attr("tqdm")(nb::arg("total") = total,
                                                          nb::arg("file") = nb::module_::import_("sys").attr("stdout"));
        return;
    }
    text_ = true;
    draw();
}

ProgressBar::~ProgressBar() {
    if (!tqdm_.is_valid() && !text_) return;
    // A destructor must not throw: a failing close leaves the bar as it is.
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    if (tqdm_.is_valid()) {
        PyObject* r = PyObject_CallMethod(tqdm_.ptr(), "close", nullptr);
        Py_XDECREF(r);
    } else {
        PyObject* out = PySys_GetObject("stdout");  // borrowed
        if (out) {
            PyObject* r = PyObject_CallMethod(out, "write", "s", "\n");
            Py_XDECREF(r);
        }
    }
    PyErr_Clear();
    PyErr_Restore(type, value, trace);
}

void ProgressBar::advance(std::size_t steps) {
    done_ += steps;
    if (tqdm_.is_valid())
        tqdm_.attr("update")(steps);
    else if (text_)
        draw();
}

void ProgressBar::draw() {
    const int pct = total_ ? static_cast<int>(100.0 * static_cast<double>(std::min(done_, total_)) / total_) : 100;
    if (pct == shown_) return;
    shown_ = pct;
    const int filled = pct * 30 / 100;
    nb::object out = nb::module_::import_("sys").attr("stdout");
    out.attr("write")("\r[" + std::string(filled, '#') + std::string(30 - filled, ' ') + "] " + std::to_string(pct) +
                      "%");
    out.attr("flush")();
}

nb::object tally_backed(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat) {
    nb::tuple shape = nb::cast<nb::tuple>(builtin("tuple")(X.attr("shape")));
    if (nb::len(shape) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    const std::size_t n_rows = nb::cast<std::size_t>(shape[0]), n_cols = nb::cast<std::size_t>(shape[1]);
    check_rows(n_rows, groups.n);
    check_cols(n_cols, sel.n_matrix_cols);
    const ColumnPlan plan = plan_columns(sel);
    ResultTable t = zero_table(stat, groups.n_labels(), plan.width());
    if (matrix_kind(X) == MatrixKind::backed_sparse)
        stream_compressed(X, groups, n_rows, n_cols, plan, t.tally);
    else
        stream_dense(X, groups, n_cols, plan, t.tally);
    return finish_table(t, group_sizes(groups), plan, stat == Stat::mean && holds_float32(X.attr("dtype")));
}

}  // namespace quend::glue
