#include "common/main_interpreter.hpp"

#include <string>

namespace quend::glue {

void require_main_interpreter(const char* module) {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return;
    // Thrown as a C++ exception so the module's init reports this text as the
    // ImportError itself, not as the cause of a generic one.
    throw nb::import_error((std::string(module) +
                            " cannot be imported in a sub-interpreter: it supports the main interpreter only "
                            "(numpy, which it returns results in, does not support sub-interpreters either); "
                            "import it in the main interpreter")
                               .c_str());
}

}  // namespace quend::glue
