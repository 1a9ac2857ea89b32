#pragma once
// The modules run in the main interpreter only. In a sub-interpreter the
// first call that makes a numpy result waits forever for a GIL state of the
// main interpreter, so the import is refused there with a clear ImportError.
#include "common/nb.hpp"

namespace quend::glue {

// ImportError naming `module` ("orvalen.deg") unless this is the main interpreter.
void require_main_interpreter(const char* module);

}  // namespace quend::glue
