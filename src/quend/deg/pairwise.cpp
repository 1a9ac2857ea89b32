// simple_DEG_pair: Welch's t-test of every gene between two sample groups.
#include "common/nb.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/adata_fields.hpp"
#include "common/errors.hpp"
#include "common/thread_exit.hpp"
#include "common/label_codes.hpp"
#include "common/pyglue.hpp"
#include "core/deg_pair.hpp"
#include "core/multitest.hpp"
#include "core/welch.hpp"
#include "deg/deg_args.hpp"
#include "common/binding.hpp"
#include "deg/pairwise_doc.hpp"
#include "deg/pairwise.hpp"

namespace quend::deg {

namespace {

using glue::concat;
using glue::equals;
using glue::ns;

nb::dict error_result(const nb::handle& message) {
    nb::dict d;
    d["error"] = true;
    d["error_message"] = message;
    return d;
}

// The reference and test groups with their sample positions. `error` is set
// instead when the labels do not make a valid pair.
struct PairGroups {
    nb::object ref, test;
    std::vector<std::size_t> idx_ref, idx_test;
    nb::object error;
};

// The reference label: the given one, which must be a group, or the first
// group, which must be a str.
PairGroups choose_reference(const nb::list& unique_conds, const nb::object& ref_condition, bool verbose) {
    PairGroups g;
    if (ref_condition.is_none()) {
        g.ref = unique_conds[0];
        if (!PyUnicode_CheckExact(g.ref.ptr())) {
            glue::raise(PyExc_TypeError, "Expected str, got " + glue::py_type_name(g.ref));
        }
        if (verbose) glue::print(concat({nb::str("INFO: reference condition = '"), g.ref, nb::str("'")}), "");
    } else {
        g.ref = ref_condition;
        if (!glue::contains(unique_conds, g.ref)) {
            g.error = error_result(concat(
                {nb::str("simple_DEG_pair ref_condition '"), g.ref, nb::str("' must be in "), nb::str(unique_conds)}));
        }
    }
    return g;
}

PairGroups pair_groups(const nb::object& cond, const nb::object& ref_condition, bool verbose) {
    nb::list unique_conds = unique_labels(cond);
    if (nb::len(unique_conds) != 2) {
        PairGroups g;
        g.error = error_result(concat(
            {nb::str("simple_DEG_pair supports ***exactly 2 groups***. Received groups: "), nb::str(unique_conds)}));
        return g;
    }
    PairGroups g = choose_reference(unique_conds, ref_condition, verbose);
    if (g.error.is_valid()) return g;
    g.test = equals(unique_conds[0], g.ref) ? nb::object(unique_conds[1]) : nb::object(unique_conds[0]);

    nb::list both;
    both.append(g.ref);
    both.append(g.test);
    glue::GroupPositions pos = glue::group_positions(cond.attr("to_numpy")(), both);
    g.idx_ref = std::move(pos.members[0]);
    g.idx_test = std::move(pos.members[1]);
    if (g.idx_ref.size() < 2 || g.idx_test.size() < 2) {
        const std::string msg = "simple_DEG_pair need >=2 samples per group. ref=" + std::to_string(g.idx_ref.size()) +
                                ", test=" + std::to_string(g.idx_test.size());
        g.error = error_result(nb::str(msg.c_str()));
    }
    return g;
}

// Welch statistics of every gene, read in place (no copy for a single-block
// frame) and computed without the GIL.
PairStats pair_statistics(const nb::object& expr, const PairGroups& g) {
    glue::Float64Block block = glue::float64_block(expr.attr("to_numpy")());
    const std::size_t n_samples = block.view.n_samples;
    for (const auto* idx : {&g.idx_test, &g.idx_ref}) {
        for (std::size_t p : *idx) {
            if (p >= n_samples) {
                glue::raise(PyExc_IndexError, "index " + std::to_string(p) + " is out of bounds for axis 0 with size " +
                                                  std::to_string(n_samples));
            }
        }
    }
    glue::KernelRelease unlocked;
    return pair_stats(block.view, g.idx_ref, g.idx_test);
}

// Corrected p-values of the retained genes: none, Benjamini-Hochberg in C++,
// or any other method through multipletests.
std::vector<double> corrected(const std::vector<double>& pval, const nb::object& corr_method, const nb::object& np) {
    if (corr_method.is_none()) return pval;
    if (equals(corr_method, nb::str("fdr_bh"))) return fdr_bh(pval);
    const std::size_t n = pval.size();
    glue::NewArray<double> pv = glue::new_vector<double>(n);
    std::copy(pval.begin(), pval.end(), pv.data);
    nb::object adj = ns("multipletests")(pv.array, nb::arg("method") = corr_method)[nb::int_(1)];
    adj = np.attr("ascontiguousarray")(adj, nb::arg("dtype") = np.attr("float64"));
    auto adj_view = nb::cast<glue::ConstVec<double>>(adj);
    if (adj_view.shape(0) != n) glue::raise(PyExc_ValueError, "multipletests returned a different number of p-values");
    return std::vector<double>(adj_view.data(), adj_view.data() + n);
}

// A column of the DEG table, by name; the fold-change magnitude is there too
// while the significant rows are chosen.
const char* const kDegColumns[] = {"log2_FC", "mean_ref", "mean_test", "pval", "pval_adj", "abs_log2_FC"};

int deg_column(const nb::handle& name) {
    for (int c = 0; c < 6; ++c)
        if (equals(name, nb::str(kDegColumns[c]))) return c;
    return -1;
}

// One DataFrame from one (5, n) C-ordered array handed over transposed, so
// pandas keeps it as its single block without copying.
nb::object build_deg_table(const PairStats& st, const std::vector<double>& pval_adj,
                           const std::vector<std::size_t>& rows, const nb::object& gene_index) {
    const std::size_t n = rows.size();
    glue::NewArray<double> values = glue::new_matrix<double>(5, n);
    glue::NewArray<std::int64_t> positions = glue::new_vector<std::int64_t>(n);
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t k = rows[r];
        positions.data[r] = static_cast<std::int64_t>(st.kept[k]);
        for (int c = 0; c < 5; ++c) values.data[static_cast<std::size_t>(c) * n + r] = pair_value(st, pval_adj, k, c);
    }
    nb::list columns;
    for (const char* name : {"log2_FC", "mean_ref", "mean_test", "pval", "pval_adj"}) columns.append(nb::str(name));
    return ns("pd").attr("DataFrame")(values.array.attr("T"),
                                      nb::arg("index") = gene_index.attr("take")(positions.array),
                                      nb::arg("columns") = columns);
}

// The significant and full tables, sorted by the reference column.
nb::dict deg_tables(const PairStats& st, const std::vector<double>& pval_adj, const nb::handle& test,
                    const nb::handle& ref, const nb::object& index, const nb::object& pval_ref_col,
                    const DegArgs& args) {
    const int ref_col = deg_column(pval_ref_col);
    if (ref_col < 0) {
        nb::list names;
        for (const char* c : kDegColumns) names.append(nb::str(c));
        glue::raise(PyExc_KeyError, glue::column_not_found(names, pval_ref_col, "the DEG table"));
    }
    SortedTables tables = sort_and_select(st, pval_adj, ref_col, args.pval_cutoff, args.logFC_cutoff);
    nb::object deg = build_deg_table(st, pval_adj, tables.significant, index);
    nb::object deg_raw = build_deg_table(st, pval_adj, tables.full, index);
    if (args.verbose) {
        nb::str line = nb::str("Significant DEGs ({} vs {}) = {} (up {}, down {}) genes.")
                           .format(test, ref, tables.significant.size(), tables.n_up, tables.n_down);
        glue::print(line);
    }
    nb::dict result;
    result["error"] = false;
    result["deg"] = deg;
    result["deg_raw"] = deg_raw;
    return result;
}

}  // namespace

