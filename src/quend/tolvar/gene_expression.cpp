#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O get_gene_expression(O, O, O) { quend::glue::not_built("get_gene_expression"); }

}  // namespace quend::tolvar
