#include "common/dask_tally.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/arrays.hpp"
#include "common/backed_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_kind.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

namespace {

// A result slice a block reduce owns, and the inputs a merge may hold, when
// no cluster tells its workers' memory.
constexpr std::size_t kSliceBytes = 128u << 20;
constexpr std::size_t kMergeBytes = 1u << 30;

Stat to_stat(int s) { return s == 1 ? Stat::mean : Stat::detected; }
int from_stat(Stat s) { return s == Stat::mean ? 1 : 0; }

// A piece read back, checked before a kernel walks it.
struct Piece {
    ConstVec<std::int64_t> groups, ptr;
    ConstVec<std::int32_t> cols;
    ConstVec<double> value, missing;
    bool has_missing = false;
    PartialView view() const {
        PartialView v;
        v.n_present = groups.shape(0);
        v.groups = groups.data();
        v.ptr = ptr.data();
        v.cols = cols.data();
        v.value = value.data();
        v.missing = has_missing ? missing.data() : nullptr;
        return v;
    }
};

Piece read_piece(nb::handle p, Stat stat) {
    nb::tuple t = nb::cast<nb::tuple>(p);
    if (nb::len(t) != 5) raise(PyExc_ValueError, "a partial tally has 5 arrays");
    Piece out;
    out.groups = nb::cast<ConstVec<std::int64_t>>(t[0]);
    out.ptr = nb::cast<ConstVec<std::int64_t>>(t[1]);
    out.cols = nb::cast<ConstVec<std::int32_t>>(t[2]);
    out.value = nb::cast<ConstVec<double>>(t[3]);
    out.has_missing = stat == Stat::mean;
    const std::size_t n = out.groups.shape(0), n_pairs = out.cols.shape(0);
    bool ok = out.ptr.shape(0) == n + 1 && out.value.shape(0) == n_pairs && out.ptr(0) == 0 &&
              static_cast<std::size_t>(out.ptr(n)) == n_pairs;
    for (std::size_t k = 0; ok && k < n; ++k)
        ok = out.ptr(k) <= out.ptr(k + 1) && (k == 0 || out.groups(k - 1) < out.groups(k));
    if (ok && out.has_missing) {
        out.missing = nb::cast<ConstVec<double>>(t[4]);
        ok = out.missing.shape(0) == n_pairs;
    }
    if (!ok) raise(PyExc_ValueError, "malformed partial tally");
    return out;
}

nb::object piece_of(SparseTally&& s) {
    if (s.groups.empty()) return nb::none();
    const bool mean = s.stat == Stat::mean;
    return nb::make_tuple(numpy_adopt(std::move(s.groups)), numpy_adopt(std::move(s.ptr)),
                          numpy_adopt(std::move(s.cols)), numpy_adopt(std::move(s.value)),
                          mean ? numpy_adopt(std::move(s.missing)) : nb::none());
}

std::vector<std::size_t> chunk_sizes(nb::handle axis_chunks) {
    std::vector<std::size_t> out;
    for (nb::handle c : axis_chunks) {
        const double v = nb::cast<double>(builtin("float")(c));
        if (std::isnan(v))
            raise(PyExc_ValueError, "X is a dask array with unknown chunk sizes; call X.compute_chunk_sizes() first");
        out.push_back(static_cast<std::size_t>(v));
    }
    return out;
}

// sys.modules["distributed"].default_client(), or None.
nb::object active_client() {
    nb::object mod = nb::module_::import_("sys").attr("modules").attr("get")("distributed");
    if (mod.is_none()) return nb::none();
    return on_ordinary_error([&]() -> nb::object { return mod.attr("default_client")(); },
                             [](nb::python_error&) -> nb::object { return nb::none(); });
}

// A quarter of the smallest worker's memory limit, when a cluster tells it.
std::size_t merge_bytes(const nb::object& client) {
    if (client.is_none()) return kMergeBytes;
    double limit = 0;
    nb::dict workers = nb::cast<nb::dict>(client.attr("scheduler_info")()["workers"]);
    for (auto [addr, info] : workers) {
        nb::object m = nb::cast<nb::dict>(info).attr("get")("memory_limit");
        double v = 0;
        if (!m.is_none() && nb::try_cast(m, v) && v > 0 && (limit == 0 || v < limit)) limit = v;
    }
    return limit > 0 ? static_cast<std::size_t>(limit / 4) : kMergeBytes;
}

// The finished slices stacked into one groups x columns table. On a cluster
// each slice is copied in as it arrives and released, so the caller holds the
// table and about one slice, not the table twice. A progress bar is shown
// when orvalen.settings.progress is set.
nb::object assemble(const nb::list& finals, const nb::object& client, const std::vector<std::int64_t>& starts,
                    std::size_t n_groups, std::size_t width, bool narrow) {
    nb::object dask = nb::module_::import_("dask");
    nb::object np = numpy();
    const bool progress = truthy(nb::module_::import_("orvalen").attr("settings").attr("progress"));
    if (!client.is_none()) {
        nb::object distributed = nb::module_::import_("distributed");
        nb::list futures = nb::cast<nb::list>(client.attr("compute")(finals));
        if (progress) distributed.attr("progress")(futures);
        nb::dict block_of;
        for (std::size_t k = 0; k < nb::len(futures); ++k) block_of[futures[k].attr("key")] = nb::int_(k);
        nb::object out =
            np.attr("empty")(nb::make_tuple(n_groups, width), nb::arg("dtype") = narrow ? "float32" : "float64");
        nb::object arriving = distributed.attr("as_completed")(futures, nb::arg("with_results") = true);
        futures = nb::list();  // as_completed holds each until it is copied
        for (nb::handle done : arriving) {
            nb::tuple pair = nb::cast<nb::tuple>(done);
            const std::size_t k = nb::cast<std::size_t>(block_of[pair[0].attr("key")]);
            const std::size_t g0 = static_cast<std::size_t>(starts[k]);
            out[py_slice(g0, g0 + nb::cast<std::size_t>(pair[1].attr("shape")[0]))] = pair[1];
            pair[0].attr("release")();
        }
        return out;
    }
    nb::object slices;
    if (progress) {
        nb::object bar = nb::module_::import_("dask.diagnostics").attr("ProgressBar")();
        bar.attr("__enter__")();
        try {
            slices = dask.attr("compute")(*finals);
        } catch (nb::python_error& e) {
            bar.attr("__exit__")(e.type(), e.value(), e.traceback());
            throw;
        }
        bar.attr("__exit__")(nb::none(), nb::none(), nb::none());
    } else {
        slices = dask.attr("compute")(*finals);
    }
    if (nb::len(slices) == 1) return slices[nb::int_(0)];
    return np.attr("concatenate")(slices);
}

}  // namespace

