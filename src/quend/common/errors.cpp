#include "common/errors.hpp"

namespace quend::glue {

bool is_ordinary(const nb::python_error& e) { return e.matches(PyExc_Exception); }

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

void warn(const std::string& message) {
    if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) < 0) throw nb::python_error();
}

void raise(PyObject* type, const nb::handle& value) {
    PyErr_SetObject(type, value.ptr());
    throw nb::python_error();
}

std::string py_type_name(const nb::handle& obj) { return std::string(Py_TYPE(obj.ptr())->tp_name).substr(0, 200); }

}  // namespace quend::glue
