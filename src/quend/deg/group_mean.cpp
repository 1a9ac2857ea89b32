#include "deg/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::deg {

nb::object get_gene_expression_mean(nb::object, nb::object, nb::object, nb::object, nb::object) { quend::glue::not_built("get_gene_expression_mean"); }

}  // namespace quend::deg