nb::object chunk_partials(nb::handle chunk, nb::handle codes, std::size_t i, std::size_t j, std::size_t r0,
                          std::size_t r1, std::size_t c0, std::size_t width, nb::handle slot, bool all_cols,
                          std::size_t n_tallied, int stat, nb::handle starts) {
    auto all_codes = nb::cast<ConstVec<std::int64_t>>(codes);
    auto slots = nb::cast<ConstVec<std::int64_t>>(slot);
    auto bounds = nb::cast<ConstVec<std::int64_t>>(starts);
    if (r1 < r0 || r1 > all_codes.shape(0) || c0 + width > slots.shape(0))
        raise(PyExc_ValueError, "chunk outside the matrix");
    const Block b = read_block(chunk);
    if (b.n_rows != r1 - r0 || b.n_cols != width)
        raise(PyExc_ValueError, "chunk (" + std::to_string(i) + ", " + std::to_string(j) + ") of X has shape (" +
                                    std::to_string(b.n_rows) + ", " + std::to_string(b.n_cols) +
                                    ") but X.chunks declares (" + std::to_string(r1 - r0) + ", " +
                                    std::to_string(width) + ")");
    BlockColumns cols;
    cols.slot = slots.data() + c0;
    cols.identity = all_cols && c0 == 0;
    cols.n_block_cols = width;
    std::size_t n_groups = 0;
    for (std::size_t r = r0; r < r1; ++r)
        n_groups =
            std::max<std::size_t>(n_groups, static_cast<std::size_t>(std::max<std::int64_t>(0, all_codes(r) + 1)));
    SparseTally part = partial_of(b, to_stat(stat), n_tallied, all_codes.data() + r0, n_groups, cols);

    // Cut at the block bounds: views of one set of arrays, pointers rebased.
    const std::size_t n_blocks = bounds.shape(0);
    std::vector<std::int64_t> groups = part.groups, ptr = part.ptr;
    nb::object whole = piece_of(std::move(part));
    nb::list out;
    std::size_t a = 0;
    for (std::size_t k = 0; k < n_blocks; ++k) {
        const std::int64_t end = k + 1 < n_blocks ? bounds(k + 1) : std::numeric_limits<std::int64_t>::max();
        std::size_t e = a;
        while (e < groups.size() && groups[e] < end) ++e;
        if (e == a) {
            out.append(nb::none());
            continue;
        }
        if (a == 0 && e == groups.size()) {
            out.append(whole);
        } else {
            nb::tuple w = nb::cast<nb::tuple>(whole);
            const std::size_t p0 = static_cast<std::size_t>(ptr[a]), p1 = static_cast<std::size_t>(ptr[e]);
            nb::object rebased = w[1][py_slice(a, e + 1)].attr("__sub__")(ptr[a]);
            out.append(nb::make_tuple(w[0][py_slice(a, e)], rebased, w[2][py_slice(p0, p1)], w[3][py_slice(p0, p1)],
                                      w[4].is_none() ? nb::none() : nb::object(w[4][py_slice(p0, p1)])));
        }
        a = e;
    }
    return nb::tuple(out);
}

