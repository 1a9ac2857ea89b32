// One panel per comparison: the top genes as a ranked curve, names written
// vertically at the points. Drawn through pyplot's current-axes interface.
#include <cstddef>

#include "common/pyglue.hpp"
#include "common/binding.hpp"
#include "deg/plot_deg_doc.hpp"

namespace quend::deg {

using quend::glue::builtin;
using quend::glue::compare;
using quend::glue::ns;
using quend::glue::truthy;

namespace {

bool ranks_by_fold_change(const nb::handle& reference) {
    return reference.equal(nb::str("logFC")) || reference.equal(nb::str("log2_FC"));
}

// " (UP: 130, DOWN: 92)" from the panel's counts.
nb::object title_suffix(const nb::handle& counts) {
    nb::object suffix = nb::str(" (");
    for (nb::handle item : counts.attr("items")()) suffix = suffix + (nb::str("%s: %i, ") % item);
    suffix = suffix[nb::slice(nb::none(), nb::int_(-2), nb::none())];
    return nb::str("%s)") % nb::make_tuple(suffix);
}

}  // namespace

nb::object plot_deg(nb::object df_deg_dct, nb::object reference, nb::object n_genes_to_show, nb::object pval_cutoff,
                    nb::object figsize, nb::object dpi, nb::object text_fs, nb::object title_fs, nb::object label_fs,
                    nb::object tick_fs, nb::object ncols, nb::object wspace, nb::object hspace, nb::object deg_stat_dct,
                    nb::object show_log_pv) {
    nb::object plt = ns("plt");
    nb::object np = ns("np");
    nb::object to_int = builtin("int");

    const size_t n_panels = nb::len(df_deg_dct);
    nb::object nc = to_int(ncols);
    nb::object nr = to_int(np.attr("ceil")(nb::int_(n_panels) / ncols));

    nb::dict gridspec_kw;
    nb::list one;
    one.append(1);
    gridspec_kw["width_ratios"] = one * nc;
    plt.attr("subplots")(nb::arg("figsize") = nb::make_tuple(figsize[0] * nc, figsize[1] * nr), nb::arg("nrows") = nr,
                         nb::arg("ncols") = nc, nb::arg("gridspec_kw") = gridspec_kw, nb::arg("dpi") = dpi);
    plt.attr("tight_layout")();
    plt.attr("subplots_adjust")(nb::arg("left") = 0.05, nb::arg("bottom") = 0.05, nb::arg("right") = 0.95,
                                nb::arg("top") = 0.95, nb::arg("wspace") = wspace, nb::arg("hspace") = hspace);

    const bool by_fc = ranks_by_fold_change(reference);
    nb::object rank_column = by_fc ? reference : nb::object(nb::str("pval_adj"));
    size_t j = 0;
    for (nb::handle key : df_deg_dct) {
        const size_t pos = j++;
        nb::object df = df_deg_dct[key];
        nb::object mask = compare(df["pval_adj"], pval_cutoff, Py_LE);
        nb::object dfs = df.attr("loc")[mask].attr("sort_values")(rank_column, nb::arg("ascending") = !by_fc);
        const size_t n_selected = nb::len(dfs);
        if (n_selected == 0) continue;  // the cell stays a plain empty axes

        nb::object m = builtin("min")(nb::int_(n_selected), n_genes_to_show);
        nb::object kept = dfs.attr("iloc")[nb::slice(nb::none(), m, nb::none())];
        const size_t n_kept = nb::len(kept);
        // Nothing to draw when no gene is asked for: an empty panel as above.
        if (n_kept == 0) continue;

        plt.attr("subplot")(nr, nc, pos + 1);
        nb::object pval = np.attr("asarray")(kept["pval_adj"], nb::arg("dtype") = "float64");
        nb::object neg_log_pv = -np.attr("log10")(pval);
        nb::object y = by_fc ? np.attr("asarray")(kept[reference]) : neg_log_pv;
        nb::object x = np.attr("arange")(n_kept);
        plt.attr("plot")(x, y);

        // Limits over the finite values: a NaN fold change or a zero p-value
        // would otherwise make the limits invalid and abort the whole figure.
        nb::object y_float = np.attr("asarray")(y, nb::arg("dtype") = "float64");
        nb::object finite = y_float[np.attr("isfinite")(y_float)];
        if (nb::len(finite) > 0) {
            const double lo = nb::cast<double>(finite.attr("min")());
            const double hi = nb::cast<double>(finite.attr("max")());
            const double spread = hi - lo;
            nb::list lim;
            lim.append(lo - 0.4 * spread);
            lim.append(hi + 0.5 * spread);
            plt.attr("ylim")(lim);
        }

        nb::object genes = kept.attr("index").attr("tolist")();
        nb::object ys = y.attr("tolist")();
        nb::object lpvs = neg_log_pv.attr("tolist")();
        for (size_t k = 0; k < n_kept; ++k) {
            nb::object xk = nb::int_(k), yk = ys[k];
            plt.attr("text")(xk, yk, nb::str("  %s") % nb::make_tuple(nb::object(genes[k])), nb::arg("rotation") = 90,
                             nb::arg("fontsize") = text_fs);
            if (truthy(show_log_pv))
                plt.attr("text")(xk, yk, nb::str("(%3.1f) ") % nb::make_tuple(nb::object(lpvs[k])),
                                 nb::arg("rotation") = 90, nb::arg("va") = "top", nb::arg("fontsize") = text_fs);
        }

        if (deg_stat_dct.is_none())
            plt.attr("title")(key, nb::arg("fontsize") = title_fs);
        else
            plt.attr("title")(nb::borrow(key) + title_suffix(deg_stat_dct[key]), nb::arg("fontsize") = title_fs);
        plt.attr("xlabel")("Genes", nb::arg("fontsize") = label_fs);
        plt.attr("yticks")(nb::arg("fontsize") = tick_fs);
        plt.attr("xticks")(nb::arg("fontsize") = tick_fs);
        if (truthy(compare(nb::int_(pos) % nc, nb::int_(0), Py_EQ)))
            plt.attr("ylabel")(reference, nb::arg("fontsize") = label_fs);
        plt.attr("grid")("on");
    }

    nb::object n_cells = nr * nc;
    if (n_cells.operator>(nb::int_(n_panels))) {
        nb::object surplus = n_cells - nb::int_(n_panels);
        for (nb::handle k : builtin("range")(surplus))
            plt.attr("subplot")(nr, nc, nb::int_(n_panels) + k + nb::int_(1)).attr("axis")("off");
    }
    plt.attr("show")();
    return nb::none();
}

void bind_plot_deg(nb::module_& m) {
    glue::def(m, &plot_deg,
              "def plot_deg(df_deg_dct`: dict[str, pandas.DataFrame]`, reference`: str`='logFC', n_genes_to_show`: "
              "int`=30, pval_cutoff`: float`=0.05, figsize`: tuple[float, float]`=(6, 4), dpi`: float`=100, text_fs`: "
              "float`=10, title_fs`: float`=12, label_fs`: float`=11, tick_fs`: float`=10, ncols`: int`=2, wspace`: "
              "float`=0.15, hspace`: float`=0.2, deg_stat_dct`: dict[str, dict[str, int]] | None`=None, show_log_pv`: "
              "bool`=True)` -> None`",
              doc::plot_deg);
}

}  // namespace quend::deg
