#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O cci_remove_common(O) { quend::glue::not_built("cci_remove_common"); }

O cci_get_ni_mat(O, O) { quend::glue::not_built("cci_get_ni_mat"); }

O cpdb_get_gp_n_cp(O) { quend::glue::not_built("cpdb_get_gp_n_cp"); }

}  // namespace quend::tolvar
