#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O cci_get_diff_interactions(O, O, O, O) { quend::glue::not_built("cci_get_diff_interactions"); }

}  // namespace quend::tolvar
