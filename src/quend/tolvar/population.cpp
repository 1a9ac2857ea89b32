#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O get_population(O, O, O) { quend::glue::not_built("get_population"); }

}  // namespace quend::tolvar
