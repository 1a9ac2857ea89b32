#include "common/dask_tally.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "common/arrays.hpp"
#include "common/backed_tally.hpp"
#include "common/errors.hpp"
#include "common/matrix_tally.hpp"
#include "common/progress.hpp"
#include "common/pyglue.hpp"
#include "common/thread_exit.hpp"
#include "core/dask_plan.hpp"
#include "core/tally_budget.hpp"

namespace quend::glue {

namespace {

[[noreturn]] void bad_job(const std::string& what) { raise(PyExc_ValueError, "malformed tally task: " + what); }

// The job description read back and checked: everything a kernel later indexes
// with is within its array. The small arrays are copied before they are
// checked, so that another thread changing the caller's arrays cannot move
// them out of range while a kernel runs; the codes, one per cell, are copied
// by each chunk task for its own rows.
struct Job {
    std::vector<Stat> stats;
    PartSet parts;
    bool several = false;  // "stats": the finish returns a tuple
    std::size_t width = 0, n_groups = 0;
    bool all = false, narrow = false;
    ConstVec<std::int64_t> codes;
    std::vector<std::int64_t> slot, row_starts, col_starts, starts, sizes;
    std::vector<std::uint8_t> dense;
    std::size_t n_blocks() const { return starts.size() - 1; }
};

template <typename T>
std::vector<T> owned(const ConstVec<T>& v) {
    return std::vector<T>(v.data(), v.data() + v.shape(0));
}

template <typename V>
V job_array(const nb::dict& d, const char* key) {
    if (!d.contains(key)) bad_job(std::string("no '") + key + "'");
    V out;
    if (!nb::try_cast(d[key], out)) bad_job(std::string("'") + key + "' is not a contiguous array of its type");
    return out;
}

// Ascending bounds from 0 to `end`.
void check_bounds(const std::vector<std::int64_t>& b, std::size_t end, const char* what) {
    if (b.empty() || b[0] != 0 || static_cast<std::size_t>(b.back()) != end)
        bad_job(std::string(what) + " must run from 0 to " + std::to_string(end));
    for (std::size_t k = 1; k < b.size(); ++k)
        if (b[k] < b[k - 1]) bad_job(std::string(what) + " must not decrease");
}

Job read_job(nb::handle obj) {
    if (!PyDict_Check(obj.ptr())) bad_job("the job is not a dict");
    nb::dict d = nb::borrow<nb::dict>(obj);
    Job s;
    s.several = d.contains("stats");
    if (!s.several && !d.contains("stat")) bad_job("no 'stats'");
    if (s.several && !PyList_Check(d["stats"].ptr()) && !PyTuple_Check(d["stats"].ptr()))
        bad_job("'stats' is not a list of names");
    try {
        if (s.several)
            for (nb::handle name : d["stats"]) s.stats.push_back(stat_named(nb::cast<std::string>(name)));
        else
            s.stats.push_back(stat_named(nb::cast<std::string>(d["stat"])));
    } catch (const std::invalid_argument& e) {
        bad_job(e.what());
    } catch (const nb::cast_error&) {
        bad_job("statistics are named by strings");
    }
    if (s.stats.empty()) bad_job("no statistic");
    s.parts = PartSet(s.stats);
    long long width = -1;
    if (!d.contains("width") || !nb::try_cast(d["width"], width) || width < 0 ||
        width > std::numeric_limits<std::int32_t>::max())
        bad_job("'width' must be a number of columns");
    s.width = static_cast<std::size_t>(width);
    s.all = d.contains("all") && truthy(d["all"]);
    s.narrow = d.contains("narrow") && truthy(d["narrow"]);
    s.codes = job_array<ConstVec<std::int64_t>>(d, "codes");
    s.slot = owned(job_array<ConstVec<std::int64_t>>(d, "slot"));
    s.row_starts = owned(job_array<ConstVec<std::int64_t>>(d, "row_starts"));
    s.col_starts = owned(job_array<ConstVec<std::int64_t>>(d, "col_starts"));
    s.starts = owned(job_array<ConstVec<std::int64_t>>(d, "starts"));
    s.sizes = owned(job_array<ConstVec<std::int64_t>>(d, "sizes"));
    s.dense = owned(job_array<ConstVec<std::uint8_t>>(d, "dense"));
    s.n_groups = s.sizes.size();
    check_bounds(s.row_starts, s.codes.shape(0), "row bounds");
    check_bounds(s.col_starts, s.slot.size(), "column bounds");
    check_bounds(s.starts, s.n_groups, "group bounds");
    if (s.dense.size() + 1 != s.row_starts.size()) bad_job("one dense flag per row chunk");
    if (s.all && s.slot.size() != s.width) bad_job("every column is tallied, yet the width differs");
    for (std::int64_t slot : s.slot)
        if (slot < -1 || slot >= static_cast<std::int64_t>(s.width)) bad_job("column slot out of range");
    return s;
}

// A piece: named numpy arrays of a partial.
nb::object piece_of(Partial&& p) {
    if (p.groups.empty()) return nb::none();
    const PartSet parts = p.parts;
    nb::dict d;
    d["groups"] = numpy_adopt(std::move(p.groups));
    if (!p.dense) {
        d["ptr"] = numpy_adopt(std::move(p.ptr));
        d["cols"] = numpy_adopt(std::move(p.cols));
    }
    for (std::size_t q = 0; q < parts.size(); ++q) d[parts.name(q)] = numpy_adopt(std::move(p.part[q]));
    return std::move(d);
}

// Groups [a, e) of a piece, as views (offsets rebased on a small copy).
nb::object piece_slice(const nb::dict& whole, const Partial& shape, std::size_t a, std::size_t e) {
    if (a == 0 && e == shape.groups.size()) return whole;
    const PartSet parts = shape.parts;
    nb::dict d;
    d["groups"] = whole["groups"][py_slice(a, e)];
    std::size_t p0 = a * shape.width, p1 = e * shape.width;
    if (!shape.dense) {
        p0 = static_cast<std::size_t>(shape.ptr[a]);
        p1 = static_cast<std::size_t>(shape.ptr[e]);
        d["ptr"] = whole["ptr"][py_slice(a, e + 1)].attr("__sub__")(shape.ptr[a]);
        d["cols"] = whole["cols"][py_slice(p0, p1)];
    }
    for (std::size_t q = 0; q < parts.size(); ++q) d[parts.name(q)] = whole[parts.name(q)][py_slice(p0, p1)];
    return std::move(d);
}

// A piece read back: its arrays' lengths checked here, its contents by the
// kernel before it walks them. What the kernel indexes with (groups, offsets,
// columns) is copied first, for the reason the job's arrays are.
struct HeldPiece {
    std::vector<std::int64_t> groups, ptr;
    std::vector<std::int32_t> cols;
    ConstVec<double> part[kMaxParts];
    PartialView view;
};

HeldPiece read_piece(nb::handle obj, PartSet parts, std::size_t width) {
    if (!PyDict_Check(obj.ptr())) raise(PyExc_ValueError, "malformed partial tally: not a dict");
    nb::dict d = nb::borrow<nb::dict>(obj);
    auto array = [&](const char* key, auto& out) {
        if (!d.contains(key) || !nb::try_cast(d[key], out))
            raise(PyExc_ValueError, std::string("malformed partial tally: no array '") + key + "'");
    };
    HeldPiece h;
    PartialView& v = h.view;
    auto copied = [&](const char* key, auto& out) {
        ConstVec<typename std::remove_reference_t<decltype(out)>::value_type> view;
        array(key, view);
        out = owned(view);
    };
    copied("groups", h.groups);
    v.parts = parts;
    v.width = width;
    v.n_present = h.groups.size();
    v.groups = h.groups.data();
    v.dense = !d.contains("cols");
    std::size_t n_values = v.n_present * width;
    if (!v.dense) {
        copied("ptr", h.ptr);
        copied("cols", h.cols);
        n_values = h.cols.size();
        if (h.ptr.size() != v.n_present + 1 || h.ptr[0] != 0 ||
            static_cast<std::size_t>(h.ptr[v.n_present]) != n_values)
            raise(PyExc_ValueError, "malformed partial tally: offsets do not span the pairs");
        v.ptr = h.ptr.data();
        v.cols = h.cols.data();
    }
    for (std::size_t q = 0; q < parts.size(); ++q) {
        array(parts.name(q), h.part[q]);
        if (h.part[q].shape(0) != n_values)
            raise(PyExc_ValueError, std::string("malformed partial tally: '") + parts.name(q) + "' has " +
                                        std::to_string(h.part[q].shape(0)) + " values, expected " +
                                        std::to_string(n_values));
        v.part[q] = h.part[q].data();
    }
    return h;
}

std::vector<HeldPiece> read_pieces(nb::handle pieces, PartSet parts, std::size_t width) {
    std::vector<HeldPiece> held;
    for (nb::handle p : pieces)
        if (!p.is_none()) held.push_back(read_piece(p, parts, width));
    return held;
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

std::vector<std::int64_t> bounds_of(const std::vector<std::size_t>& sizes) {
    std::vector<std::int64_t> out{0};
    for (std::size_t s : sizes) out.push_back(out.back() + static_cast<std::int64_t>(s));
    return out;
}

// The smallest worker's memory limit, 0 when no cluster tells it.
std::size_t worker_memory(const nb::object& client) {
    if (client.is_none()) return 0;
    double limit = 0;
    nb::dict workers = nb::cast<nb::dict>(client.attr("scheduler_info")()["workers"]);
    for (auto [addr, info] : workers) {
        nb::object m = nb::cast<nb::dict>(info).attr("get")("memory_limit");
        double v = 0;
        if (!m.is_none() && nb::try_cast(m, v) && v > 0 && (limit == 0 || v < limit)) limit = v;
    }
    return static_cast<std::size_t>(limit);
}

// Where block k's finished rows go in the result: a slice when its groups
// are consecutive, else their positions.
nb::object rows_of_block(const DaskPlan& plan, std::size_t k) {
    const DaskBlock& b = plan.blocks[k];
    const std::int64_t first = plan.group_at[static_cast<std::size_t>(b.g0)];
    bool consecutive = true;
    for (std::int64_t p = b.g0; consecutive && p < b.g1; ++p)
        consecutive = plan.group_at[static_cast<std::size_t>(p)] == first + (p - b.g0);
    if (consecutive) return py_slice(static_cast<std::size_t>(first), static_cast<std::size_t>(first + (b.g1 - b.g0)));
    return numpy_int_vector(std::vector<std::int64_t>(plan.group_at.begin() + b.g0, plan.group_at.begin() + b.g1));
}

// The finished slices (a tuple per block, one slice per statistic) put into
// the tables as they arrive. On a cluster each is copied in and released;
// without one, each block's slices are released once copied, so the caller
// holds about the tables and what is left to copy.
std::vector<nb::object> assemble(const nb::list& finals, const nb::object& client, const DaskPlan& plan,
                                 std::size_t n_groups, std::size_t width, const std::vector<Stat>& stats, bool narrow,
                                 const std::string& label) {
    std::vector<nb::object> out;
    for (Stat s : stats)
        out.push_back(
            numpy_empty(nb::make_tuple(n_groups, width), narrow && recipe_info(s).narrows ? "float32" : "float64"));
    const auto put = [&](std::size_t k, nb::handle slices) {
        nb::object rows = rows_of_block(plan, k);
        for (std::size_t s = 0; s < out.size(); ++s) out[s][rows] = slices[s];
    };
    DaskBar bar(label);
    if (!client.is_none()) {
        nb::object distributed = nb::module_::import_("distributed");
        nb::list futures = nb::cast<nb::list>(client.attr("compute")(finals));
        bar.wait(futures);
        nb::dict block_of;
        for (std::size_t k = 0; k < nb::len(futures); ++k) block_of[futures[k].attr("key")] = nb::int_(k);
        nb::object arriving = distributed.attr("as_completed")(futures, nb::arg("with_results") = true);
        futures = nb::list();  // as_completed holds each until it is copied
        for (nb::handle done : arriving) {
            nb::tuple pair = nb::cast<nb::tuple>(done);
            put(nb::cast<std::size_t>(block_of[pair[0].attr("key")]), pair[1]);
            pair[0].attr("release")();
        }
        return out;
    }
    nb::object dask = nb::module_::import_("dask");
    nb::list slices = nb::list(bar.around([&] { return dask.attr("compute")(*finals); }));
    for (std::size_t k = 0; k < nb::len(slices); ++k) {
        put(k, slices[k]);
        slices[k] = nb::none();
    }
    return out;
}

// The task functions and key names of one tally graph. Keys are tuples of
// a name and the plan's indices, as Dask's own are.
struct TallyKeys {
    nb::object chunk_fn, merge_fn, finish_fn, getitem, job;
    nb::str chunk, piece, merge, finish;
    std::vector<nb::list> x_keys;  // X's chunk keys, by row chunk
};

// Block k's tasks written into `layer`: its pieces of the chunk tasks (each
// chunk task written once), its merge tree, its finish. Returns the
// finish's key.
nb::tuple write_block(nb::dict& layer, const TallyKeys& t, const DaskBlock& b, std::size_t k) {
    nb::list level;
    for (const DaskPiece& p : b.pieces) {
        nb::tuple chunk = nb::make_tuple(t.chunk, p.i, p.j);
        if (!layer.contains(chunk)) layer[chunk] = nb::make_tuple(t.chunk_fn, t.x_keys[p.i][p.j], t.job, p.i, p.j);
        nb::tuple piece = nb::make_tuple(t.piece, p.i, p.j, k);
        layer[piece] = nb::make_tuple(t.getitem, chunk, k);
        level.append(piece);
    }
    for (std::size_t l = 0; l < b.merges.size(); ++l) {
        nb::list next;
        for (std::size_t m = 0; m < b.merges[l].size(); ++m) {
            const auto [a, e] = b.merges[l][m];
            if (e - a == 1) {
                next.append(level[a]);
                continue;
            }
            nb::tuple merged = nb::make_tuple(t.merge, k, l, m);
            layer[merged] = nb::make_tuple(t.merge_fn, nb::object(nb::handle(level)[py_slice(a, e)]), t.job);
            next.append(merged);
        }
        level = next;
    }
    nb::tuple finished = nb::make_tuple(t.finish, k);
    layer[finished] = nb::make_tuple(t.finish_fn, level, t.job, k);
    return finished;
}

// The tally as one graph layer over X's chunks, written in one pass over
// the plan: a delayed call per chunk culls the whole graph each time, which
// is quadratic in the chunks. Tasks are (function, argument...) tuples,
// which every Dask version runs. One Delayed per block: its finished slices.
nb::list tally_graph(nb::handle X, const nb::object& job, const DaskPlan& plan) {
    nb::object tasks = nb::module_::import_("orvalen._dask");
    TallyKeys t;
    t.chunk_fn = tasks.attr("tally_chunk");
    t.merge_fn = tasks.attr("tally_merge");
    t.finish_fn = tasks.attr("tally_finish");
    t.getitem = nb::module_::import_("operator").attr("getitem");
    t.job = job.attr("key");
    const std::string token =
        nb::cast<std::string>(nb::module_::import_("dask.base").attr("tokenize")(X.attr("name"), t.job));
    const auto named = [&](const char* kind) { return nb::str((std::string(kind) + "-" + token).c_str()); };
    t.chunk = named("tally_chunk");
    t.piece = named("getitem");
    t.merge = named("tally_merge");
    t.finish = named("tally_finish");
    for (nb::handle row : X.attr("__dask_keys__")()) t.x_keys.push_back(nb::cast<nb::list>(row));

    nb::dict layer;
    nb::list final_keys;
    for (std::size_t k = 0; k < plan.blocks.size(); ++k) final_keys.append(write_block(layer, t, plan.blocks[k], k));
    const nb::str layer_name = named("tally");
    nb::object graph =
        nb::module_::import_("dask.highlevelgraph")
            .attr("HighLevelGraph")
            .attr("from_collections")(layer_name, layer, nb::arg("dependencies") = nb::make_tuple(X, job));
    nb::object delayed_type = nb::module_::import_("dask.delayed").attr("Delayed");
    nb::list finals;
    for (nb::handle key : final_keys) finals.append(delayed_type(key, graph, nb::arg("layer") = layer_name));
    return finals;
}

}  // namespace

nb::object active_client() {
    nb::object mod = nb::module_::import_("sys").attr("modules").attr("get")("distributed");
    if (mod.is_none()) return nb::none();
    return on_ordinary_error([&]() -> nb::object { return mod.attr("default_client")(); },
                             [](nb::python_error&) -> nb::object { return nb::none(); });
}

std::pair<std::size_t, std::size_t> dask_shape(nb::handle X) {
    nb::tuple chunks = nb::cast<nb::tuple>(X.attr("chunks"));
    if (nb::len(chunks) != 2) raise(PyExc_ValueError, "adata.X must be a two-dimensional matrix");
    std::size_t n_rows = 0, n_cols = 0;
    for (std::size_t r : chunk_sizes(chunks[0])) n_rows += r;
    for (std::size_t w : chunk_sizes(chunks[1])) n_cols += w;
    return {n_rows, n_cols};
}

nb::object tally_chunk(nb::handle chunk, nb::handle job_obj, std::size_t i, std::size_t j) {
    const Job s = read_job(job_obj);
    if (i + 1 >= s.row_starts.size() || j + 1 >= s.col_starts.size())
        bad_job("chunk (" + std::to_string(i) + ", " + std::to_string(j) + ") is outside the chunk grid");
    const auto r0 = static_cast<std::size_t>(s.row_starts[i]), r1 = static_cast<std::size_t>(s.row_starts[i + 1]);
    const auto c0 = static_cast<std::size_t>(s.col_starts[j]), c1 = static_cast<std::size_t>(s.col_starts[j + 1]);
    const std::vector<std::int64_t> codes(s.codes.data() + r0, s.codes.data() + r1);
    const HeldBlock b = read_block(chunk);
    if (b.view.n_rows != r1 - r0 || b.view.n_cols != c1 - c0)
        raise(PyExc_ValueError, "chunk (" + std::to_string(i) + ", " + std::to_string(j) + ") of X has shape (" +
                                    std::to_string(b.view.n_rows) + ", " + std::to_string(b.view.n_cols) +
                                    ") but X.chunks declares (" + std::to_string(r1 - r0) + ", " +
                                    std::to_string(c1 - c0) + ")");
    BlockColumns cols;
    cols.slot = s.slot.data() + c0;
    cols.identity = s.all && c0 == 0;
    cols.n_block_cols = c1 - c0;
    Partial part = partial_of(b, s.parts, s.width, codes.data(), s.n_groups, cols, s.dense[i] != 0);

    std::vector<std::int64_t> starts(s.starts.data(), s.starts.data() + s.n_blocks());
    const std::vector<std::size_t> cut = cut_points(part.view(), starts);
    Partial shape;
    shape.parts = part.parts;
    shape.dense = part.dense;
    shape.width = part.width;
    shape.groups.resize(part.groups.size());
    shape.ptr = part.ptr;
    nb::object whole = piece_of(std::move(part));
    nb::list out;
    for (std::size_t k = 0; k < s.n_blocks(); ++k) {
        if (cut[k + 1] == cut[k])
            out.append(nb::none());
        else
            out.append(piece_slice(nb::borrow<nb::dict>(whole), shape, cut[k], cut[k + 1]));
    }
    return nb::tuple(out);
}

nb::object tally_merge(nb::handle pieces, nb::handle job_obj) {
    const Job s = read_job(job_obj);
    const std::vector<HeldPiece> held = read_pieces(pieces, s.parts, s.width);
    std::vector<PartialView> views;
    for (const HeldPiece& h : held) views.push_back(h.view);
    Partial merged;
    in_kernel([&] { merged = merge(s.parts, s.width, views); });
    return piece_of(std::move(merged));
}

nb::object tally_finish(nb::handle pieces, nb::handle job_obj, std::size_t k) {
    const Job s = read_job(job_obj);
    if (k >= s.n_blocks()) bad_job("block " + std::to_string(k) + " is outside the group bounds");
    const std::int64_t g0 = s.starts[k], g1 = s.starts[k + 1];
    const std::vector<HeldPiece> held = read_pieces(pieces, s.parts, s.width);
    const auto n_rows = static_cast<std::size_t>(g1 - g0);
    TallyTable table(s.parts, n_rows, s.width);
    std::vector<FinishedTable> done;
    in_kernel([&] {
        for (const HeldPiece& h : held) add_partial(table.tally(), h.view, g0);
        done = table.finish({s.stats, s.narrow}, s.sizes.data() + g0);
    });
    // Narrowed here, so that half as much travels back.
    nb::list out;
    for (FinishedTable& t : done) out.append(adopt_table(std::move(t), n_rows, s.width));
    if (!s.several) return out[0];
    return nb::tuple(out);
}

std::vector<nb::object> dask_tables(nb::handle X, const LabelCodes& groups, const ColumnPlan& cplan,
                                    const TallyRequest& req, const std::string& label) {
    const std::vector<Stat>& stats = req.stats;
    const bool narrow = req.narrow;
    const std::vector<std::int64_t> sizes = group_sizes(groups);
    nb::tuple chunks = nb::cast<nb::tuple>(X.attr("chunks"));
    const std::vector<std::size_t> rows = chunk_sizes(chunks[0]), widths = chunk_sizes(chunks[1]);
    const std::size_t G = groups.n_labels(), width = cplan.width();
    if (G * width == 0 || rows.empty() || widths.empty()) {
        TallyTable t(PartSet(stats), G, width);
        std::vector<nb::object> out;
        for (FinishedTable& f : t.finish(req, sizes.data())) out.push_back(adopt_table(std::move(f), G, width));
        return out;
    }
    nb::object client = active_client();

    DaskPlanInput in;
    in.rows = rows;
    const std::vector<std::int64_t> col_starts = bounds_of(widths);
    for (std::size_t j = 0; j < widths.size(); ++j)
        in.tallied.push_back(static_cast<std::size_t>(std::count_if(cplan.slot.begin() + col_starts[j],
                                                                    cplan.slot.begin() + col_starts[j + 1],
                                                                    [](std::int64_t s) { return s >= 0; })));
    in.codes = groups.data;
    in.n_groups = G;
    in.width = width;
    in.parts = PartSet(stats);
    const TallyBudget budget = tally_budget(block_bytes(), worker_memory(client));
    in.merge_bytes = budget.merge_bytes;
    in.slice_bytes = budget.slice_bytes;
    DaskPlan plan;
    in_kernel([&] { plan = plan_dask(in); });
    // The job description: groups in the plan's layout.
    std::vector<std::int64_t> laid_codes(groups.n), laid_sizes(G), starts = plan.starts;
    for (std::size_t r = 0; r < groups.n; ++r)
        laid_codes[r] = groups.data[r] < 0 ? -1 : plan.laid_out[static_cast<std::size_t>(groups.data[r])];
    for (std::size_t p = 0; p < G; ++p) laid_sizes[p] = sizes[static_cast<std::size_t>(plan.group_at[p])];
    starts.push_back(static_cast<std::int64_t>(G));
    std::vector<std::uint8_t> dense(plan.dense.begin(), plan.dense.end());
    nb::dict job_dict;
    nb::list names;
    for (Stat s : stats) names.append(recipe_info(s).name);
    job_dict["stats"] = names;
    job_dict["width"] = width;
    job_dict["all"] = cplan.all;
    job_dict["narrow"] = narrow;
    job_dict["codes"] = numpy_adopt(std::move(laid_codes));
    job_dict["slot"] = numpy_int_vector(cplan.slot);
    job_dict["row_starts"] = numpy_int_vector(bounds_of(rows));
    job_dict["col_starts"] = numpy_int_vector(col_starts);
    job_dict["starts"] = numpy_int_vector(starts);
    job_dict["sizes"] = numpy_adopt(std::move(laid_sizes));
    job_dict["dense"] = numpy_adopt(std::move(dense));
    // One graph key, sent once to each worker that needs it.
    nb::object job = nb::module_::import_("dask").attr("delayed")(job_dict, nb::arg("traverse") = false);

    const nb::list finals = tally_graph(X, job, plan);
    return assemble(finals, client, plan, G, width, stats, narrow, label);
}

void def_dask_tasks(nb::module_& m) {
    m.def("_tally_chunk", parking(&tally_chunk), nb::arg("chunk"), nb::arg("job"), nb::arg("i"), nb::arg("j"),
          "Partial tallies of chunk (i, j) of X, cut into blocks of groups.");
    m.def("_tally_merge", parking(&tally_merge), nb::arg("pieces"), nb::arg("job"), "Sum of partial tallies.");
    m.def("_tally_finish", parking(&tally_finish), nb::arg("pieces"), nb::arg("job"), nb::arg("k"),
          "Block k of the result, from its partial tallies.");
}

}  // namespace quend::glue
