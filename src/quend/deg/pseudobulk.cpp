// Pseudo-bulk profiles: one row per observed combination of obs keys, any
// statistics of X (or a layer) from one pass over it, as an AnnData that
// goes straight into a bulk design.
#include <set>
#include <string>
#include <vector>

#include "common/adata_fields.hpp"
#include "common/arrays.hpp"
#include "common/binding.hpp"
#include "common/errors.hpp"
#include "common/label_codes.hpp"
#include "common/matrix_tally.hpp"
#include "common/pyglue.hpp"
#include "core/group_keys.hpp"
#include "deg/pseudobulk_doc.hpp"

namespace quend::deg {

namespace {

using namespace quend::glue;
constexpr const char* kFn = "get_pseudobulk";

// One str, or a non-empty sequence of distinct ones.
nb::list names_of(nb::handle value, const char* param) {
    if (value.is_none())
        raise(PyExc_TypeError, std::string(kFn) + ": " + param + " must be a str or a list of str, not None");
    nb::list names = PyUnicode_Check(value.ptr()) ? nb::list() : nb::list(builtin("list")(value));
    if (PyUnicode_Check(value.ptr())) names.append(value);
    if (nb::len(names) == 0) raise(PyExc_ValueError, std::string(kFn) + ": " + param + " names nothing");
    std::set<std::string> seen;
    for (nb::handle n : names) {
        require_str(n, param, false);
        if (!seen.insert(nb::cast<std::string>(n)).second)
            raise(PyExc_ValueError, std::string(kFn) + ": " + param + " names " + glue::repr(n) + " twice");
    }
    return names;
}

std::vector<Stat> stats_of(const nb::list& names) {
    std::vector<Stat> out;
    for (nb::handle n : names) {
        try {
            out.push_back(stat_named(nb::cast<std::string>(n)));
        } catch (const std::invalid_argument& e) {
            raise(PyExc_ValueError, std::string(kFn) + ": " + e.what());
        }
    }
    return out;
}

// Codes of an obs column (missing values -1), or none when it cannot be
// coded (unhashable values): such a column is never constant.
LabelCodes column_codes(nb::handle column) {
    return on_ordinary_error([&] { return appearance_label_codes(column); },
                             [](nb::python_error&) { return LabelCodes{}; });
}

// Obs columns other than the keys whose value is the same for all cells of
// each group, in obs order.
nb::list constant_columns(nb::handle obs, const nb::list& keys, const CellGroups& g) {
    nb::list out;
    for (nb::handle c : obs.attr("columns")) {
        if (contains(keys, c) || equals(c, nb::str("n_cells"))) continue;
        const LabelCodes codes = column_codes(obs[c]);
        if (codes.n == g.codes.size() && constant_within(codes.data, g)) out.append(c);
    }
    return out;
}

// Key values of each group joined with "_" (one key: its value as str),
// concatenated column by column.
nb::object group_names(const nb::object& key_frame, std::size_t n_groups) {
    nb::object pd = pandas();
    if (n_groups == 0) return pd.attr("Index")(nb::list(), nb::arg("dtype") = "object");
    nb::object as_str = key_frame.attr("astype")(nb::str("str"));
    nb::object all = nb::slice(nb::none(), nb::none(), nb::none());
    nb::object names = as_str.attr("iloc")[nb::make_tuple(all, 0)];
    if (nb::len(nb::object(as_str.attr("columns"))) > 1)
        names = names.attr("str").attr("cat")(
            as_str.attr("iloc")[nb::make_tuple(all, nb::slice(nb::int_(1), nb::none(), nb::none()))],
            nb::arg("sep") = "_");
    return pd.attr("Index")(names.attr("tolist")(), nb::arg("dtype") = "object");
}

// Cells' groups: each key's codes combined into one code per cell, groups of
// fewer than `at_least` cells dropped; a warning when none is left.
CellGroups cell_groups(nb::handle obs, const nb::list& keys, long long at_least) {
    std::vector<LabelCodes> key_codes;
    std::vector<const std::int64_t*> key_data;
    std::vector<std::size_t> n_labels;
    for (nb::handle k : keys) {
        key_codes.push_back(sorted_label_codes(obs_column(obs, k)));
        key_data.push_back(key_codes.back().data);
        n_labels.push_back(key_codes.back().n_labels());
    }
    const std::size_t n_cells = key_codes[0].n;
    CellGroups g;
    in_kernel([&] {
        g = combine_keys(key_data, n_labels, n_cells);
        keep_groups_of_at_least(g, at_least);
    });
    if (g.size.empty())
        warn(std::string(kFn) + ": no group, so the result has no rows: " +
             (n_cells == 0 ? "adata has no cells"
                           : "no cell has a value of every group column" +
                                 std::string(at_least > 0 ? " in a group of min_cells or more" : "")));
    return g;
}

// The result's obs: the keys, n_cells and the constant columns of each
// group's first cell, indexed by `index`.
nb::object group_obs(nb::handle obs, const nb::list& keys, const CellGroups& g, const nb::object& kept,
                     const nb::object& index) {
    nb::list columns = nb::cast<nb::list>(builtin("list")(keys));
    for (nb::handle c : constant_columns(obs, keys, g)) columns.append(c);
    nb::object out = kept[columns].attr("set_axis")(index, nb::arg("axis") = 0);
    out.attr("insert")(nb::len(keys), "n_cells", numpy_int_vector(g.size));
    return out;
}

}  // namespace

nb::object get_pseudobulk(nb::object adata, nb::object group_cols, nb::object stats, nb::object layer, nb::object genes,
                          nb::object min_cells) {
    require_anndata(adata, kFn, "adata");
    const nb::list keys = names_of(group_cols, "group_cols");
    const nb::list stat_names = names_of(stats, "stats");
    const std::vector<Stat> wanted = stats_of(stat_names);
    require_str(layer, "layer", true);
    nb::object X = adata_matrix(adata, layer, kFn);
    const long long at_least = min_cells.is_none() ? 0 : nb::cast<long long>(whole_number(min_cells, "min_cells"));
    if (at_least < 0) raise(PyExc_ValueError, std::string(kFn) + ": min_cells must be >= 0");
    genes = gene_list(genes);

    nb::object obs = adata.attr("obs");
    CellGroups g = cell_groups(obs, keys, at_least);
    nb::object kept = obs.attr("iloc")[numpy_int_vector(g.first)];
    nb::object index = group_names(kept[keys], g.size.size());
    nb::object out_obs = group_obs(obs, keys, g, kept, index);

    // The tables, from one pass over the matrix.
    LabelCodes groups;
    groups.n = g.codes.size();
    groups.codes = numpy_adopt(std::move(g.codes));
    groups.data = nb::cast<ConstVec<std::int64_t>>(groups.codes).data();
    groups.labels = nb::cast<nb::list>(index.attr("tolist")());
    nb::object var = adata.attr("var");
    nb::object var_names = var.attr("index");
    ColumnSelection sel;
    sel.n_matrix_cols = nb::len(var_names);
    if (!all_genes(genes)) {
        sel.cols = gene_positions(var_names, genes);
        var = var.attr("iloc")[numpy_int_vector(sel.cols)];
    }
    TableRequest req;
    req.stats = wanted;
    req.caller = kFn;
    const std::vector<nb::object> tables = group_tables(X, groups, sel, req);

    nb::dict layers;
    for (std::size_t s = 0; s < tables.size(); ++s) layers[stat_names[s]] = tables[s];
    return ns("anndata").attr("AnnData")(nb::arg("X") = tables[0], nb::arg("obs") = out_obs,
                                         nb::arg("var") = var.attr("copy")(), nb::arg("layers") = layers);
}

void bind_get_pseudobulk(nb::module_& m) {
    glue::def(
        m, &get_pseudobulk,
        "def get_pseudobulk(adata`: anndata.AnnData`, group_cols`: str | collections.abc.Sequence[str]`='sample', "
        "stats`: str | collections.abc.Sequence[str]`='sum', layer`: str | None`=None, "
        "genes`: collections.abc.Sequence[str] | None`=None, min_cells`: int`=0)` -> anndata.AnnData`",
        doc::get_pseudobulk);
}

}  // namespace quend::deg
