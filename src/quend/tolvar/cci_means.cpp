// Per-sample CCI result tables -> one sample-by-interaction table of means.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "tolvar/cci_util.hpp"
#include "tolvar/op.hpp"
#include "tolvar/cci_means_doc.hpp"

namespace quend::tolvar {

using quend::glue::ns;

namespace {

// Identifiers of the rows passing the filters, sample by sample; the union
// over samples keeps first appearance (one sample: its list as it is).
nb::object selected_interactions(const std::vector<cci::Sample>& samples, const nb::handle& cells,
                                 const nb::handle& genes, const nb::handle& pval_cutoff) {
    if (samples.empty())
        quend::glue::raise(PyExc_ValueError,
                           "cci_get_means: no samples to select interactions from; pass cci_idx_lst to get an empty "
                           "table");
    const bool by_cells = nb::len(cells) > 0, by_genes = nb::len(genes) > 0;
    nb::list picked;
    for (const auto& s : samples) {
        const nb::object& t = s.table;
        nb::object mark = cci::compare(t["pval"], pval_cutoff, Py_LE);
        if (by_cells) mark = mark & (t["cell_A"].attr("isin")(cells) | t["cell_B"].attr("isin")(cells));
        if (by_genes) mark = mark & (t["gene_A"].attr("isin")(genes) | t["gene_B"].attr("isin")(genes));
        picked.append(t.attr("index")[cci::bool_mask(mark)]);
    }
    nb::object first = picked[0];
    if (samples.size() == 1) return cci::without_names(first);
    return cci::union_in_order(picked);
}

}  // namespace

O cci_get_means(O cci_df_dct, O cci_idx_lst, O cells, O genes, O pval_cutoff) {
    nb::object pd = ns("pd"), np = ns("np");
    if (!nb::hasattr(cci_df_dct, "keys"))
        quend::glue::raise(PyExc_TypeError,
                           "cci_get_means: cci_df_dct must be a dictionary of CCI result tables (sample name -> "
                           "DataFrame), got " +
                               quend::glue::py_type_name(cci_df_dct));
    const auto samples = cci::samples_of(cci_df_dct);
    nb::list keys;
    for (const auto& s : samples) keys.append(s.key);

    nb::object columns = cci_idx_lst.is_none() ? selected_interactions(samples, cells, genes, pval_cutoff)
                                               : pd.attr("Index")(cci_idx_lst);
    // Repeated column labels all receive the value of their identifier.
    const bool unique_cols = nb::cast<bool>(columns.attr("is_unique"));
    nb::object uniq = unique_cols ? columns : columns.attr("unique")();
    const std::size_t n = nb::len(columns), n_u = nb::len(uniq);
    std::vector<std::intptr_t> col_to_u;
    if (!unique_cols) {
        auto m = nb::cast<glue::ConstVec<std::intptr_t>>(uniq.attr("get_indexer")(columns));
        col_to_u.assign(m.data(), m.data() + m.size());
    }

    auto values = quend::glue::new_matrix<double>(samples.size(), n);
    double* out = values.data;
    std::fill(out, out + samples.size() * n, std::numeric_limits<double>::quiet_NaN());

    nb::object f64 = np.attr("dtype")("float64");
    std::vector<std::size_t> stamp(n_u, 0);
    std::vector<double> by_u(n_u);
    std::vector<std::size_t> rows;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const nb::object& t = samples[k].table;
        nb::object mean = t["mean"];
        auto pos = nb::cast<glue::ConstVec<std::intptr_t>>(uniq.attr("get_indexer")(t.attr("index")));
        rows.clear();
        for (std::size_t r = 0; r < pos.size(); ++r) {
            if (pos(r) < 0) continue;
            std::size_t& st = stamp[static_cast<std::size_t>(pos(r))];
            if (st == k + 1) cci::raise_duplicate_labels();  // one identifier, several rows: no single mean
            st = k + 1;
            rows.push_back(r);
        }
        // Only the rows that are used are converted, as float.
        const bool is_f64 = mean.attr("dtype").equal(f64);
        auto vals = is_f64 ? nb::cast<glue::ConstVec<double>>(mean.attr("to_numpy")())
                           : nb::cast<glue::ConstVec<double>>(
                                 mean.attr("iloc")[cci::intp_array(rows)].attr("astype")("float64").attr("to_numpy")());
        double* row_out = out + k * n;
        for (std::size_t j = 0; j < rows.size(); ++j) {
            const double v = vals(is_f64 ? rows[j] : j);
            const auto u = static_cast<std::size_t>(pos(rows[j]));
            if (unique_cols)
                row_out[u] = v;
            else
                by_u[u] = v;
        }
        if (!unique_cols)
            for (std::size_t c = 0; c < n; ++c) {
                const auto u = static_cast<std::size_t>(col_to_u[c]);
                if (stamp[u] == k + 1) row_out[c] = by_u[u];
            }
    }
    return pd.attr("DataFrame")(values.array, nb::arg("index") = keys, nb::arg("columns") = columns);
}

namespace {

// The older name; it calls whatever cci_get_means is bound to at the time.
O get_cci_means(O cci_df_dct, O cci_idx_lst, O cells, O genes, O pval_cutoff) {
    return glue::ns("cci_get_means")(cci_df_dct, cci_idx_lst, cells, genes, pval_cutoff);
}

}  // namespace

void bind_cci_get_means(nb::module_& m) {
    glue::def(m, &cci_get_means,
              "def cci_get_means(cci_df_dct`: dict[collections.abc.Hashable, pandas.DataFrame]`, cci_idx_lst`: "
              "collections.abc.Sequence[str] | None`=None, cells`: collections.abc.Sequence[str]`=[], genes`: "
              "collections.abc.Sequence[str]`=[], pval_cutoff`: float`=0.05)` -> pandas.DataFrame`",
              doc::cci_get_means);
}

void bind_get_cci_means(nb::module_& m) {
    glue::def(m, &get_cci_means,
              "def get_cci_means(cci_df_dct`: dict[collections.abc.Hashable, pandas.DataFrame]`, cci_idx_lst`: "
              "collections.abc.Sequence[str] | None`=None, cells`: collections.abc.Sequence[str]`=[], genes`: "
              "collections.abc.Sequence[str]`=[], pval_cutoff`: float`=0.05)` -> pandas.DataFrame`",
              doc::get_cci_means);
}

}  // namespace quend::tolvar
