#include "common/pyglue.hpp"

#include <cstring>

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

bool is_own_function(const nb::handle& f, const char* name) {
    // Compiled functions are nanobind's own type; a Python function or any
    // other callable put in its place is not.
    if (std::strcmp(Py_TYPE(f.ptr())->tp_name, "nanobind.nb_func") != 0) return false;
    return nb::getattr(f, "__name__", nb::none()).equal(nb::str(name)) &&
           nb::getattr(f, "__module__", nb::none()).equal(module_object().attr("__name__"));
}

void print(const nb::handle& text, const char* end) {
    nb::module_::import_("builtins").attr("print")(text, nb::arg("end") = end);
}

void print(const std::string& text, const char* end) { print(nb::str(text.c_str(), text.size()), end); }

void require_str(const nb::handle& value, const char* arg_name, bool allow_none) {
    if (allow_none && value.is_none()) return;
    if (PyUnicode_CheckExact(value.ptr())) return;
    PyErr_Format(PyExc_TypeError, "Argument '%s' has incorrect type (expected str, got %.200s)", arg_name,
                 Py_TYPE(value.ptr())->tp_name);
    throw nb::python_error();
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

nb::object builtin(const char* name) { return nb::module_::import_("builtins").attr(name); }

std::string to_str(const nb::handle& obj) { return nb::cast<std::string>(nb::str(obj)); }

std::string repr(const nb::handle& obj) { return nb::cast<std::string>(nb::repr(obj)); }

Float64Block float64_block(const nb::handle& array2d) {
    using Array = nb::ndarray<const double, nb::ndim<2>, nb::device::cpu>;
    Array a = nb::cast<Array>(array2d);  // no copy for float64; raises otherwise
    Float64Block b;
    b.owner = nb::borrow(array2d);
    b.view.data = a.data();
    b.view.n_items = a.shape(0);
    b.view.n_samples = a.shape(1);
    b.view.item_stride = a.stride(0);
    b.view.sample_stride = a.stride(1);
    return b;
}

}  // namespace quend::glue

namespace quend::glue {
void not_built(const char* name) {
    PyErr_Format(PyExc_NotImplementedError, "%s is not available yet", name);
    throw nb::python_error();
}
}  // namespace quend::glue
