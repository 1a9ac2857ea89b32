#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O pca_subsample(O, O, O) { quend::glue::not_built("pca_subsample"); }

}  // namespace quend::tolvar
