#include "common/adata_fields.hpp"

#include <string>

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

bool all_genes(nb::handle genes) { return genes.is_none() || nb::len(genes) == 0; }

nb::object gene_list(nb::handle genes) {
    if (genes.is_none() || nb::hasattr(genes, "__len__")) return nb::borrow(genes);
    return builtin("list")(genes);
}

namespace {

// An AnnData's X is a property of its class: asking the class does not read
// the matrix, so a matrix that fails to read is not taken for a missing one.
bool has_X(nb::handle adata) { return nb::hasattr(adata.type(), "X") || nb::hasattr(adata, "X"); }

}  // namespace

void require_anndata(nb::handle adata, const char* function, const char* param) {
    if (nb::hasattr(adata, "obs") && nb::hasattr(adata, "var") && has_X(adata)) return;
    raise(PyExc_TypeError, std::string(function) + ": " + param + " must be an AnnData (cells by genes, with obs and " +
                               "var), got " + py_type_name(adata));
}

nb::object adata_X(nb::handle adata, const char* function) {
    try {
        return adata.attr("X");
    } catch (nb::python_error& e) {
        if (!is_ordinary(e)) throw;
        const std::string message = std::string(function) + ": reading adata.X failed: " + to_str(e.value());
        // The same type when it takes a message alone, else ValueError.
        nb::object err = on_ordinary_error([&] { return e.type()(message); },
                                           [&](nb::python_error&) { return nb::handle(PyExc_ValueError)(message); });
        PyException_SetCause(err.ptr(), e.value().inc_ref().ptr());
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(err.ptr())), err.ptr());
        throw nb::python_error();
    }
}

namespace {

std::vector<std::int64_t> int64_vector(nb::handle values) {
    nb::object np = ns("np");
    auto arr = nb::cast<StridedVec<std::int64_t>>(np.attr("asarray")(values, nb::arg("dtype") = np.attr("int64")));
    std::vector<std::int64_t> out(arr.shape(0));
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = arr(k);
    return out;
}

// Positions among repeated names: each name asked for must occur exactly once.
std::vector<std::int64_t> positions_among_repeats(nb::handle var_names, nb::handle wanted) {
    nb::object np = ns("np");
    nb::object repeated = np.attr("asarray")(var_names.attr("duplicated")(nb::arg("keep") = false));
    nb::object asked = ns("pd").attr("Index")(wanted);
    nb::object clash = np.attr("flatnonzero")(asked.attr("isin")(var_names[repeated]));
    if (nb::len(clash) > 0)
        raise(PyExc_ValueError,
              "gene names " + to_str(asked.attr("take")(clash).attr("unique")().attr("tolist")()) +
                  " occur more than once in var_names; make the names unique (AnnData.var_names_make_unique)");
    nb::object once = np.attr("flatnonzero")(~repeated);
    const std::vector<std::int64_t> at = int64_vector(var_names.attr("take")(once).attr("get_indexer")(asked));
    const std::vector<std::int64_t> original = int64_vector(once);
    std::vector<std::int64_t> out(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) out[k] = at[k] < 0 ? -1 : original[static_cast<std::size_t>(at[k])];
    return out;
}

}  // namespace

std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes) {
    nb::object wanted = PyUnicode_Check(genes.ptr()) ? nb::object(nb::make_tuple(genes)) : builtin("list")(genes);
    const std::vector<std::int64_t> out = truthy(var_names.attr("is_unique"))
                                              ? int64_vector(var_names.attr("get_indexer")(wanted))
                                              : positions_among_repeats(var_names, wanted);
    nb::list missing;
    for (std::size_t k = 0; k < out.size(); ++k)
        if (out[k] < 0) missing.append(nb::borrow(wanted[k]));
    if (nb::len(missing) > 0)
        raise(PyExc_KeyError, nb::str("{} not found in the gene names (var_names)").format(missing));
    return out;
}

std::string column_not_found(nb::handle columns, nb::handle column, const char* where) {
    // A long header is cut: the first names are enough to spot a typo.
    constexpr std::size_t kShown = 20;
    nb::object names = builtin("list")(columns);
    const std::size_t n = nb::len(names);
    std::string listed = n == 0 ? "no columns" : "";
    for (std::size_t k = 0; k < n && k < kShown; ++k) listed += (k ? ", " : "") + to_str(names[k]);
    if (n > kShown) listed += ", ... (" + std::to_string(n) + " columns)";
    return "column " + glue::repr(column) + " not found in " + where + "; " + where + " has: " + listed;
}

nb::object table_column(nb::handle table, nb::handle column, const char* where) {
    nb::object columns = table.attr("columns");
    if (!contains(columns, column)) raise(PyExc_KeyError, column_not_found(columns, column, where));
    return table[column];
}

nb::object adata_matrix(nb::handle adata, nb::handle layer, const char* caller) {
    if (layer.is_none()) return adata_X(adata, caller);
    nb::object layers = adata.attr("layers");
    if (contains(layers, layer)) return layers[layer];
    nb::object names = builtin("list")(layers.attr("keys")());
    std::string listed;
    for (nb::handle n : names)
        if (!n.is_none()) listed += (listed.empty() ? "" : ", ") + to_str(n);  // newer anndata lists X as None
    raise(PyExc_KeyError, std::string(caller) + ": layer " + glue::repr(layer) + " not found in adata.layers; " +
                              (listed.empty() ? std::string("adata has no layers") : "its layers are: " + listed));
}

nb::object obs_column(nb::handle obs, nb::handle column) { return column_values(table_column(obs, column, "obs")); }

void warn_if_no_group(const LabelCodes& groups, nb::handle column, const char* function) {
    if (groups.n_labels() > 0) return;
    const std::string col = "obs[" + glue::repr(column) + "]";
    warn(std::string(function) + ": no group selected, so the result has no rows: " +
         (groups.n == 0 ? "adata has no cells"
                        : col + " is missing (None or NaN) in all " + std::to_string(groups.n) + " cells"));
}

}  // namespace quend::glue
