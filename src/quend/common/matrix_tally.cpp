#include "common/matrix_tally.hpp"

#include "common/nb.hpp"

#include <cstdlib>
#include <string>

#include "common/arrays.hpp"
#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "core/group_counts.hpp"

namespace quend::glue {

namespace {

Dtype dtype_of(const nb::dlpack::dtype& dt) {
    if (dt == nb::dtype<float>()) return Dtype::f32;
    if (dt == nb::dtype<double>()) return Dtype::f64;
    if (dt == nb::dtype<bool>()) return Dtype::boolean;
    if (dt == nb::dtype<std::int8_t>()) return Dtype::i8;
    if (dt == nb::dtype<std::int16_t>()) return Dtype::i16;
    if (dt == nb::dtype<std::int32_t>()) return Dtype::i32;
    if (dt == nb::dtype<std::int64_t>()) return Dtype::i64;
    if (dt == nb::dtype<std::uint8_t>()) return Dtype::u8;
    if (dt == nb::dtype<std::uint16_t>()) return Dtype::u16;
    if (dt == nb::dtype<std::uint32_t>()) return Dtype::u32;
    if (dt == nb::dtype<std::uint64_t>()) return Dtype::u64;
    raise(PyExc_TypeError, "adata.X holds values of a type that cannot be read");
}

// Element types the kernels read directly; anything else (float16, object,
// non-native byte order) is converted once. Compressed arrays come out
// contiguous: a strided one is copied, alone.
nb::object native_numeric(nb::object arr, bool sparse_index, bool contiguous) {
    nb::object np = numpy();
    arr = np.attr(contiguous ? "ascontiguousarray" : "asarray")(arr);
    nb::object dt = arr.attr("dtype");
    const bool native = nb::cast<bool>(dt.attr("isnative"));
    const std::string kind = nb::cast<std::string>(dt.attr("kind"));
    const int size = nb::cast<int>(dt.attr("itemsize"));
    if (sparse_index) {
        if (native && kind == "i" && (size == 4 || size == 8)) return arr;
        return arr.attr("astype")(np.attr("int64"));
    }
    if (native && (kind == "b" || kind == "i" || kind == "u" || (kind == "f" && (size == 4 || size == 8)))) return arr;
    if (kind == "f" && size == 2) return arr.attr("astype")(np.attr("float32"));
    return arr.attr("astype")(np.attr("float64"));
}

std::size_t length(const AnyArray& a) {
    if (a.ndim() != 1) raise(PyExc_ValueError, "malformed sparse X: data, indices and indptr must be one-dimensional");
    return a.shape(0);
}

}  // namespace

void raise_value_error(const std::string& message) { raise(PyExc_ValueError, message); }

void check_rows(std::size_t n_rows, std::size_t expected) {
    if (n_rows != expected)
        raise(PyExc_ValueError,
              "adata.X has " + std::to_string(n_rows) + " rows but obs has " + std::to_string(expected) + " cells");
}

void check_cols(std::size_t n_cols, std::size_t expected) {
    if (n_cols != expected)
        raise(PyExc_ValueError,
              "adata.X has " + std::to_string(n_cols) + " columns but var has " + std::to_string(expected) + " genes");
}

HeldBlock compressed_block(nb::object data, nb::object indices, nb::object indptr, bool by_rows, std::size_t n_rows,
                           std::size_t n_cols) {
    nb::object np = numpy();
    data = native_numeric(data, false, true);
    indices = native_numeric(indices, true, true);
    indptr = native_numeric(indptr, true, true);
    if (!indices.attr("dtype").equal(indptr.attr("dtype"))) {
        indices = indices.attr("astype")(np.attr("int64"));
        indptr = indptr.attr("astype")(np.attr("int64"));
    }
    HeldBlock b;
    b.owners = nb::make_tuple(data, indices, indptr);
    const auto d = nb::cast<AnyArray>(data, false), ix = nb::cast<AnyArray>(indices, false),
               ip = nb::cast<AnyArray>(indptr, false);
    BlockView& v = b.view;
    v.form = by_rows ? BlockView::csr : BlockView::csc;
    v.dtype = dtype_of(d.dtype());
    v.n_rows = n_rows;
    v.n_cols = n_cols;
    v.n_data = length(d);
    v.n_indices = length(ix);
    v.n_indptr = length(ip);
    v.data = d.data();
    v.wide_index = ix.dtype() == nb::dtype<std::int64_t>();
    v.indices = ix.data();
    v.indptr = ip.data();
    return b;
}

void require_sound(const HeldBlock& b) {
    bool canonical = true;
    const std::string err = check_block(b.view, canonical);
    if (!err.empty()) raise(PyExc_ValueError, "malformed sparse X: " + err);
}

HeldBlock read_block(nb::handle X_in) {
    nb::object X = nb::borrow(X_in);
    if (nb::cast<bool>(nb::module_::import_("scipy.sparse").attr("issparse")(X))) {
        std::string fmt = nb::cast<std::string>(X.attr("format"));
        if (fmt != "csr" && fmt != "csc") {
            X = X.attr("tocsr")();
            fmt = "csr";
        }
        nb::tuple shape = nb::cast<nb::tuple>(X.attr("shape"));
        return compressed_block(X.attr("data"), X.attr("indices"), X.attr("indptr"), fmt == "csr",
                                nb::cast<std::size_t>(shape[0]), nb::cast<std::size_t>(shape[1]));
    }
    nb::object arr = numpy().attr("asarray")(X);
    if (nb::cast<int>(arr.attr("ndim")) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    arr = native_numeric(arr, false, false);
    HeldBlock b;
    b.owners = arr;
    const auto a = nb::cast<AnyArray>(arr, false);
    b.view.dtype = dtype_of(a.dtype());
    b.view.n_rows = a.shape(0);
    b.view.n_cols = a.shape(1);
    b.view.data = a.data();
    b.view.row_stride = a.stride(0);
    b.view.col_stride = a.stride(1);
    return b;
}

void add(TallyDriver& pass, const HeldBlock& b, BlockAt at) {
    in_kernel([&] { pass.add(b.view, at); });
}

Partial partial_of(const HeldBlock& b, PartSet parts, std::size_t width, const std::int64_t* codes,
                   std::size_t n_groups, const BlockColumns& cols, bool dense) {
    Partial out;
    in_kernel([&] { out = quend::partial_of(parts, width, b.view, codes, n_groups, cols, dense); });
    return out;
}

nb::object adopt_table(FinishedTable&& t, std::size_t n_groups, std::size_t width) {
    const std::size_t shape[2] = {n_groups, width};
    const bool narrow = t.float32();
    void* values = t.release();
    if (!values) return numpy_empty(nb::make_tuple(shape[0], shape[1]), narrow ? "float32" : "float64");
    nb::capsule owner(values, [](void* p) noexcept { std::free(p); });
    if (narrow) return nb::ndarray<nb::numpy, float, nb::ndim<2>>(static_cast<float*>(values), 2, shape, owner).cast();
    return nb::ndarray<nb::numpy, double, nb::ndim<2>>(static_cast<double*>(values), 2, shape, owner).cast();
}

CellCodes cells_of(const LabelCodes& groups) { return {groups.data, groups.n, groups.n_labels()}; }

std::vector<std::int64_t> group_sizes(const LabelCodes& groups) {
    return code_counts(groups.data, groups.n, groups.n_labels());
}

}  // namespace quend::glue
