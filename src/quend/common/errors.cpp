#include "common/errors.hpp"

namespace quend::glue {

bool is_ordinary(const nb::python_error& e) { return e.matches(PyExc_Exception); }

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

}  // namespace quend::glue
