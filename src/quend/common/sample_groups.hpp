#pragma once
#include "common/nb.hpp"

namespace quend::glue {

// Sample label -> condition of the sample's first occurrence, keys ascending.
nanobind::dict sample_to_group_dict(nanobind::handle samples, nanobind::handle conditions);

// Calls the module's current `get_sample_to_group_dict`.
nanobind::object sample_to_group_map(nanobind::handle samples, nanobind::handle conditions);

// Bind the two functions on a module (deg and tolvar carry the same pair).
void bind_get_sample_to_group_dict(nanobind::module_& m);
void bind_get_sample_to_group_map(nanobind::module_& m);

}  // namespace quend::glue
