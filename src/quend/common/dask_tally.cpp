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
#include "common/tally_piece.hpp"
#include "core/dask_plan.hpp"
#include "core/dask_task.hpp"
#include "core/tally_budget.hpp"

namespace quend::glue {

namespace {

[[noreturn]] void bad_job(const std::string& what) { raise(PyExc_ValueError, "malformed tally task: " + what); }

// The job's arrays, by key: written and read from this one list.
using JobArray = std::vector<std::int64_t> DaskJob::*;
constexpr std::pair<const char*, JobArray> kJobArrays[] = {
    {"laid_out", &DaskJob::laid_out},     {"slot", &DaskJob::slot},     {"row_starts", &DaskJob::row_starts},
    {"col_starts", &DaskJob::col_starts}, {"starts", &DaskJob::starts}, {"task_starts", &DaskJob::task_starts},
    {"sizes", &DaskJob::sizes},           {"dense", &DaskJob::dense},   {"owner", &DaskJob::owner},
};

// The job as one picklable dict; `codes` is the cells' group codes array.
nb::dict job_dict(const DaskJob& job, const nb::object& codes) {
    nb::dict d;
    nb::list names;
    for (Stat s : job.stats) names.append(recipe_info(s).name);
    d["stats"] = names;
    d["width"] = job.width;
    d["all"] = job.all;
    d["narrow"] = job.narrow;
    d["codes"] = codes;
    for (const auto& [name, member] : kJobArrays) d[name] = numpy_int_vector(job.*member);
    return d;
}

std::vector<Stat> job_stats(const nb::dict& d) {
    if (!d.contains("stats") || (!PyList_Check(d["stats"].ptr()) && !PyTuple_Check(d["stats"].ptr())))
        bad_job("'stats' is not a list of names");
    std::vector<Stat> stats;
    try {
        for (nb::handle name : d["stats"]) stats.push_back(stat_named(nb::cast<std::string>(name)));
    } catch (const std::invalid_argument& e) {
        bad_job(e.what());
    } catch (const nb::cast_error&) {
        bad_job("statistics are named by strings");
    }
    return stats;
}

// The job read back and checked: everything a kernel later indexes with is
// within its array. The small arrays are copied before they are checked,
// so that another thread changing the caller's arrays cannot move them out
// of range while a kernel runs; the codes, one per cell, are read once by
// each chunk task for its own rows and checked there.
DaskJob read_job(nb::handle obj) {
    if (!PyDict_Check(obj.ptr())) bad_job("the job is not a dict");
    nb::dict d = nb::borrow<nb::dict>(obj);
    DaskJob job;
    job.stats = job_stats(d);
    job.parts = PartSet(job.stats);
    long long width = -1;
    if (!d.contains("width") || !nb::try_cast(d["width"], width) || width < 0)
        bad_job("'width' must be a number of columns");
    job.width = static_cast<std::size_t>(width);
    job.all = d.contains("all") && truthy(d["all"]);
    job.narrow = d.contains("narrow") && truthy(d["narrow"]);
    ConstVec<std::int64_t> codes;
    if (!d.contains("codes") || !nb::try_cast(d["codes"], codes)) bad_job("'codes' is not a contiguous int64 array");
    job.codes = codes.data();
    job.n_cells = codes.shape(0);
    for (const auto& [name, member] : kJobArrays) {
        ConstVec<std::int64_t> v;
        if (!d.contains(name) || !nb::try_cast(d[name], v))
            bad_job(std::string("'") + name + "' is not a contiguous int64 array");
        job.*member = std::vector<std::int64_t>(v.data(), v.data() + v.shape(0));
    }
    job.n_groups = job.sizes.size();
    in_kernel([&] { job.check(); });
    return job;
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

// What the plan knows before anything runs: X's chunks, the tallied
// columns of each column chunk, the groups.
DaskPlanInput plan_input(const std::vector<std::size_t>& rows, const std::vector<std::size_t>& widths,
                         const LabelCodes& groups, const ColumnPlan& cplan, PartSet parts, const TallyBudget& budget) {
    DaskPlanInput in;
    in.rows = rows;
    const std::vector<std::int64_t> col_starts = bounds_of(widths);
    for (std::size_t j = 0; j < widths.size(); ++j)
        in.tallied.push_back(static_cast<std::size_t>(std::count_if(cplan.slot.begin() + col_starts[j],
                                                                    cplan.slot.begin() + col_starts[j + 1],
                                                                    [](std::int64_t s) { return s >= 0; })));
    in.n_cols = cplan.slot.size();
    in.codes = groups.data;
    in.n_groups = groups.n_labels();
    in.width = cplan.width();
    in.parts = parts;
    in.merge_bytes = budget.merge_bytes;
    in.slice_bytes = budget.slice_bytes;
    return in;
}

// The job of a plan: groups stay numbered as the caller's codes, the
// layout travels as a map, so the client never rewrites a code per cell.
DaskJob job_of(const DaskPlan& plan, const DaskPlanInput& in, const ColumnPlan& cplan,
               const std::vector<std::size_t>& widths, const std::vector<Stat>& stats, bool narrow) {
    DaskJob job;
    job.stats = stats;
    job.parts = in.parts;
    job.width = in.width;
    job.n_groups = in.n_groups;
    job.all = cplan.all;
    job.narrow = narrow;
    job.laid_out = plan.laid_out;
    job.slot = cplan.slot;
    job.row_starts = bounds_of(in.rows);
    job.col_starts = bounds_of(widths);
    job.task_starts = plan.task_starts;
    job.starts = plan.starts;
    job.starts.push_back(static_cast<std::int64_t>(in.n_groups));
    job.sizes = plan.sizes;
    job.dense.assign(plan.dense.begin(), plan.dense.end());
    for (const DaskBlock& b : plan.blocks)
        job.owner.push_back(b.direct() ? static_cast<std::int64_t>(b.steps[0][0].t * widths.size() + b.steps[0][0].j)
                                       : -1);
    return job;
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
    nb::object chunk_fn, fold_fn, getitem, job;
    nb::str chunk, piece, fold;
    std::vector<nb::list> x_keys;  // X's chunk keys, by row chunk
    std::vector<std::int64_t> task_starts;
};

// Task t's chunk task of column chunk j, written once; its piece of block k.
nb::tuple piece_task(nb::dict& layer, const TallyKeys& t, const DaskPiece& p, std::size_t k) {
    nb::tuple chunk = nb::make_tuple(t.chunk, p.t, p.j);
    if (!layer.contains(chunk)) {
        nb::list reads;
        for (auto i = t.task_starts[p.t]; i < t.task_starts[p.t + 1]; ++i)
            reads.append(t.x_keys[static_cast<std::size_t>(i)][p.j]);
        layer[chunk] = nb::make_tuple(t.chunk_fn, reads, t.job, p.t, p.j);
    }
    nb::tuple piece = nb::make_tuple(t.piece, p.t, p.j, k);
    layer[piece] = nb::make_tuple(t.getitem, chunk, k);
    return piece;
}

// Block k's fold chain written into `layer`. Returns its last step's key.
nb::tuple write_chain(nb::dict& layer, const TallyKeys& t, const DaskBlock& b, std::size_t k) {
    if (b.direct()) return piece_task(layer, t, b.steps[0][0], k);
    nb::object slab = nb::none();
    for (std::size_t s = 0; s < b.steps.size(); ++s) {
        nb::list pieces;
        for (const DaskPiece& p : b.steps[s]) pieces.append(piece_task(layer, t, p, k));
        nb::tuple step = nb::make_tuple(t.fold, k, s);
        layer[step] = nb::make_tuple(t.fold_fn, slab, pieces, t.job, k, s + 1 == b.steps.size());
        slab = step;
    }
    return nb::borrow<nb::tuple>(slab);
}

// The tally as one graph layer over X's chunks, written in one pass over
// the plan: a delayed call per chunk culls the whole graph each time, which
// is quadratic in the chunks. Tasks are (function, argument...) tuples,
// which every Dask version runs. One Delayed per block: its finished slices.
nb::list tally_graph(nb::handle X, const nb::object& job, const DaskPlan& plan) {
    nb::object tasks = nb::module_::import_("orvalen._dask");
    TallyKeys t;
    t.chunk_fn = tasks.attr("tally_chunk");
    t.fold_fn = tasks.attr("tally_fold");
    t.getitem = nb::module_::import_("operator").attr("getitem");
    t.job = job.attr("key");
    t.task_starts = plan.task_starts;
    const std::string token =
        nb::cast<std::string>(nb::module_::import_("dask.base").attr("tokenize")(X.attr("name"), t.job));
    const auto named = [&](const char* kind) { return nb::str((std::string(kind) + "-" + token).c_str()); };
    t.chunk = named("tally_chunk");
    t.piece = named("getitem");
    t.fold = named("tally_fold");
    for (nb::handle row : X.attr("__dask_keys__")()) t.x_keys.push_back(nb::cast<nb::list>(row));

    nb::dict layer;
    nb::list final_keys;
    for (std::size_t k = 0; k < plan.blocks.size(); ++k) final_keys.append(write_chain(layer, t, plan.blocks[k], k));
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

std::vector<nb::object> empty_tables(const std::vector<Stat>& stats, const std::vector<std::int64_t>& sizes,
                                     std::size_t n_groups, std::size_t width, bool narrow) {
    TallyTable t(PartSet(stats), n_groups, width);
    std::vector<nb::object> out;
    for (FinishedTable& f : t.finish({stats, narrow}, sizes.data()))
        out.push_back(adopt_table(std::move(f), n_groups, width));
    return out;
}

// The finished slices of a slab: one table per statistic, narrowed here so
// that half as much travels back. One statistic is finished in place into
// the slab's first part (each pair is read before it is written) and
// narrowed forward in place, so no new pages are touched; the result is a
// view of the slab's buffer.
nb::object finished(const DenseTally& slab, const nb::object& flat, const DaskJob& job, std::size_t k) {
    const std::int64_t* sizes = job.sizes.data() + job.starts[k];
    const std::size_t n = slab.n_groups * slab.width;
    const nb::tuple shape = nb::make_tuple(slab.n_groups, slab.width);
    if (job.stats.size() == 1) {
        const Stat s = job.stats[0];
        double* values = slab.part[0];
        const bool narrow = job.narrow && recipe_info(s).narrows;
        in_kernel([&] {
            finish(slab, s, sizes, values);
            if (narrow) narrow_forward(values, n);
        });
        if (!narrow) return nb::make_tuple(flat[py_slice(0, n)].attr("reshape")(shape));
        const nb::object f32 = flat[py_slice(0, (n + 1) / 2)].attr("view")("float32");
        return nb::make_tuple(f32[py_slice(0, n)].attr("reshape")(shape));
    }
    nb::list out;
    for (Stat s : job.stats) {
        if (job.narrow && recipe_info(s).narrows) {
            NewArray<float> a = new_matrix<float>(slab.n_groups, slab.width);
            in_kernel([&] { finish(slab, s, sizes, a.data); });
            out.append(a.array);
        } else {
            NewArray<double> a = new_matrix<double>(slab.n_groups, slab.width);
            in_kernel([&] { finish(slab, s, sizes, a.data); });
            out.append(a.array);
        }
    }
    return nb::tuple(out);
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

nb::object tally_chunk(nb::handle chunks, nb::handle job_obj, std::size_t t, std::size_t j) {
    const DaskJob job = read_job(job_obj);
    std::vector<HeldBlock> held;
    for (nb::handle c : chunks) held.push_back(read_block(c));
    std::vector<BlockView> views;
    for (const HeldBlock& h : held) views.push_back(h.view);
    std::vector<Piece> pieces;
    in_kernel([&] { pieces = chunk_pieces(job, t, j, views); });
    nb::list out;
    for (std::size_t k = 0; k < pieces.size(); ++k)
        out.append(
            encode_piece(std::move(pieces[k]), static_cast<std::size_t>(job.starts[k + 1] - job.starts[k]), job.width));
    return nb::tuple(out);
}

nb::object tally_fold(nb::handle slab, nb::handle pieces, nb::handle job_obj, std::size_t k, bool last) {
    const DaskJob job = read_job(job_obj);
    if (k >= job.n_blocks()) bad_job("block " + std::to_string(k) + " is outside the group bounds");
    const auto n_rows = static_cast<std::size_t>(job.starts[k + 1] - job.starts[k]);
    const std::size_t n_parts = job.parts.size();
    // The chain's first step makes the slab (zeroed pages cost nothing until
    // written); each later step is its one reader, so it adds in place.
    // A slab that arrived read-only from another worker is copied once.
    nb::object table = slab.is_none() ? numpy().attr("zeros")(nb::make_tuple(n_parts, n_rows, job.width))
                       : truthy(slab.attr("flags").attr("writeable")) ? nb::borrow(slab)
                                                                      : slab.attr("copy")();
    nb::object flat = table.attr("reshape")(-1);
    MutVec<double> values;
    if (!nb::try_cast(flat, values, false) || values.shape(0) != n_parts * n_rows * job.width)
        bad_job("the slab is not block " + std::to_string(k) + "'s");
    DenseTally tally;
    tally.parts = job.parts;
    tally.n_groups = n_rows;
    tally.width = job.width;
    for (std::size_t q = 0; q < n_parts; ++q) {
        tally.part[q] = values.data() + q * n_rows * job.width;
        tally.touched[q] = true;
    }
    std::vector<HeldPiece> held;
    for (nb::handle p : pieces)
        if (!p.is_none()) held.push_back(decode_piece(p, job.parts));
    std::vector<PieceView> views;
    for (const HeldPiece& h : held) views.push_back(h.view);
    in_kernel([&] { fold(tally, job, k, views); });
    if (!last) return table;
    return finished(tally, flat, job, k);
}

std::vector<nb::object> dask_tables(nb::handle X, const LabelCodes& groups, const ColumnPlan& cplan,
                                    const TallyRequest& req, const std::string& label) {
    const std::vector<Stat>& stats = req.stats;
    const bool narrow = req.narrow;
    nb::tuple chunks = nb::cast<nb::tuple>(X.attr("chunks"));
    const std::vector<std::size_t> rows = chunk_sizes(chunks[0]), widths = chunk_sizes(chunks[1]);
    const std::size_t G = groups.n_labels(), width = cplan.width();
    if (G * width == 0 || rows.empty() || widths.empty())
        return empty_tables(stats, group_sizes(groups), G, width, narrow);
    nb::object client = active_client();
    const DaskPlanInput in =
        plan_input(rows, widths, groups, cplan, PartSet(stats), tally_budget(block_bytes(), worker_memory(client)));
    DaskPlan plan;
    in_kernel([&] { plan = plan_dask(in); });
    const DaskJob job = job_of(plan, in, cplan, widths, stats, narrow);
    // One graph key, sent once to each worker that needs it.
    nb::object delayed_job =
        nb::module_::import_("dask").attr("delayed")(job_dict(job, groups.codes), nb::arg("traverse") = false);
    const nb::list finals = tally_graph(X, delayed_job, plan);
    return assemble(finals, client, plan, G, width, stats, narrow, label);
}

void def_dask_tasks(nb::module_& m) {
    m.def("_tally_chunk", parking(&tally_chunk), nb::arg("chunks"), nb::arg("job"), nb::arg("t"), nb::arg("j"),
          "Pieces of task t's row chunks of column chunk j, one per block of groups.");
    m.def("_tally_fold", parking(&tally_fold), nb::arg("slab").none(), nb::arg("pieces"), nb::arg("job"), nb::arg("k"),
          nb::arg("last"), "Pieces added into block k's slab; the finished block when last.");
}

}  // namespace quend::glue
