#include "common/matrix_tally.hpp"

#include "common/nb.hpp"

#include <string>

#include "common/arrays.hpp"
#include "common/backed_tally.hpp"
#include "common/dask_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/pyglue.hpp"
#include "core/group_counts.hpp"

namespace quend::glue {

namespace {

template <typename F>
void dispatch_value(const nb::dlpack::dtype& dt, F&& f) {
    if (dt == nb::dtype<float>()) return f(static_cast<const float*>(nullptr));
    if (dt == nb::dtype<double>()) return f(static_cast<const double*>(nullptr));
    if (dt == nb::dtype<bool>()) return f(static_cast<const bool*>(nullptr));
    if (dt == nb::dtype<std::int8_t>()) return f(static_cast<const std::int8_t*>(nullptr));
    if (dt == nb::dtype<std::int16_t>()) return f(static_cast<const std::int16_t*>(nullptr));
    if (dt == nb::dtype<std::int32_t>()) return f(static_cast<const std::int32_t*>(nullptr));
    if (dt == nb::dtype<std::int64_t>()) return f(static_cast<const std::int64_t*>(nullptr));
    if (dt == nb::dtype<std::uint8_t>()) return f(static_cast<const std::uint8_t*>(nullptr));
    if (dt == nb::dtype<std::uint16_t>()) return f(static_cast<const std::uint16_t*>(nullptr));
    if (dt == nb::dtype<std::uint32_t>()) return f(static_cast<const std::uint32_t*>(nullptr));
    if (dt == nb::dtype<std::uint64_t>()) return f(static_cast<const std::uint64_t*>(nullptr));
    raise(PyExc_TypeError, "adata.X holds values of a type that cannot be read");
}

// f(values, indices, indptr) with the block's element and index types.
template <typename F>
void dispatch_compressed(const Block& b, F&& f) {
    dispatch_value(b.data.dtype(), [&](auto tag) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
        const T* v = static_cast<const T*>(b.data.data());
        if (b.indices.dtype() == nb::dtype<std::int64_t>())
            f(v, static_cast<const std::int64_t*>(b.indices.data()), static_cast<const std::int64_t*>(b.indptr.data()));
        else
            f(v, static_cast<const std::int32_t*>(b.indices.data()), static_cast<const std::int32_t*>(b.indptr.data()));
    });
}

// Element types the kernels read directly; anything else (float16, object,
// non-native byte order) is converted once.
nb::object native_numeric(nb::object arr, bool sparse_index) {
    nb::object np = numpy();
    arr = np.attr("asarray")(arr);
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

template <typename I, typename P>
bool check_layout(const AnyArray& ix, const AnyArray& ip, std::size_t n_major, std::size_t n_minor, std::size_t nnz) {
    if (ip.shape(0) != n_major + 1)
        raise(PyExc_ValueError, "malformed sparse X: indptr has " + std::to_string(ip.shape(0)) +
                                    " entries, expected " + std::to_string(n_major + 1));
    if (ix.shape(0) < nnz) raise(PyExc_ValueError, "malformed sparse X: fewer indices than stored values");
    bool canonical = true;
    std::string err;
    {
        nb::gil_scoped_release unlocked;
        err = check_compressed(static_cast<const I*>(ix.data()), static_cast<const P*>(ip.data()), n_major, n_minor,
                               nnz, canonical);
    }
    if (!err.empty()) raise(PyExc_ValueError, "malformed sparse X: " + err);
    return canonical;
}

}  // namespace

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

Block compressed_block(nb::object data, nb::object indices, nb::object indptr, bool by_rows, std::size_t n_rows,
                       std::size_t n_cols) {
    nb::object np = numpy();
    data = native_numeric(data, false);
    indices = native_numeric(indices, true);
    indptr = native_numeric(indptr, true);
    if (!indices.attr("dtype").equal(indptr.attr("dtype"))) {
        indices = indices.attr("astype")(np.attr("int64"));
        indptr = indptr.attr("astype")(np.attr("int64"));
    }
    Block b;
    b.form = by_rows ? Block::csr : Block::csc;
    b.n_rows = n_rows;
    b.n_cols = n_cols;
    b.data = nb::cast<AnyArray>(data, false);
    b.indices = nb::cast<AnyArray>(indices, false);
    b.indptr = nb::cast<AnyArray>(indptr, false);
    if (b.indptr.ndim() != 1 || b.indices.ndim() != 1 || b.data.ndim() != 1)
        raise(PyExc_ValueError, "malformed sparse X: data, indices and indptr must be one-dimensional");
    const std::size_t n_major = by_rows ? n_rows : n_cols, n_minor = by_rows ? n_cols : n_rows;
    const std::size_t nnz = b.data.shape(0);
    const bool i64 = b.indices.dtype() == nb::dtype<std::int64_t>();
    const bool canonical = i64 ? check_layout<std::int64_t, std::int64_t>(b.indices, b.indptr, n_major, n_minor, nnz)
                               : check_layout<std::int32_t, std::int32_t>(b.indices, b.indptr, n_major, n_minor, nnz);
    if (!canonical) {
        // Stored duplicates add up in the dense view; sum them on a copy.
        nb::object sp = nb::module_::import_("scipy.sparse");
        nb::object M = sp.attr(by_rows ? "csr_matrix" : "csc_matrix")(nb::make_tuple(data, indices, indptr),
                                                                      nb::arg("shape") = nb::make_tuple(n_rows, n_cols),
                                                                      nb::arg("copy") = true);
        M.attr("sum_duplicates")();
        return compressed_block(M.attr("data"), M.attr("indices"), M.attr("indptr"), by_rows, n_rows, n_cols);
    }
    b.owners = nb::make_tuple(data, indices, indptr);
    return b;
}

Block read_block(nb::handle X_in) {
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
    arr = native_numeric(arr, false);
    Block b;
    b.data = nb::cast<AnyArray>(arr, false);
    b.n_rows = b.data.shape(0);
    b.n_cols = b.data.shape(1);
    b.owners = arr;
    return b;
}

ResultTable zero_table(Stat stat, std::size_t n_groups, std::size_t width) {
    nb::object np = numpy();
    ResultTable t;
    t.value = np.attr("zeros")(nb::make_tuple(n_groups, width), nb::arg("dtype") = "float64");
    t.tally.stat = stat;
    t.tally.n_groups = n_groups;
    t.tally.width = width;
    if (n_groups * width == 0) return t;
    t.tally.value = nb::cast<MutMat<double>>(t.value, false).data();
    if (stat == Stat::mean) {
        t.missing = np.attr("zeros")(nb::make_tuple(n_groups, width), nb::arg("dtype") = "int64");
        t.tally.missing = nb::cast<MutMat<std::int64_t>>(t.missing, false).data();
    }
    return t;
}

void add_block(DenseTally& into, const Block& b, const std::int64_t* codes, const BlockColumns& cols) {
    if (into.n_groups * into.width == 0) return;
    if (b.form == Block::dense) {
        dispatch_value(b.data.dtype(), [&](auto tag) {
            using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
            nb::gil_scoped_release unlocked;
            add_dense(into, static_cast<const T*>(b.data.data()), b.n_rows, b.data.stride(0), b.data.stride(1), codes,
                      cols);
        });
        return;
    }
    dispatch_compressed(b, [&](auto v, auto ix, auto ip) {
        nb::gil_scoped_release unlocked;
        add_compressed(into, v, ix, ip, b.form == Block::csr, b.n_rows, codes, cols);
    });
}

SparseTally partial_of(const Block& b_in, Stat stat, std::size_t width, const std::int64_t* codes, std::size_t n_groups,
                       const BlockColumns& cols) {
    Block b = b_in;
    if (b.form == Block::csc) {
        // Rows are what a partial groups by; the copy is the size of the chunk.
        nb::object M = nb::module_::import_("scipy.sparse")
                           .attr("csc_matrix")(nb::make_tuple(b.owners[0], b.owners[1], b.owners[2]),
                                               nb::arg("shape") = nb::make_tuple(b.n_rows, b.n_cols))
                           .attr("tocsr")();
        b = compressed_block(M.attr("data"), M.attr("indices"), M.attr("indptr"), true, b.n_rows, b.n_cols);
    }
    SparseTally out;
    if (b.form == Block::dense) {
        dispatch_value(b.data.dtype(), [&](auto tag) {
            using T = std::remove_const_t<std::remove_pointer_t<decltype(tag)>>;
            nb::gil_scoped_release unlocked;
            out = partial_dense(stat, width, static_cast<const T*>(b.data.data()), b.n_rows, b.data.stride(0),
                                b.data.stride(1), codes, n_groups, cols);
        });
        return out;
    }
    dispatch_compressed(b, [&](auto v, auto ix, auto ip) {
        nb::gil_scoped_release unlocked;
        out = partial_compressed(stat, width, v, ix, ip, b.n_rows, codes, n_groups, cols);
    });
    return out;
}

nb::object finish_table(ResultTable& t, const std::vector<std::int64_t>& group_size, const ColumnPlan& plan,
                        bool narrow) {
    if (t.tally.n_groups * t.tally.width > 0) {
        nb::gil_scoped_release unlocked;
        finish(t.tally, group_size.data());
    }
    t.missing = nb::none();
    nb::object values = t.value;
    t.value = nb::none();
    if (narrow) values = values.attr("astype")("float32");
    if (plan.expand.empty()) return values;
    return values.attr("take")(numpy_int_vector(plan.expand), nb::arg("axis") = 1);
}

std::vector<std::int64_t> group_sizes(const LabelCodes& groups) {
    return code_counts(groups.data, groups.n, groups.n_labels());
}

nb::object group_table(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat) {
    switch (matrix_kind(X)) {
        case MatrixKind::missing: raise(PyExc_ValueError, "adata.X holds no matrix (None)");
        case MatrixKind::in_memory: {
            const Block b = read_block(X);
            check_rows(b.n_rows, groups.n);
            check_cols(b.n_cols, sel.n_matrix_cols);
            const ColumnPlan plan = plan_columns(sel);
            ResultTable t = zero_table(stat, groups.n_labels(), plan.width());
            add_block(t.tally, b, groups.data, block_columns(plan, 0, b.n_cols));
            const bool narrow = stat == Stat::mean && b.data.dtype() == nb::dtype<float>();
            return finish_table(t, group_sizes(groups), plan, narrow);
        }
        case MatrixKind::backed_sparse:
        case MatrixKind::backed_dense: return tally_backed(X, groups, sel, stat);
        case MatrixKind::dask: return tally_dask(X, groups, sel, stat);
        case MatrixKind::unsupported: break;
    }
    raise_unsupported_matrix(X);
}

}  // namespace quend::glue
