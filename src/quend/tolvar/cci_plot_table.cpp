#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O cci_get_df_to_plot(O, O, O, O) { quend::glue::not_built("cci_get_df_to_plot"); }

}  // namespace quend::tolvar
