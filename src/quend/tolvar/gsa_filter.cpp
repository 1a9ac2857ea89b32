#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O filter_gsa_result(O, O) { quend::glue::not_built("filter_gsa_result"); }

}  // namespace quend::tolvar