nb::object merge_partials(nb::handle pieces, std::size_t n_tallied, int stat) {
    const Stat s = to_stat(stat);
    std::vector<Piece> held;
    std::vector<PartialView> views;
    for (nb::handle p : pieces) {
        if (p.is_none()) continue;
        held.push_back(read_piece(p, s));
    }
    for (const Piece& p : held) views.push_back(p.view());
    SparseTally merged;
    {
        nb::gil_scoped_release unlocked;
        merged = merge(s, n_tallied, views);
    }
    return piece_of(std::move(merged));
}

nb::object finish_partials(nb::handle pieces, std::int64_t g0, nb::handle sizes, std::size_t n_tallied, int stat,
                           bool narrow) {
    const Stat s = to_stat(stat);
    auto n = nb::cast<ConstVec<std::int64_t>>(sizes);
    ResultTable t = zero_table(s, n.shape(0), n_tallied);
    for (nb::handle p : pieces) {
        if (p.is_none()) continue;
        const Piece piece = read_piece(p, s);
        if (t.tally.n_groups * t.tally.width == 0) continue;
        nb::gil_scoped_release unlocked;
        add_partial(t.tally, piece.view(), g0);
    }
    if (t.tally.n_groups * t.tally.width > 0) {
        nb::gil_scoped_release unlocked;
        finish(t.tally, n.data());
    }
    // Rounded here, so that half as much travels back.
    return narrow ? t.value.attr("astype")("float32") : t.value;
}

