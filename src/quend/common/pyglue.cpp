#include "common/pyglue.hpp"

#include <cmath>
#include <cstring>
#include <string>

#include "common/errors.hpp"

namespace quend::glue {

namespace {
PyObject* g_module = nullptr;  // strong reference held for the process lifetime
}

void set_module(nb::module_ m) {
    Py_XDECREF(g_module);
    g_module = m.ptr();
    Py_INCREF(g_module);
}

nb::object module_object() { return nb::borrow(g_module); }

nb::object ns(const char* name) { return nb::getattr(nb::handle(g_module), name); }

namespace {
// Checked again after the import: the import may let another thread in.
nb::object imported_once(PyObject*& slot, const char* name) {
    if (!slot) {
        nb::object m = nb::module_::import_(name);
        if (!slot) slot = m.release().ptr();
    }
    return nb::borrow(slot);
}
PyObject* g_numpy = nullptr;  // strong references held for the process lifetime
PyObject* g_pandas = nullptr;
}  // namespace

nb::object numpy() { return imported_once(g_numpy, "numpy"); }

nb::object pandas() { return imported_once(g_pandas, "pandas"); }

void print(const nb::handle& text, const char* end) { builtin("print")(text, nb::arg("end") = end); }

void print(const std::string& text, const char* end) { print(nb::str(text.c_str(), text.size()), end); }

void require_str(const nb::handle& value, const char* arg_name, bool allow_none) {
    if (allow_none && value.is_none()) return;
    if (PyUnicode_CheckExact(value.ptr())) return;
    raise(PyExc_TypeError, std::string("Argument '") + arg_name + "' has incorrect type (expected str, got " +
                               py_type_name(value) + ")");
}

nb::object whole_number(const nb::handle& value, const char* arg_name) {
    if (PyObject* i = PyNumber_Index(value.ptr())) return nb::steal(i);
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
    PyErr_Clear();
    if (PyFloat_Check(value.ptr())) {
        const double d = PyFloat_AS_DOUBLE(value.ptr());
        if (std::isfinite(d) && d == std::floor(d)) return builtin("int")(value);
    }
    raise(PyExc_TypeError,
          std::string(arg_name) + " must be a whole number, got " + py_type_name(value) + " " + glue::repr(value));
}

bool truthy(const nb::handle& obj) {
    const int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) throw nb::python_error();
    return r == 1;
}

bool is_instance(const nb::handle& obj, const nb::handle& cls) {
    const int r = PyObject_IsInstance(obj.ptr(), cls.ptr());
    if (r < 0) throw nb::python_error();
    return r == 1;
}

bool contains(const nb::handle& container, const nb::handle& item) {
    const int r = PySequence_Contains(container.ptr(), item.ptr());
    if (r < 0) throw nb::python_error();
    return r == 1;
}

bool equals(const nb::handle& a, const nb::handle& b) {
    const int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (r < 0) throw nb::python_error();
    return r == 1;
}

nb::object compare(const nb::handle& a, const nb::handle& b, int op) {
    PyObject* r = PyObject_RichCompare(a.ptr(), b.ptr(), op);
    if (!r) throw nb::python_error();
    return nb::steal(r);
}

nb::str concat(std::initializer_list<nb::handle> parts) {
    nb::list pieces;
    for (nb::handle p : parts) pieces.append(p);
    return nb::borrow<nb::str>(nb::str("").attr("join")(pieces));
}

bool is_own_function(const nb::handle& f, const char* name) {
    // A public function is a builtin whose self is this module (binding.hpp);
    // under stub generation, nanobind's own object, whose type every bound
    // function shares and which lives as long as the interpreter.
    static PyTypeObject* const compiled = Py_TYPE(nb::cpp_function([] {}).ptr());
    if (PyCFunction_Check(f.ptr())) {
        if (PyCFunction_GET_SELF(f.ptr()) != g_module) return false;
    } else if (Py_TYPE(f.ptr()) != compiled) {
        return false;
    }
    return nb::getattr(f, "__name__", nb::none()).equal(nb::str(name)) &&
           nb::getattr(f, "__module__", nb::none()).equal(module_object().attr("__name__"));
}

nb::object builtin(const char* name) { return nb::module_::import_("builtins").attr(name); }

std::string to_str(const nb::handle& obj) { return nb::cast<std::string>(nb::str(obj)); }

std::string repr(const nb::handle& obj) { return nb::cast<std::string>(nb::repr(obj)); }

nb::slice py_slice(std::size_t a, std::size_t b) { return nb::slice(nb::int_(a), nb::int_(b), nb::none()); }

}  // namespace quend::glue
