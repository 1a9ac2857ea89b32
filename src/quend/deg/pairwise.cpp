#include "deg/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::deg {

nb::object simple_DEG_pair(nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object) { quend::glue::not_built("simple_DEG_pair"); }

}  // namespace quend::deg
