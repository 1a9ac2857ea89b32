#include "tolvar/functions.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

O get_abbreviations() { quend::glue::not_built("get_abbreviations"); }

O get_abbreviations_uni() { quend::glue::not_built("get_abbreviations_uni"); }

O split_text(O, O) { quend::glue::not_built("split_text"); }

O get_axes(O, O, O, O) { quend::glue::not_built("get_axes"); }

}  // namespace quend::tolvar
