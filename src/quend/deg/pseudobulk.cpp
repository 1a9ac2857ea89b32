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

std::vector<std::int64_t> int64_copy(nb::handle values) {
    nb::object np = numpy();
    auto a = nb::cast<ConstVec<std::int64_t>>(
        np.attr("ascontiguousarray")(np.attr("asarray")(values), nb::arg("dtype") = np.attr("int64")));
    return std::vector<std::int64_t>(a.data(), a.data() + a.shape(0));
}

// Codes of an obs column (categorical codes, else pandas.factorize; missing
// values share the code -1), or an empty vector when it cannot be coded.
std::vector<std::int64_t> column_codes(nb::handle column) {
    return on_ordinary_error(
        [&] {
            if (nb::hasattr(column, "cat")) return int64_copy(column.attr("cat").attr("codes"));
            return int64_copy(pandas().attr("factorize")(column)[0]);
        },
        [](nb::python_error&) { return std::vector<std::int64_t>{}; });
}

// Obs columns other than the keys whose value is the same for all cells of
// each group, in obs order.
nb::list constant_columns(nb::handle obs, const nb::list& keys, const CellGroups& g) {
    nb::list out;
    for (nb::handle c : obs.attr("columns")) {
        if (contains(keys, c) || equals(c, nb::str("n_cells"))) continue;
        const std::vector<std::int64_t> codes = column_codes(obs[c]);
        if (codes.size() == g.codes.size() && constant_within(codes.data(), g)) out.append(c);
    }
    return out;
}

// Key values of each group joined with "_" (one key: its value as str).
nb::object group_names(const nb::object& key_frame, std::size_t n_keys, std::size_t n_groups) {
    nb::object pd = pandas();
    if (n_groups == 0) return pd.attr("Index")(nb::list(), nb::arg("dtype") = "object");
    nb::object as_str = key_frame.attr("astype")(nb::str("str"));
    nb::object names = n_keys == 1
                           ? as_str.attr("iloc")[nb::make_tuple(nb::slice(nb::none(), nb::none(), nb::none()), 0)]
                           : as_str.attr("agg")(nb::str("_").attr("join"), nb::arg("axis") = 1);
    return pd.attr("Index")(names.attr("tolist")(), nb::arg("dtype") = "object");
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

    // Groups: each key's codes combined into one code per cell.
    nb::object obs = adata.attr("obs");
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
    key_codes.clear();
    const std::size_t n_groups = g.size.size();

    nb::object first = numpy_int_vector(g.first);
    nb::object kept = obs.attr("iloc")[first];
    nb::object index = group_names(kept[keys], nb::len(keys), n_groups);
    nb::list columns = nb::cast<nb::list>(builtin("list")(keys));
    const nb::list constant = constant_columns(obs, keys, g);
    for (nb::handle c : constant) columns.append(c);
    nb::object out_obs = kept[columns].attr("set_axis")(index, nb::arg("axis") = 0);
    out_obs.attr("insert")(nb::len(keys), "n_cells", numpy_int_vector(g.size));

    // The tables, from one pass over the matrix.
    LabelCodes groups;
    groups.codes = numpy_adopt(std::move(g.codes));
    groups.data = nb::cast<ConstVec<std::int64_t>>(groups.codes).data();
    groups.n = n_cells;
    for (std::size_t p = 0; p < n_groups; ++p) groups.labels.append(index[p]);
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
