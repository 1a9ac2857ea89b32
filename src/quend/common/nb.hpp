#pragma once
// The one way the binding layer includes nanobind.
//
// common/accessor_cast.hpp specialises one of nanobind's casters. Every
// translation unit must see that specialisation before any use of the
// generic one, or two definitions of one template exist in one module (an
// ODR violation that may work by chance). CMakeLists.txt therefore
// force-includes this header first in every source file of the modules and
// of the common library; including it again is harmless, and including
// nanobind ahead of it fails the build.
#ifndef QUEND_COMMON_NB_HPP
#ifdef NB_VERSION_MAJOR
#error "nanobind was included before common/nb.hpp; include common/nb.hpp instead"
#endif
#define QUEND_COMMON_NB_HPP

#include <nanobind/nanobind.h>

#include "common/accessor_cast.hpp"

#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

namespace quend {
namespace nb = nanobind;
}  // namespace quend

#endif
