#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O _get_value_info(O, O, O, O, O, O, O) { quend::glue::not_built("_get_value_info"); }

O _display_dict_or_dataframe_recursive(O, O, O, O, O, O, O) { quend::glue::not_built("_display_dict_or_dataframe_recursive"); }

O show_anndata_tree(O, O, O, O, O, O, O) { quend::glue::not_built("show_anndata_tree"); }

}  // namespace quend::tolvar
