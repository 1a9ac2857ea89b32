// orvalen.ingrath: registry of hosted data sets, download, extraction, loaders.
#include <nanobind/nanobind.h>

#include "common/pyglue.hpp"

namespace nb = nanobind;

NB_MODULE(ingrath, m) { quend::glue::set_module(m); }
