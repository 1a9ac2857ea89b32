#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O _detect_base64_type(O) { quend::glue::not_built("_detect_base64_type"); }

O display_base64_auto(O, O, O) { quend::glue::not_built("display_base64_auto"); }

}  // namespace quend::tolvar
