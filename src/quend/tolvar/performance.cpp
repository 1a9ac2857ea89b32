#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O evaluate_performance(O, O, O) { quend::glue::not_built("evaluate_performance"); }

}  // namespace quend::tolvar
