// Truncated SVD fitted on at most N_cells_max_for_pca rows, applied to all.
// Backed and Dask matrices bring only the sampled rows into memory and are
// projected block by block (chunk by chunk on the active Dask scheduler); a
// backed CSC file, whose rows cannot be cut without reading every column, is
// read whole once. Blocks of a backed file are checked before any library
// sees them: scipy and sklearn trust a sparse matrix's arrays.
#include <algorithm>
#include <tuple>
#include <utility>

#include "common/backed_tally.hpp"
#include "common/dask_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/progress.hpp"
#include "common/pyglue.hpp"
#include "tolvar/op.hpp"
#include "tolvar/pca_subsample_doc.hpp"

namespace quend::tolvar {

namespace {

using quend::glue::MatrixKind;
using quend::glue::py_slice;

constexpr const char* kBacked = "pca_subsample (backed)";
constexpr const char* kDask = "pca_subsample (dask)";

// `collections` computed on the active scheduler under Dask's own bar.
nb::list compute_shown(const nb::list& collections) {
    quend::glue::DaskBar bar(kDask);
    nb::object client = quend::glue::active_client();
    if (!client.is_none()) {
        nb::object futures = client.attr("compute")(collections);
        bar.wait(futures);
        return nb::list(client.attr("gather")(futures));
    }
    nb::object dask = nb::module_::import_("dask");
    return nb::list(bar.around([&] { return dask.attr("compute")(*collections); }));
}

// X with its genes in one chunk per row block.
nb::object whole_rows(nb::object X) {
    if (nb::cast<std::size_t>(nb::cast<nb::tuple>(X.attr("numblocks"))[1]) <= 1) return X;
    nb::dict genes;
    genes[nb::int_(1)] = nb::int_(-1);
    return X.attr("rechunk")(genes);
}

// Rows at the ascending positions `rows` of a Dask X: one task per row chunk
// that holds some, each taking its rows from its own block. (Older dask
// releases cannot fancy-index sparse chunks across blocks.)
nb::object gather_dask_rows(O X_in, O rows) {
    nb::object np = quend::glue::ns("np");
    nb::object tasks = nb::module_::import_("orvalen._dask");
    nb::object delayed = nb::module_::import_("dask").attr("delayed");
    nb::object X = whole_rows(X_in);
    nb::object ends = np.attr("cumsum")(nb::cast<nb::tuple>(X.attr("chunks"))[0]);
    nb::object cuts = np.attr("searchsorted")(rows, ends);
    nb::list parts;
    std::size_t lo = 0, start = 0;
    const std::size_t n_blocks = nb::len(ends);
    for (std::size_t i = 0; i < n_blocks; ++i) {
        const std::size_t cut = nb::cast<std::size_t>(cuts[nb::int_(i)]);
        if (cut > lo)
            parts.append(delayed(tasks.attr("take_rows"))(X.attr("blocks")[nb::int_(i)],
                                                          rows[py_slice(lo, cut)] - nb::int_(start)));
        lo = cut;
        start = nb::cast<std::size_t>(ends[nb::int_(i)]);
    }
    return tasks.attr("stack_rows")(compute_shown(parts));
}

// A checked block of a backed CSR/CSC file as a scipy matrix over the
// reader's buffers (valid until the next read).
nb::object scipy_block(const quend::glue::HeldBlock& b) {
    quend::glue::require_sound(b);
    nb::object sp = nb::module_::import_("scipy.sparse");
    const bool csr = b.view.form == quend::BlockView::csr;
    return sp.attr(csr ? "csr_matrix" : "csc_matrix")(b.owners,
                                                      nb::arg("shape") = nb::make_tuple(b.view.n_rows, b.view.n_cols));
}

// A backed CSC file read whole, block by checked block: its rows cannot be
// cut without reading every column.
nb::object load_csc(quend::glue::CompressedFile& file) {
    nb::list parts;
    quend::glue::ProgressBar bar(kBacked, file.n_major(), "genes");
    for (std::size_t s = 0, e = 0; s < file.n_major(); s = e) {
        e = file.block_end(s);
        parts.append(scipy_block(file.read(s, e)).attr("copy")());
        bar.advance(e - s);
    }
    return nb::module_::import_("scipy.sparse").attr("hstack")(parts, nb::arg("format") = "csc");
}

// Rows at the ascending positions `rows` of a backed CSR file, read only
// from the blocks that hold some.
nb::object gather_csr_rows(quend::glue::CompressedFile& file, O rows) {
    nb::object np = quend::glue::ns("np");
    nb::list parts;
    for (std::size_t s = 0, e = 0, lo = 0; s < file.n_major(); s = e) {
        e = file.block_end(s);
        const std::size_t hi = nb::cast<std::size_t>(np.attr("searchsorted")(rows, e));
        if (hi > lo) parts.append(scipy_block(file.read(s, e))[rows[py_slice(lo, hi)] - nb::int_(s)]);
        lo = hi;
    }
    return nb::module_::import_("orvalen._dask").attr("stack_rows")(parts);
}

// pca.transform of every row of a backed X, block after block: `next(s)`
// gives the end of the block starting at row s and its rows as a matrix.
template <typename Next>
nb::object project_blocks(O pca, std::size_t n_rows, Next&& next) {
    nb::object np = quend::glue::ns("np");
    nb::object out = nb::none();
    quend::glue::ProgressBar bar(kBacked, n_rows);
    for (std::size_t s = 0, e = 0; s < n_rows; s = e) {
        nb::object rows;
        std::tie(e, rows) = next(s);
        nb::object part = pca.attr("transform")(rows);
        if (out.is_none())
            out =
                np.attr("empty")(nb::make_tuple(n_rows, part.attr("shape")[1]), nb::arg("dtype") = part.attr("dtype"));
        out[py_slice(s, e)] = part;
        bar.advance(e - s);
    }
    return out;
}

// A backed CSR file: its checked blocks.
nb::object project_csr(quend::glue::CompressedFile& file, O pca, std::size_t n_rows) {
    return project_blocks(pca, n_rows, [&](std::size_t s) {
        const std::size_t e = file.block_end(s);
        return std::make_pair(e, scipy_block(file.read(s, e)));
    });
}

// A backed dense X: blocks of rows of about one block budget.
nb::object project_dense(O X, O pca, std::size_t n_rows, std::size_t n_cols) {
    const std::size_t row_bytes = n_cols * nb::cast<std::size_t>(X.attr("dtype").attr("itemsize"));
    const std::size_t step = std::max<std::size_t>(1, quend::glue::block_bytes() / std::max<std::size_t>(1, row_bytes));
    return project_blocks(pca, n_rows, [&](std::size_t s) {
        const std::size_t e = std::min(n_rows, s + step);
        return std::make_pair(e, nb::object(X[py_slice(s, e)]));
    });
}

// pca.transform of every chunk of rows of a Dask X, computed on the active
// scheduler; genes are joined into one chunk per row block first.
nb::object project_dask(O X_in, O pca, O sample) {
    nb::object np = quend::glue::ns("np");
    nb::object tasks = nb::module_::import_("orvalen._dask");
    nb::object X = whole_rows(X_in);
    nb::object probe = pca.attr("transform")(sample[py_slice(0, 1)]);
    nb::object width = probe.attr("shape")[1];
    nb::object chunks = nb::make_tuple(nb::cast<nb::tuple>(X.attr("chunks"))[0], nb::make_tuple(width));
    nb::object meta = np.attr("empty")(nb::make_tuple(0, 0), nb::arg("dtype") = probe.attr("dtype"));
    nb::object projected = X.attr("map_blocks")(tasks.attr("project_rows"), pca, nb::arg("chunks") = chunks,
                                                nb::arg("dtype") = probe.attr("dtype"), nb::arg("meta") = meta);
    nb::list one;
    one.append(projected);
    return compute_shown(one)[0];
}

O pca_out_of_core(O X, MatrixKind kind, O pca, O picked, std::size_t n_rows, bool fit_all) {
    nb::object np = quend::glue::ns("np");
    // Rows are read in ascending order, then put back in the order drawn so
    // the fit sees exactly the in-memory subset.
    nb::object drawn = np.attr("asarray")(picked, nb::arg("dtype") = np.attr("int64"));
    nb::object order = np.attr("argsort")(drawn, nb::arg("kind") = "stable");
    nb::object rank = np.attr("empty_like")(order);
    rank[order] = np.attr("arange")(nb::len(order));
    nb::object rows = drawn[order];
    nb::object sample;
    if (kind == MatrixKind::dask) {
        sample = gather_dask_rows(X, rows)[rank];
    } else if (kind == MatrixKind::backed_dense) {
        nb::object all = nb::slice(nb::none(), nb::none(), nb::none());
        sample =
            nb::hasattr(X, "oindex") ? nb::object(X.attr("oindex")[nb::make_tuple(rows, all)]) : nb::object(X[rows]);
        sample = sample[rank];
    } else {
        const auto [n, n_cols] = quend::glue::backed_shape(X);
        quend::glue::CompressedFile file(X, n, n_cols);
        if (!file.by_rows()) {
            nb::object whole = load_csc(file);
            if (fit_all) return pca.attr("fit_transform")(whole);
            pca.attr("fit")(whole[nb::make_tuple(picked, nb::slice(nb::none(), nb::none(), nb::none()))]);
            return pca.attr("transform")(whole);
        }
        sample = gather_csr_rows(file, rows)[rank];
        if (fit_all) return pca.attr("fit_transform")(sample);
        pca.attr("fit")(sample);
        return project_csr(file, pca, n_rows);
    }
    if (fit_all) return pca.attr("fit_transform")(sample);
    pca.attr("fit")(sample);
    if (kind == MatrixKind::dask) return project_dask(X, pca, sample);
    const std::size_t n_cols = nb::cast<std::size_t>(nb::cast<nb::tuple>(X.attr("shape"))[1]);
    return project_dense(X, pca, n_rows, n_cols);
}

}  // namespace

O pca_subsample(O Xx, O N_components_pca, O N_cells_max_for_pca) {
    using quend::glue::ns;
    // Checked first: an AnnData has a shape too, and would fail deep inside
    // numpy with a message about sequences.
    const MatrixKind kind = quend::glue::matrix_kind(Xx);
    if (kind == MatrixKind::missing || kind == MatrixKind::unsupported) {
        const bool anndata = nb::hasattr(Xx, "obs") && nb::hasattr(Xx, "X");
        quend::glue::raise(PyExc_TypeError,
                           "pca_subsample: Xx must be a cells-by-features matrix (numpy array, scipy "
                           "sparse matrix, pandas DataFrame, backed h5ad matrix or dask array), got " +
                               quend::glue::py_type_name(Xx) + (anndata ? "; pass adata.X" : ""));
    }
    N_cells_max_for_pca = quend::glue::whole_number(N_cells_max_for_pca, "N_cells_max_for_pca");
    nb::object n_comp = quend::glue::builtin("int")(N_components_pca);
    nb::object pca = ns("TruncatedSVD")(nb::arg("n_components") = n_comp);
    nb::object n_rows = nb::cast<nb::tuple>(Xx.attr("shape"))[0];
    const int small = PyObject_RichCompareBool(n_rows.ptr(), N_cells_max_for_pca.ptr(), Py_LE);
    if (small < 0) throw nb::python_error();
    const bool out_of_core =
        kind == MatrixKind::backed_sparse || kind == MatrixKind::backed_dense || kind == MatrixKind::dask;
    if (small && out_of_core)
        return pca_out_of_core(Xx, kind, pca, quend::glue::builtin("range")(n_rows), nb::cast<std::size_t>(n_rows),
                               true);
    if (small) return pca.attr("fit_transform")(Xx);

    // Row positions drawn from the interpreter's generator: the same draw as
    // sampling the row labels, and exactly the cap's size even when labels
    // repeat.
    nb::object picked =
        ns("random").attr("sample")(quend::glue::builtin("range")(n_rows), nb::arg("k") = N_cells_max_for_pca);
    if (out_of_core) return pca_out_of_core(Xx, kind, pca, picked, nb::cast<std::size_t>(n_rows), false);
    nb::object all = nb::slice(nb::none(), nb::none(), nb::none());
    const int is_frame = PyObject_IsInstance(Xx.ptr(), ns("pd").attr("DataFrame").ptr());
    if (is_frame < 0) throw nb::python_error();
    nb::object subset = is_frame ? Xx.attr("iloc")[nb::make_tuple(picked, all)] : Xx[nb::make_tuple(picked, all)];
    pca.attr("fit")(subset);
    return pca.attr("transform")(Xx);
}

void bind_pca_subsample(nb::module_& m) {
    glue::def(m, &pca_subsample,
              "def pca_subsample(Xx`: typing.Any`, N_components_pca`: int`, N_cells_max_for_pca`: int`=100000)` -> "
              "numpy.ndarray`",
              doc::pca_subsample);
}

}  // namespace quend::tolvar