nb::object simple_DEG_pair(nb::object df_gene_by_sample_log_expr, nb::object condition_list, nb::object ref_condition,
                           nb::object pval_cutoff, nb::object logFC_cutoff, nb::object test_method,
                           nb::object corr_method, nb::object pval_ref_col, nb::object verbose) {
    const DegArgs args =
        check_deg_args(ref_condition, pval_cutoff, logFC_cutoff, test_method, corr_method, pval_ref_col, verbose);
    nb::object expr = float_frame(df_gene_by_sample_log_expr);
    nb::object cond = condition_series(condition_list, expr);

    const PairGroups groups = pair_groups(cond, ref_condition, args.verbose);
    if (groups.error.is_valid()) return groups.error;

    return pair_outcome(pair_statistics(expr, groups), expr.attr("index"), args, corr_method, pval_ref_col, groups.test,
                        groups.ref);
}

nb::object pair_outcome(const PairStats& st, const nb::object& index, const DegArgs& args,
                        const nb::object& corr_method, const nb::object& pval_ref_col, const nb::handle& test,
                        const nb::handle& ref) {
    if (st.kept.empty()) {
        return error_result(nb::str("No valid p-values in simple_DEG_pair. Returning empty DEG result."));
    }
    // Correction over the retained genes only.
    const std::vector<double> pval_adj = corrected(st.pval, corr_method, ns("np"));
    return deg_tables(st, pval_adj, test, ref, index, pval_ref_col, args);
}

void bind_simple_DEG_pair(nb::module_& m) {
    glue::def(m, &simple_DEG_pair,
              "def simple_DEG_pair(df_gene_by_sample_log_expr: pd.DataFrame, condition_list`: collections.abc.Sequence "
              "| pandas.Series | numpy.ndarray`, ref_condition: str` | None` = None, pval_cutoff: float = 0.05, "
              "logFC_cutoff: float = 0.5, test_method: str = 'ols', corr_method: str` | None` = 'fdr_bh', "
              "pval_ref_col: str = 'pval_adj', verbose: bool = True)` -> dict[str, typing.Any]`",
              doc::simple_DEG_pair);
}

}  // namespace quend::deg
