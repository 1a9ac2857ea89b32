// simple_DEG (one-vs-rest / one-vs-reference over all groups) and the
// gene-by-comparison summary matrix.
#include "common/nb.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/label_codes.hpp"
#include "common/pyglue.hpp"
#include "core/deg_pair.hpp"
#include "core/group_moments.hpp"
#include "core/welch.hpp"
#include "deg/deg_args.hpp"
#include "common/binding.hpp"
#include "deg/multigroup_doc.hpp"
#include "deg/multigroup.hpp"
#include "deg/pairwise.hpp"

namespace quend::deg {

namespace {

using glue::ns;
using glue::truthy;

nb::str comparison_key(const nb::handle& group) { return glue::concat({nb::str(group), nb::str("_vs_others")}); }

// Sample positions of every group, compared as the relabelling compares
// them (labels == group). False when the labels do not line up with the
// table or a sample falls in two groups: then only the
// comparison-by-comparison route reproduces what happens.
bool partition(const nb::object& labels, const nb::list& groups, std::size_t n_samples, glue::GroupPositions& out) {
    if (nb::len(labels) != n_samples) return false;
    out = glue::group_positions(labels, groups);
    if (!out.one_per_label) return false;
    std::vector<char> seen(n_samples, 0);
    for (const auto& members : out.members)
        for (std::size_t p : members)
            if (seen[p]++) return false;
    return true;
}

// Every comparison from one pass over the table: each group's statistics
// once, and every group's rest from the same reading of each row. Gives what
// calling the module's own simple_DEG_pair per comparison gives; returns
// false (nothing done) when that equivalence cannot be assured.
bool one_pass(const nb::object& df_expr, const nb::object& labels, const nb::list& groups,
              const nb::object& ref_condition, const DegArgs& args, const nb::object& corr_method,
              const nb::object& pval_ref_col, DegDicts& out) {
    glue::Float64Block block = glue::float64_block(df_expr.attr("to_numpy")());
    GroupedStats gs;
    gs.n_samples = block.view.n_samples;
    glue::GroupPositions part;
    if (!partition(labels, groups, gs.n_samples, part)) return false;
    const std::size_t n_groups = part.members.size();
    gs.groups = groups;
    for (const auto& members : part.members) gs.size.push_back(members.size());
    gs.own.resize(n_groups);
    {
        nb::gil_scoped_release unlocked;
        if (ref_condition.is_none()) {
            // Members are ascending, so the codes give each group's samples
            // in the order group_stats would read them.
            std::vector<std::int64_t> code(gs.n_samples, -1);
            for (std::size_t k = 0; k < n_groups; ++k)
                for (std::size_t p : part.members[k]) code[p] = static_cast<std::int64_t>(k);
            gs.rest = rest_stats(block.view, code, n_groups, &gs.own);
        } else {
            for (std::size_t k = 0; k < n_groups; ++k) gs.own[k] = group_stats(block.view, part.members[k]);
        }
    }
    compare_groups(gs, ref_condition, args, corr_method, pval_ref_col, df_expr.attr("index"), out);
    return true;
}

}  // namespace

void announce_mode(const nb::object& ref_condition, const nb::list& unique_groups, bool verbose) {
    if (ref_condition.is_none()) {
        if (verbose) glue::print(std::string("### MODE: one-vs-rest ###"));
        return;
    }
    // Printed before the reference is checked.
    if (verbose) glue::print(nb::str("### MODE: one-vs-reference ({}) ###").format(ref_condition));
    const int found = PySequence_Contains(unique_groups.ptr(), ref_condition.ptr());
    if (found < 0) throw nb::python_error();
    if (!found) {
        glue::raise(PyExc_ValueError,
                    nb::str("ref_condition '{}' must be in {}").format(ref_condition, nb::str(unique_groups)));
    }
}

void DegDicts::add(const nb::object& result, const nb::handle& group) {
    if (truthy(result[nb::str("error")])) return;  // failed comparisons are left out silently
    nb::str key = comparison_key(group);
    deg[key] = result[nb::str("deg")];
    deg_raw[key] = result[nb::str("deg_raw")];
}

void compare_groups(const GroupedStats& gs, const nb::object& ref_condition, const DegArgs& args,
                    const nb::object& corr_method, const nb::object& pval_ref_col, const nb::object& index,
                    DegDicts& out) {
    const std::size_t n_groups = gs.own.size();
    const bool vs_rest = ref_condition.is_none();
    nb::str others("others");
    const nb::handle ref_label = vs_rest ? nb::handle(others) : nb::handle(ref_condition);
    std::size_t ref_k = n_groups;
    if (!vs_rest)
        for (std::size_t k = 0; k < n_groups && ref_k == n_groups; ++k)
            if (glue::equals(gs.groups[k], ref_condition)) ref_k = k;
    for (std::size_t k = 0; k < n_groups; ++k) {
        nb::handle g = gs.groups[k];
        // A group named like the rest leaves a single label: no comparison.
        if (glue::equals(g, ref_label)) continue;
        const std::size_t n_test = gs.size[k];
        const std::size_t n_ref = vs_rest ? gs.n_samples - n_test : ref_k < n_groups ? gs.size[ref_k] : 0;
        if (n_test < 2 || n_ref < 2) continue;
        PairStats st;
        {
            nb::gil_scoped_release unlocked;
            st = pair_from_stats(vs_rest ? gs.rest[k] : gs.own[ref_k], gs.own[k], args.min_std);
        }
        out.add(pair_outcome(st, index, args, corr_method, pval_ref_col, g, ref_label), g);
    }
}

nb::object simple_DEG(nb::object df_gene_by_sample_log_expr, nb::object condition_list, nb::object ref_condition,
                      nb::object pval_cutoff, nb::object logFC_cutoff, nb::object test_method, nb::object corr_method,
                      nb::object pval_ref_col, nb::object verbose) {
    const DegArgs args =
        check_deg_args(ref_condition, pval_cutoff, logFC_cutoff, test_method, corr_method, pval_ref_col, verbose);
    nb::object np = ns("np");
    nb::object df_expr = float_frame(df_gene_by_sample_log_expr);
    nb::object ps_cond = condition_series(condition_list, df_expr);
    nb::list unique_groups = unique_labels(ps_cond);
    DegDicts out;
    const nb::float_ pc(args.pval_cutoff), lc(args.logFC_cutoff);

    // Object labels so that relabelling keeps every original label object.
    nb::object labels = ps_cond.attr("to_numpy")(nb::arg("dtype") = quend::glue::builtin("object"));
    auto run_pair = [&](const nb::object& table, const nb::object& conds, const nb::object& ref, const nb::handle& g) {
        // Reached through the module namespace at each call, so a rebound
        // simple_DEG_pair is honoured.
        out.add(ns("simple_DEG_pair")(table, conds, nb::arg("ref_condition") = ref, nb::arg("pval_cutoff") = pc,
                                      nb::arg("logFC_cutoff") = lc, nb::arg("test_method") = test_method,
                                      nb::arg("corr_method") = corr_method, nb::arg("pval_ref_col") = pval_ref_col,
                                      nb::arg("verbose") = verbose),
                g);
    };

    announce_mode(ref_condition, unique_groups, args.verbose);
    // While simple_DEG_pair is the module's own, all comparisons share one pass.
    if (glue::is_own_function(ns("simple_DEG_pair"), "simple_DEG_pair") &&
        one_pass(df_expr, labels, unique_groups, ref_condition, args, corr_method, pval_ref_col, out))
        return out.tuple();
    if (ref_condition.is_none()) {
        nb::str others("others");
        for (nb::handle g : unique_groups) {
            nb::object same = nb::steal(PyObject_RichCompare(labels.ptr(), g.ptr(), Py_EQ));
            if (!same.is_valid()) throw nb::python_error();
            nb::object relabelled = np.attr("where")(same, labels, others).attr("tolist")();
            run_pair(df_expr, relabelled, others, g);
        }
    } else {
        for (nb::handle g : unique_groups) {
            const int is_ref = PyObject_RichCompareBool(g.ptr(), ref_condition.ptr(), Py_EQ);
            if (is_ref < 0) throw nb::python_error();
            if (is_ref) continue;
            nb::list pair_groups;
            pair_groups.append(g);
            pair_groups.append(ref_condition);
            nb::object mask = ps_cond.attr("isin")(pair_groups).attr("to_numpy")(nb::arg("dtype") = np.attr("bool_"));
            nb::object conds = ps_cond.attr("__getitem__")(mask).attr("tolist")();
            nb::object table = df_expr.attr("iloc").attr("__getitem__")(
                nb::make_tuple(nb::slice(nb::none(), nb::none(), nb::none()), mask));
            run_pair(table, conds, ref_condition, g);
        }
    }
    return out.tuple();
}

nb::object get_deg_summary(nb::object dct_deg, nb::object col) {
    nb::object np = ns("np");
    nb::object pd = ns("pd");
    nb::list keys = as_list(dct_deg);
    const std::size_t n_keys = nb::len(keys);
    // Gene labels of all tables, distinct, in order of first appearance.
    nb::list indexes;
    for (nb::handle k : keys) indexes.append(dct_deg[k].attr("index"));
    nb::object genes;
    if (n_keys == 0) {
        genes = pd.attr("Index")(nb::list());
    } else {
        nb::object first = indexes[0];
        nb::list rest;
        for (std::size_t j = 1; j < n_keys; ++j) rest.append(indexes[j]);
        genes = first.attr("append")(rest).attr("unique")();
    }
    const std::size_t n_genes = nb::len(genes);
    nb::object values = np.attr("ones")(nb::make_tuple(n_keys, n_genes));
    double* v = nb::cast<quend::glue::MutMat<double>>(values).data();
    for (std::size_t j = 0; j < n_keys; ++j) {
        nb::object table = dct_deg[keys[j]];
        nb::object column = table.attr("__getitem__")(col).attr("astype")(quend::glue::builtin("float"));
        nb::object column_values =
            np.attr("ascontiguousarray")(column.attr("to_numpy")(), nb::arg("dtype") = np.attr("float64"));
        nb::object rows =
            np.attr("ascontiguousarray")(genes.attr("get_indexer")(indexes[j]), nb::arg("dtype") = np.attr("int64"));
        auto cv = nb::cast<quend::glue::ConstVec<double>>(column_values);
        auto rv = nb::cast<quend::glue::ConstVec<std::int64_t>>(rows);
        const std::size_t m = std::min(cv.shape(0), rv.shape(0));
        double* dst = v + j * n_genes;
        for (std::size_t r = 0; r < m; ++r) {
            const std::int64_t g = rv.data()[r];
            if (g >= 0) dst[g] = cv.data()[r];
        }
    }
    return pd.attr("DataFrame")(values.attr("T"), nb::arg("index") = genes, nb::arg("columns") = keys);
}

void bind_simple_DEG(nb::module_& m) {
    glue::def(
        m, &simple_DEG,
        "def simple_DEG(df_gene_by_sample_log_expr: pd.DataFrame, condition_list`: collections.abc.Sequence | "
        "pandas.Series | numpy.ndarray`, ref_condition: str` | None` = None, pval_cutoff: float = 0.05, logFC_cutoff: "
        "float = 0.5, test_method: str = 'ols', corr_method: str` | None` = 'fdr_bh', pval_ref_col: str = 'pval_adj', "
        "verbose`: bool`=True)` -> tuple[dict[str, pandas.DataFrame], dict[str, pandas.DataFrame]]`",
        doc::simple_DEG);
}

void bind_get_deg_summary(nb::module_& m) {
    glue::def(
        m, &get_deg_summary,
        "def get_deg_summary(dct_deg`: dict[str, pandas.DataFrame]`, col`: str`='pval_adj')` -> pandas.DataFrame`",
        doc::get_deg_summary);
}

}  // namespace quend::deg
