#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O compute_sample_div_index_v2(O, O, O, O) { quend::glue::not_built("compute_sample_div_index_v2"); }

O compute_sample_div_index(O, O, O, O, O, O, O) { quend::glue::not_built("compute_sample_div_index"); }

}  // namespace quend::tolvar