nb::object tally_dask(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat) {
    nb::object dask = nb::module_::import_("dask");
    nb::object tasks = nb::module_::import_("orvalen._dask");
    nb::object delayed = dask.attr("delayed");
    nb::tuple shape = nb::cast<nb::tuple>(X.attr("shape"));
    if (nb::len(shape) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    nb::tuple chunks = nb::cast<nb::tuple>(X.attr("chunks"));
    const std::vector<std::size_t> rows = chunk_sizes(chunks[0]), widths = chunk_sizes(chunks[1]);
    std::size_t n_rows = 0, n_cols = 0;
    for (std::size_t r : rows) n_rows += r;
    for (std::size_t w : widths) n_cols += w;
    check_rows(n_rows, groups.n);
    check_cols(n_cols, sel.n_matrix_cols);

    const ColumnPlan plan = plan_columns(sel);
    const std::size_t G = groups.n_labels(), width = plan.width();
    const std::vector<std::int64_t> sizes = group_sizes(groups);
    nb::object client = active_client();
    const std::size_t budget = merge_bytes(client);
    // Blocks of groups whose result slice stays small next to a merge's inputs.
    const std::size_t slice_bytes = std::min(kSliceBytes, budget / 4);
    const std::size_t per_block = std::max<std::size_t>(1, slice_bytes / std::max<std::size_t>(1, width * 8));
    const std::size_t n_blocks = std::max<std::size_t>(1, (G + per_block - 1) / per_block);
    std::vector<std::int64_t> starts(n_blocks);
    for (std::size_t k = 0; k < n_blocks; ++k) starts[k] = static_cast<std::int64_t>(k * per_block);

    const bool narrow = stat == Stat::mean && holds_float32(X.attr("dtype"));
    if (G * width == 0 || rows.empty() || widths.empty()) {
        ResultTable t = zero_table(stat, G, width);
        return finish_table(t, sizes, plan, narrow);
    }

    // Labels, columns and bounds travel once, as their own graph keys.
    nb::object codes = delayed(groups.codes, nb::arg("pure") = true);
    nb::object slot = delayed(numpy_int_vector(plan.slot), nb::arg("pure") = true);
    nb::object bounds = delayed(numpy_int_vector(starts), nb::arg("pure") = true);
    nb::object chunk_task = delayed(tasks.attr("chunk_partials"), nb::arg("pure") = true, nb::arg("nout") = n_blocks);
    nb::object merge_task = delayed(tasks.attr("merge_partials"), nb::arg("pure") = true);
    nb::object finish_task = delayed(tasks.attr("finish_partials"), nb::arg("pure") = true);
    nb::object blocks = X.attr("to_delayed")();
    const std::size_t pair_bytes = stat == Stat::mean ? 20 : 12;

    // Per block of groups: its pieces and a bound on their bytes (the cells
    // of that block in the chunk, or the block's groups, times the chunk's
    // tallied columns). Chunks without a cell of a block give it nothing:
    // with cells sorted by group, a block hears only from the chunks it spans.
    std::vector<nb::list> inputs(n_blocks);
    std::vector<std::vector<std::size_t>> bound(n_blocks), dense_est(n_blocks);
    std::vector<std::size_t> cells(n_blocks);
    std::size_t r0 = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::fill(cells.begin(), cells.end(), 0);
        for (std::size_t r = r0; r < r0 + rows[i]; ++r)
            if (groups.data[r] >= 0) ++cells[static_cast<std::size_t>(groups.data[r]) / per_block];
        std::size_t c0 = 0;
        for (std::size_t j = 0; j < widths.size(); ++j) {
            std::size_t tallied_here = 0;
            for (std::size_t c = c0; c < c0 + widths[j]; ++c) tallied_here += plan.slot[c] >= 0;
            if (tallied_here > 0 && rows[i] > 0) {
                nb::object parts = chunk_task(blocks[nb::make_tuple(i, j)], codes, i, j, r0, r0 + rows[i], c0,
                                              widths[j], slot, plan.all, width, from_stat(stat), bounds);
                for (std::size_t k = 0; k < n_blocks; ++k) {
                    if (cells[k] == 0) continue;
                    const std::size_t in_block = std::min(per_block, G - k * per_block);
                    inputs[k].append(parts[nb::int_(k)]);
                    bound[k].push_back(std::min(cells[k], in_block) * tallied_here * pair_bytes);
                    dense_est[k].push_back(cells[k] * tallied_here * pair_bytes);
                }
            }
            c0 += widths[j];
        }
        r0 += rows[i];
    }

    // Bounds by groups x columns alone are far above what sparse chunks give;
    // when they would force merges, the stored values of the first chunk
    // (one small task) tell the density, and twice that bounds the rest.
    std::size_t dense_total = 0;
    for (const auto& b : bound)
        for (std::size_t v : b) dense_total += v;
    if (dense_total > budget &&
        nb::cast<bool>(nb::module_::import_("scipy.sparse").attr("issparse")(X.attr("_meta")))) {
        const double stored = nb::cast<double>(
            dask.attr("compute")(delayed(tasks.attr("stored_values"))(blocks[nb::make_tuple(0, 0)]))[nb::int_(0)]);
        const double density = std::min(1.0, 2.0 * stored / std::max(1.0, double(rows[0]) * double(widths[0])));
        for (std::size_t k = 0; k < n_blocks; ++k)
            for (std::size_t q = 0; q < bound[k].size(); ++q)
                bound[k][q] = std::min(bound[k][q], static_cast<std::size_t>(double(dense_est[k][q]) * density) + 1);
    }

    nb::list finals;
    for (std::size_t k = 0; k < n_blocks; ++k) {
        const std::size_t g0 = k * per_block, g1 = std::min(G, g0 + per_block);
        const std::size_t cap = (g1 - g0) * width * pair_bytes;
        nb::list level = inputs[k];
        std::vector<std::size_t> est = bound[k];
        std::size_t total = 0;
        for (std::size_t b : est) total += b;
        // Merge neighbours until the pieces of the block fit one task's inputs.
        while (nb::len(level) > 1 && total > budget) {
            nb::list next;
            std::vector<std::size_t> next_est;
            const std::size_t n = nb::len(level);
            std::size_t a = 0;
            while (a < n) {
                std::size_t e = a + 1, sum = est[a];
                while (e < n && (e - a < 2 || sum + est[e] <= budget)) sum += est[e++];
                next.append(e - a == 1 ? nb::object(level[a])
                                       : merge_task(nb::handle(level)[py_slice(a, e)], width, from_stat(stat)));
                next_est.push_back(std::min(sum, cap));
                a = e;
            }
            if (nb::len(next) == n) break;
            level = next;
            est = next_est;
            total = 0;
            for (std::size_t b : est) total += b;
        }
        nb::object block_sizes = numpy_int_vector(std::vector<std::int64_t>(sizes.begin() + g0, sizes.begin() + g1));
        finals.append(finish_task(level, static_cast<std::int64_t>(g0), block_sizes, width, from_stat(stat), narrow));
    }

    nb::object values = assemble(finals, client, starts, G, width, narrow);
    if (plan.expand.empty()) return values;
    return values.attr("take")(numpy_int_vector(plan.expand), nb::arg("axis") = 1);
}

void def_dask_tasks(nb::module_& m) {
    m.def("_chunk_partials", &chunk_partials, nb::arg("chunk"), nb::arg("codes"), nb::arg("i"), nb::arg("j"),
          nb::arg("r0"), nb::arg("r1"), nb::arg("c0"), nb::arg("width"), nb::arg("slot"), nb::arg("all_cols"),
          nb::arg("n_tallied"), nb::arg("stat"), nb::arg("starts"),
          "Sparse partial tallies of one chunk of X, cut into blocks of groups.");
    m.def("_merge_partials", &merge_partials, nb::arg("pieces"), nb::arg("n_tallied"), nb::arg("stat"),
          "Sum of partial tallies.");
    m.def("_finish_partials", &finish_partials, nb::arg("pieces"), nb::arg("g0"), nb::arg("sizes"),
          nb::arg("n_tallied"), nb::arg("stat"), nb::arg("narrow"),
          "One block of groups of the result, from its partial tallies.");
}

}  // namespace quend::glue
