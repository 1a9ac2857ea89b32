#pragma once
// Small helpers shared by the three extension modules (each links its own copy).
#include "common/nb.hpp"

#include <cstddef>
#include <initializer_list>
#include <string>

// Arrays in and out; every operation file reaches them through this header.
#include "common/arrays.hpp"

namespace quend::glue {

// The module object being initialised; functions look names up in it at call
// time so that rebinding a module attribute changes behaviour.
void set_module(nb::module_ m);
nb::object module_object();
nb::object ns(const char* name);

// numpy and pandas themselves, for the package's plumbing (result buffers,
// type checks, label factorisation): imported on first use and kept for the
// process. Reach them through ns("np") / ns("pd") wherever the call is one a
// caller may redirect by rebinding the module's name.
nb::object numpy();
nb::object pandas();

// Whether `f` is still this module's own compiled function `name`, so a
// caller may take a faster route than calling it through the namespace.
bool is_own_function(const nb::handle& f, const char* name);

// Print through the interpreter's print(), so sys.stdout is honoured.
void print(const nb::handle& text, const char* end = "\n");
void print(const std::string& text, const char* end = "\n");

// Exactly the built-in str (subclasses rejected); None allowed when asked.
void require_str(const nb::handle& value, const char* arg_name, bool allow_none);

// `value` as an int: an integer, or a float with a whole value; anything else
// raises TypeError naming the parameter and what was given.
nb::object whole_number(const nb::handle& value, const char* arg_name);

// Truth value as `if obj:` sees it; errors propagate.
bool truthy(const nb::handle& obj);

// isinstance(obj, cls), `item in container` and `a == b` as one truth value;
// errors propagate.
bool is_instance(const nb::handle& obj, const nb::handle& cls);
bool contains(const nb::handle& container, const nb::handle& item);
bool equals(const nb::handle& a, const nb::handle& b);

// a <op> b with the objects' own rich comparison (a Series gives a mask).
nb::object compare(const nb::handle& a, const nb::handle& b, int op);

// The texts joined into one str (each part must already be a str).
nb::str concat(std::initializer_list<nb::handle> parts);

// The Python slice a:b.
nb::slice py_slice(std::size_t a, std::size_t b);

// A built-in by name (float, sorted, ...).
nb::object builtin(const char* name);

// str(obj) as the interpreter renders it.
std::string to_str(const nb::handle& obj);
std::string repr(const nb::handle& obj);

}  // namespace quend::glue
