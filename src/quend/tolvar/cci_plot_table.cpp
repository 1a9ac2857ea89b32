// Significant interactions of every sample laid out over one shared set of
// rows, ready for plotting across samples.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/pyglue.hpp"
#include "tolvar/cci_util.hpp"
#include "tolvar/op.hpp"
#include "tolvar/cci_plot_table_doc.hpp"

namespace quend::tolvar {

using quend::glue::ns;

namespace {

const char* const kPartColumns[6] = {"gene_pair", "cell_pair", "gene_A", "gene_B", "cell_A", "cell_B"};

// The six identifier parts of every row, one object array per part.
std::vector<nb::object> identifier_parts(const nb::handle& ids, nb::object np) {
    const std::size_t n = nb::len(ids);
    nb::object split = ns("cpdb_get_gp_n_cp");
    // Still the module's own splitter: split here, without a call per row.
    const bool native = quend::glue::is_own_function(split, "cpdb_get_gp_n_cp");
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
        if (by_cells) mark = mark & (t["cell_A"].attr("isin")(target_cells) | t["cell_B"].attr("isin")(target_cells));
        picked.append(t.attr("index")[cci::bool_mask(mark)]);
    }
    // Distinct selected identifiers in order of first selection.
    nb::object uni =
        samples.empty() ? pd.attr("Index")(nb::list(), nb::arg("dtype") = "object") : cci::union_in_order(picked);
    const std::size_t n = nb::len(uni);
    quend::glue::print("Union of Interactions: " + std::to_string(n));

    nb::dict out;
    if (samples.empty()) return out;
    const std::vector<nb::object> parts = identifier_parts(uni, np);
    nb::object take = pd.attr("api").attr("extensions").attr("take");
    nb::object np_dtype = np.attr("dtype");
    nb::object zero = nb::int_(0), one = nb::int_(1);
    std::vector<std::int64_t> row_of(n);
    for (const auto& s : samples) {
        const nb::object& t = s.table;
        // Row of the sample's table for every union entry, -1 where it lacks it.
        auto pos = nb::cast<glue::ConstVec<std::intptr_t>>(uni.attr("get_indexer")(t.attr("index")));
        std::fill(row_of.begin(), row_of.end(), -1);
        for (std::size_t r = 0; r < pos.size(); ++r) {
            if (pos(r) < 0) continue;
            std::int64_t& slot = row_of[static_cast<std::size_t>(pos(r))];
            if (slot >= 0) cci::raise_duplicate_labels();  // which of the rows would it be?
            slot = static_cast<std::int64_t>(r);
        }
        nb::object indexer = quend::glue::numpy_int_vector(row_of);

        // Column by column: the table's own columns (a lacking row is empty,
        // or mean 0 / pval 1), then the identifier parts, replacing or appended.
        nb::list labels = nb::list(t.attr("columns").attr("tolist")());
        const std::size_t n_cols = nb::len(labels);
        nb::dict arrays;
        std::vector<bool> part_done(6, false);
        for (std::size_t j = 0; j < n_cols; ++j) {
            nb::object label = labels[j];
            int part = -1;
            for (int k = 0; k < 6; ++k)
                if (label.equal(nb::str(kPartColumns[k]))) part = k;
            nb::object col;
            if (part >= 0) {
                col = parts[static_cast<std::size_t>(part)];
                part_done[static_cast<std::size_t>(part)] = true;
            } else {
                nb::object series =
                    t.attr("iloc")[nb::make_tuple(nb::slice(nb::none(), nb::none(), nb::none()), nb::int_(j))];
                // numpy-backed columns as their ndarray, extension types as themselves
                nb::object values =
                    nb::isinstance(series.attr("dtype"), np_dtype) ? series.attr("to_numpy")() : series.attr("array");
                const bool is_mean = label.equal(nb::str("mean")), is_pval = label.equal(nb::str("pval"));
                col = is_mean || is_pval ? take(values, indexer, nb::arg("allow_fill") = true,
                                                nb::arg("fill_value") = is_mean ? zero : one)
                                         : take(values, indexer, nb::arg("allow_fill") = true);
            }
            arrays[nb::int_(j)] = col;
        }
        for (int k = 0; k < 6; ++k) {
            if (part_done[static_cast<std::size_t>(k)]) continue;
            arrays[nb::int_(nb::len(labels))] = parts[static_cast<std::size_t>(k)];
            labels.append(nb::str(kPartColumns[k]));
        }
        // The constructor copies every column, so no two frames share a buffer.
        nb::object frame = pd.attr("DataFrame")(arrays, nb::arg("index") = uni.attr("copy")());
        frame.attr("columns") = pd.attr("Index")(labels, nb::arg("tupleize_cols") = false);
        out[s.key] = frame;
    }
    return out;
}

void bind_cci_get_df_to_plot(nb::module_& m) {
    glue::def(m, &cci_get_df_to_plot,
              "def cci_get_df_to_plot(df_dct`: dict[collections.abc.Hashable, pandas.DataFrame]`, pval_cutoff`: "
              "float`=0.01, mean_cutoff`: float`=1, target_cells`: list[str] | None`=None)` -> "
              "dict[collections.abc.Hashable, pandas.DataFrame]`",
              doc::cci_get_df_to_plot);
}

}  // namespace quend::tolvar
