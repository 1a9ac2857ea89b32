// Volcano plot of one DEG table: fold change against -log10 p-value, cut-off
// lines, and the most significant genes labelled.
#include <cstddef>
#include <exception>

#include "common/adata_fields.hpp"
#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "common/binding.hpp"
#include "deg/volcano_doc.hpp"

namespace quend::deg {

using quend::glue::builtin;
using quend::glue::compare;
using quend::glue::concat;
using quend::glue::contains;
using quend::glue::ns;
using quend::glue::truthy;

namespace {

// adjustText logs a notice about FancyArrowPatch on every call when it falls
// back to annotations; the plot is fine, so the notice is dropped here.
nb::object adjust_text_quietly(nb::object texts, nb::object xs, nb::object ys, nb::object ax) {
    nb::dict arrowprops;
    arrowprops["arrowstyle"] = "-";
    arrowprops["lw"] = 0.5;
    nb::object logger = nb::module_::import_("logging").attr("getLogger")("adjustText");
    nb::object drop_notice = nb::cpp_function([](nb::handle record) {
        return !nb::cast<bool>(record.attr("getMessage")().attr("__contains__")("FancyArrowPatch"));
    });
    logger.attr("addFilter")(drop_notice);
    try {
        ns("adjust_text")(texts, xs, ys, nb::arg("ax") = ax, nb::arg("expand_points") = nb::make_tuple(1.2, 1.2),
                          nb::arg("expand_text") = nb::make_tuple(1.2, 1.4), nb::arg("arrowprops") = arrowprops,
                          nb::arg("force_text") = 0.5, nb::arg("force_points") = 0.2, nb::arg("lim") = 1000);
    } catch (const std::exception&) {
        logger.attr("removeFilter")(drop_notice);
        throw;
    }
    logger.attr("removeFilter")(drop_notice);
    return nb::none();
}

// The default column name is not the one orvalen's own DEG tables use, so a
// bare KeyError would leave the caller guessing: name the columns there are.
void require_fold_change_column(nb::handle df, nb::handle logFC_col) {
    nb::object columns = df.attr("columns");
    if (contains(columns, logFC_col)) return;
    std::string message = glue::column_not_found(columns, logFC_col, "the table");
    if (contains(columns, nb::str("log2_FC"))) message += "; pass logFC_col='log2_FC'";
    glue::raise(PyExc_KeyError, message);
}

}  // namespace

nb::object plot_volcano(nb::object df_deg, nb::object logFC_col, nb::object pval_col, nb::object gene_col,
                        nb::object pval_cutoff, nb::object logFC_cutoff, nb::object top_n_labels, nb::object figsize,
                        nb::object xlim, nb::object ylim, nb::object title) {
    nb::object plt = ns("plt");
    nb::object np = ns("np");

    // Working columns go on a copy; the caller's table stays as it was.
    nb::object df = df_deg.attr("copy")();
    // pandas guesses chained assignment from the table's reference count; a
    // call from C holds one reference fewer than Python code would.
    nb::object df_ref = df;
    if (gene_col.is_none())
        df["gene_tmp"] = df.attr("index").attr("astype")(nb::str("str"));
    else
        df["gene_tmp"] = df[gene_col].attr("astype")(nb::str("str"));
    df["pval_plot"] = df[pval_col].attr("clip")(nb::arg("lower") = 1e-300);
    df["neglog10p"] = -np.attr("log10")(df["pval_plot"]);
    require_fold_change_column(df_deg, logFC_col);
    df["sig"] = compare(df[pval_col], pval_cutoff, Py_LT) & compare(df[logFC_col].attr("abs")(), logFC_cutoff, Py_GE);

    df_ref.reset();

    nb::object fig_ax = plt.attr("subplots")(nb::arg("figsize") = figsize);
    nb::object ax = fig_ax[1];

    nb::object sig = df["sig"];
    nb::object rest = df[~sig];
    nb::object hits = df[sig];
    ax.attr("scatter")(rest[logFC_col], rest["neglog10p"], nb::arg("s") = 10, nb::arg("alpha") = 0.4,
                       nb::arg("label") = "Not significant");
    ax.attr("scatter")(hits[logFC_col], hits["neglog10p"], nb::arg("s") = 18, nb::arg("alpha") = 0.9,
                       nb::arg("label") = "Significant");

    ax.attr("axhline")(-np.attr("log10")(pval_cutoff), nb::arg("linestyle") = "--", nb::arg("linewidth") = 1);
    ax.attr("axvline")(logFC_cutoff, nb::arg("linestyle") = "--", nb::arg("linewidth") = 1);
    ax.attr("axvline")(-logFC_cutoff, nb::arg("linestyle") = "--", nb::arg("linewidth") = 1);
    ax.attr("set_xlabel")("log2 Fold Change");
    ax.attr("set_ylabel")("-log10(p-value)");
    ax.attr("set_title")(title);
    if (!xlim.is_none()) ax.attr("set_xlim")(xlim);
    if (!ylim.is_none()) ax.attr("set_ylim")(ylim);

    nb::list texts, xs, ys;
    if (truthy(compare(top_n_labels, nb::int_(0), Py_GT)) && nb::len(hits) > 0) {
        nb::object top = hits.attr("sort_values")(pval_col).attr("head")(top_n_labels);
        nb::object lx = top[logFC_col].attr("tolist")();
        nb::object ly = top["neglog10p"].attr("tolist")();
        nb::object names = top["gene_tmp"].attr("tolist")();
        const size_t n = nb::len(names);
        for (size_t k = 0; k < n; ++k) {
            nb::object x = lx[k], y = ly[k];
            texts.append(ax.attr("text")(x, y, nb::object(names[k]), nb::arg("fontsize") = 8, nb::arg("ha") = "center",
                                         nb::arg("va") = "bottom"));
            xs.append(x);
            ys.append(y);
        }
        if (truthy(ns("ADJUST_TEXT"))) adjust_text_quietly(texts, xs, ys, ax);
    }

    ax.attr("legend")();
    plt.attr("tight_layout")();
    plt.attr("show")();
    return nb::none();
}

void bind_plot_volcano(nb::module_& m) {
    glue::def(m, &plot_volcano,
              "def plot_volcano(df_deg`: pandas.DataFrame`, logFC_col`: str`='logFC', pval_col`: str`='pval_adj', "
              "gene_col`: str | None`=None, pval_cutoff`: float`=0.05, logFC_cutoff`: float`=1.0, top_n_labels`: "
              "int`=20, figsize`: tuple[float, float]`=(8, 7), xlim`: tuple[float, float] | None`=None, ylim`: "
              "tuple[float, float] | None`=None, title`: str`='Volcano plot (no label overlap)')` -> None`",
              doc::plot_volcano);
}

}  // namespace quend::deg
