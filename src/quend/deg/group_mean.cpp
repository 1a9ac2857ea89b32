// Per-sample detection fraction (or mean) of each gene with the sample's
// condition, computed from adata.X in one pass without a dense copy.
#include <cmath>
#include <vector>

#include "common/adata_fields.hpp"
#include "common/arrays.hpp"
#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "common/binding.hpp"
#include "deg/group_mean_doc.hpp"

namespace quend::deg {

namespace {

// `Group` first: each row's condition, looked up once per group in the
// sample map (labels it lacks stay as they are).
void insert_condition(nb::object& table, const nb::list& rows, const nb::object& sg_map) {
    nb::list conditions;
    const bool is_dict = PyDict_Check(sg_map.ptr());
    for (nb::handle label : rows) {
        if (is_dict) {
            PyObject* v = PyDict_GetItemWithError(sg_map.ptr(), label.ptr());  // borrowed
            if (!v && PyErr_Occurred()) throw nb::python_error();
            conditions.append(v ? nb::borrow(v) : nb::borrow(label));
        } else {
            conditions.append(quend::glue::contains(sg_map, label) ? nb::object(sg_map[label]) : nb::borrow(label));
        }
    }
    nb::object column = quend::glue::ns("pd").attr("Series")(conditions);
    table.attr("insert")(0, "Group", column.attr("to_numpy")());
}

// Rows are labelled with the condition of their group's first cell, a rule
// stored results rely on; a group whose cells carry several conditions is
// then labelled by one of them only, which deserves a word.
void warn_mixed_conditions(const quend::glue::LabelCodes& groups, const nb::object& conditions,
                           const nb::handle& group_col) {
    using namespace quend::glue;
    LabelCodes conds = sorted_label_codes(conditions);
    const std::size_t n_groups = groups.n_labels();
    std::vector<std::int64_t> first(n_groups, -2);  // -2: no cell seen yet
    std::vector<char> mixed(n_groups, 0);
    for (std::size_t i = 0; i < groups.n; ++i) {
        const std::int64_t g = groups.data[i];
        if (g < 0) continue;
        std::int64_t& f = first[static_cast<std::size_t>(g)];
        if (f == -2)
            f = conds.data[i];
        else if (f != conds.data[i])
            mixed[static_cast<std::size_t>(g)] = 1;
    }
    std::size_t n_mixed = 0, example = 0;
    for (std::size_t g = n_groups; g-- > 0;)
        if (mixed[g]) {
            ++n_mixed;
            example = g;
        }
    if (n_mixed == 0) return;
    warn("get_gene_expression_mean: " + std::to_string(n_mixed) + " of " + std::to_string(n_groups) +
         " groups of obs[" + quend::glue::repr(group_col) + "] have cells of more than one condition (for example " +
         quend::glue::repr(groups.labels[example]) + "); each row's Group is the condition of the group's first cell");
}

}  // namespace

nb::object get_gene_expression_mean(nb::object adata, nb::object genes, nb::object group_col, nb::object nz_pct,
                                    nb::object min_nz_pct) {
    using namespace quend::glue;
    require_anndata(adata, "get_gene_expression_mean", "adata");
    genes = gene_list(genes);
    nb::object pd = ns("pd");
    nb::object obs = adata.attr("obs");
    nb::object groups_col = obs_column(obs, group_col);
    nb::str condition("condition");
    // The name is fixed, not a parameter: say why it is needed.
    if (!contains(obs.attr("columns"), condition))
        raise(PyExc_KeyError, "get_gene_expression_mean labels each row with obs['condition'] and needs that column: " +
                                  column_not_found(obs.attr("columns"), condition, "obs"));
    nb::object conditions = obs[condition];
    LabelCodes groups = sorted_label_codes(groups_col);
    warn_if_no_group(groups, group_col, "get_gene_expression_mean");
    warn_mixed_conditions(groups, conditions, group_col);
    nb::object sg_map = ns("get_sample_to_group_map")(groups_col, conditions);

    nb::object var_names = adata.attr("var").attr("index");
    ColumnSelection sel;
    sel.n_matrix_cols = nb::len(var_names);
    const bool subset = !all_genes(genes);
    if (subset) sel.cols = gene_positions(var_names, genes);
    const bool detection = quend::glue::truthy(nz_pct);

    if (!detection) {
        nb::object values = group_table(adata_X(adata, "get_gene_expression_mean"), groups, sel, Stat::mean,
                                        "get_gene_expression_mean");
        nb::object columns = var_names;
        if (subset) columns = var_names.attr("take")(numpy_int_vector(sel.cols));
        nb::object index = pd.attr("Index")(groups.labels, nb::arg("name") = "Group");
        nb::object table = pd.attr("DataFrame")(values, nb::arg("index") = index, nb::arg("columns") = columns,
                                                nb::arg("copy") = false);
        insert_condition(table, groups.labels, sg_map);
        return table;
    }

    const double threshold = nb::cast<double>(nb::float_(min_nz_pct));
    nb::object values = group_table(adata_X(adata, "get_gene_expression_mean"), groups, sel, Stat::detected,
                                    "get_gene_expression_mean");
    nb::object columns = var_names;
    if (subset) columns = PyUnicode_Check(genes.ptr()) ? nb::object(nb::make_tuple(genes)) : genes;
    nb::object table = pd.attr("DataFrame")(values, nb::arg("index") = groups.labels, nb::arg("columns") = columns,
                                            nb::arg("copy") = false);
    insert_condition(table, groups.labels, sg_map);

    // Keep genes detected in at least `min_nz_pct` of cells in some condition
    // (condition means of the sample fractions, as a groupby would give).
    const auto frac = nb::cast<ConstMat<double>>(values);
    const std::size_t n_rows = frac.shape(0), n_genes = frac.shape(1);
    LabelCodes conds = sorted_label_codes(table["Group"]);
    const std::size_t n_conds = conds.n_labels();
    const std::vector<double> means = kahan_group_mean(frac.data(), n_rows, n_genes, conds.data, n_conds);
    nb::list keep;
    keep.append(0);
    for (std::size_t j = 0; j < n_genes; ++j) {
        bool any = false;
        double best = 0.0;
        for (std::size_t c = 0; c < n_conds; ++c) {
            const double m = means[c * n_genes + j];
            if (std::isnan(m)) continue;
            if (!any || m > best) best = m;
            any = true;
        }
        if (any && best >= threshold) keep.append(j + 1);
    }
    if (nb::len(keep) == n_genes + 1) return table;
    // Without rows there is nothing to detect; that was said above.
    if (nb::len(keep) == 1 && n_genes > 0 && n_rows > 0)
        warn("get_gene_expression_mean: no gene is detected in at least min_nz_pct = " + to_str(min_nz_pct) +
             " of the cells of any condition, so the result holds only the Group column; "
             "lower min_nz_pct or pass nz_pct=False for mean expression");
    return table.attr("iloc")[nb::make_tuple(nb::slice(nb::none(), nb::none(), nb::none()), keep)];
}

void bind_get_gene_expression_mean(nb::module_& m) {
    glue::def(
        m, &get_gene_expression_mean,
        "def get_gene_expression_mean(adata`: anndata.AnnData`, genes`: collections.abc.Sequence[str] | None`=[], "
        "group_col`: str`='sample', nz_pct`: bool`=True, min_nz_pct`: float`=0.2)` -> pandas.DataFrame`",
        doc::get_gene_expression_mean);
}

}  // namespace quend::deg
