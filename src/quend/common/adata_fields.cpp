#include "common/adata_fields.hpp"

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

bool all_genes(nb::handle genes) { return genes.is_none() || nb::len(genes) == 0; }

std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes) {
    nb::object np = ns("np");
    nb::object wanted = PyUnicode_Check(genes.ptr()) ? nb::object(nb::make_tuple(genes)) : builtin("list")(genes);
    nb::object pos = np.attr("asarray")(var_names.attr("get_indexer")(wanted), nb::arg("dtype") = np.attr("int64"));
    auto arr = nb::cast<StridedVec<std::int64_t>>(pos);
    std::vector<std::int64_t> out(arr.shape(0));
    nb::list missing;
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = arr(k);
        if (out[k] < 0) missing.append(nb::borrow(wanted[k]));
    }
    if (nb::len(missing) > 0) {
        raise(PyExc_KeyError, nb::str("{} not found in the gene names (var_names)").format(missing));
    }
    return out;
}

nb::object obs_column(nb::handle obs, nb::handle column) {
    if (!contains(obs.attr("columns"), column)) {
        raise(PyExc_KeyError, nb::str("column {!r} not found in obs").format(column));
    }
    return obs[column];
}

}  // namespace quend::glue
