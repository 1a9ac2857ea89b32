#pragma once
// What every tolvar operation file sees: the binding helper and `O`, short
// for the Python objects its functions take and return.
#include "common/binding.hpp"

namespace quend::tolvar {

using O = nb::object;

}  // namespace quend::tolvar
