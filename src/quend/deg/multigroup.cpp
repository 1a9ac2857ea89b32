#include "deg/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::deg {

nb::object simple_DEG(nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object) { quend::glue::not_built("simple_DEG"); }

nb::object get_deg_summary(nb::object, nb::object) { quend::glue::not_built("get_deg_summary"); }

}  // namespace quend::deg
