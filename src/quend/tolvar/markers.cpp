#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O get_markers_from_deg(O, O, O, O, O, O) { quend::glue::not_built("get_markers_from_deg"); }

}  // namespace quend::tolvar
