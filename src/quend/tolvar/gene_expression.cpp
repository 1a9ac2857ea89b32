// Share of each group's cells expressing each gene (value > 0), read straight
// from adata.X without building the dense cells-by-genes table.
#include "common/adata_fields.hpp"
#include "common/pyglue.hpp"
#include "tolvar/op.hpp"
#include "tolvar/gene_expression_doc.hpp"

namespace quend::tolvar {

O get_gene_expression(O adata, O items_to_plot, O group_col) {
    using namespace quend::glue;
    require_anndata(adata, "get_gene_expression", "adata");
    items_to_plot = gene_list(items_to_plot);
    nb::object pd = ns("pd");
    nb::object groups_col = obs_column(adata.attr("obs"), group_col);
    LabelCodes groups = sorted_label_codes(groups_col);
    warn_if_no_group(groups, group_col, "get_gene_expression");

    nb::object var_names = adata.attr("var").attr("index");
    ColumnSelection sel;
    sel.n_matrix_cols = nb::len(var_names);
    nb::object columns = var_names;
    if (!all_genes(items_to_plot)) {
        sel.cols = gene_positions(var_names, items_to_plot);
        columns = PyUnicode_Check(items_to_plot.ptr()) ? nb::object(nb::make_tuple(items_to_plot)) : items_to_plot;
    }
    nb::object values =
        group_table(adata_X(adata, "get_gene_expression"), groups, sel, Stat::detected, "get_gene_expression");
    return pd.attr("DataFrame")(values, nb::arg("index") = groups.labels, nb::arg("columns") = columns,
                                nb::arg("copy") = false);
}

void bind_get_gene_expression(nb::module_& m) {
    glue::def(m, &get_gene_expression,
              "def get_gene_expression(adata`: anndata.AnnData`, items_to_plot`: collections.abc.Sequence[str] | "
              "None`=[], group_col`: str`='sample')` -> pandas.DataFrame`",
              doc::get_gene_expression);
}

}  // namespace quend::tolvar
