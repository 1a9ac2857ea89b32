#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O cci_get_means(O, O, O, O, O) { quend::glue::not_built("cci_get_means"); }

}  // namespace quend::tolvar
