#include "deg/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::deg {

nb::object plot_deg(nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object, nb::object) { quend::glue::not_built("plot_deg"); }

}  // namespace quend::deg
