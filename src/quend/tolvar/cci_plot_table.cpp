// Significant interactions of every sample laid out over one shared set of
// rows, ready for plotting across samples.
#include <string>
#include <vector>

#include "common/pyglue.hpp"
#include "tolvar/cci_util.hpp"
#include "tolvar/functions.hpp"

namespace quend::tolvar {

using quend::glue::ns;

namespace {

const char* const kPartColumns[6] = {"gene_pair", "cell_pair", "gene_A", "gene_B", "cell_A", "cell_B"};

// Whether the module's splitter is still its own compiled one; then the
// identifiers are split here without a call per row.
bool splitter_is_native(const nb::handle& f) {
    nb::handle own_type = nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(ns("cci_get_df_to_plot").ptr())));
    if (!f.type().is(own_type)) return false;
    nb::object module_name = quend::glue::module_object().attr("__name__");
    return nb::getattr(f, "__name__", nb::none()).equal(nb::str("cpdb_get_gp_n_cp")) &&
           nb::getattr(f, "__module__", nb::none()).equal(module_name);
}

// The six identifier parts of every row, one object array per part.
std::vector<nb::object> identifier_parts(const nb::handle& ids, nb::object np) {
    const std::size_t n = nb::len(ids);
    nb::object split = ns("cpdb_get_gp_n_cp");
    const bool native = splitter_is_native(split);
    nb::list cols[6];
    for (auto& c : cols) c = nb::steal<nb::list>(PyList_New(static_cast<Py_ssize_t>(n)));
    std::size_t r = 0;
    for (nb::handle id : ids) {
        nb::object parts = native ? nb::object(cci::id_parts(id)) : split(id);
        for (int k = 0; k < 6; ++k) {
            nb::object v = parts[k];
            PyList_SET_ITEM(cols[k].ptr(), static_cast<Py_ssize_t>(r), v.release().ptr());
        }
        ++r;
    }
    std::vector<nb::object> out;
    for (auto& c : cols) out.push_back(np.attr("array")(c, nb::arg("dtype") = "object"));
    return out;
}

}  // namespace

O cci_get_df_to_plot(O df_dct, O pval_cutoff, O mean_cutoff, O target_cells) {
    nb::object pd = ns("pd"), np = ns("np");
    const auto samples = cci::samples_of(df_dct);
    const bool by_cells = PyList_Check(target_cells.ptr());

    nb::list picked;
    for (const auto& s : samples) {
        const nb::object& t = s.table;
        nb::object mark = cci::compare(t["pval"], pval_cutoff, Py_LE) & cci::compare(t["mean"], mean_cutoff, Py_GE);
        if (by_cells)
            mark = mark & (t["cell_A"].attr("isin")(target_cells) | t["cell_B"].attr("isin")(target_cells));
        picked.append(t.attr("index")[cci::bool_mask(mark)]);
    }
    // Distinct selected identifiers in order of first selection.
    nb::object uni = samples.empty()
                         ? pd.attr("Index")(nb::list(), nb::arg("dtype") = "object")
                         : cci::union_in_order(picked);
    const std::size_t n = nb::len(uni);
    quend::glue::print("Union of Interactions: " + std::to_string(n));

    nb::dict out;
    if (samples.empty()) return out;
    const std::vector<nb::object> parts = identifier_parts(uni, np);
    nb::object zero = nb::int_(0), one = nb::int_(1);
    for (const auto& s : samples) {
        nb::object t = s.table;
        if (!nb::cast<bool>(t.attr("index").attr("is_unique"))) {
            // Repeated labels are fine unless one of them is to be laid out.
            t = t.attr("loc")[t.attr("index").attr("isin")(uni)];
            if (!nb::cast<bool>(t.attr("index").attr("is_unique"))) cci::raise_duplicate_labels();
        }
        nb::object rows = uni.attr("copy")();  // own Index per frame
        nb::object missing =
            cci::compare(t.attr("index").attr("get_indexer")(rows), zero, Py_LT);  // rows the sample lacks
        nb::object frame = t.attr("reindex")(rows);
        // Through the bound method: pandas takes a bare item assignment from
        // C on a frame this fresh for a chained assignment and warns.
        nb::object set_column = frame.attr("__setitem__");
        set_column("mean", frame["mean"].attr("mask")(missing, zero));
        set_column("pval", frame["pval"].attr("mask")(missing, one));
        for (int k = 0; k < 6; ++k) set_column(kPartColumns[k], parts[k].attr("copy")());
        out[s.key] = frame;
    }
    return out;
}

}  // namespace quend::tolvar
