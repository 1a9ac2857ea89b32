#pragma once
// The one exception policy of the binding layer.
//
// A failure path that a function describes ("returns None when the download
// fails", "prints ERROR and returns") handles ordinary exceptions only: those
// derived from Exception. KeyboardInterrupt, SystemExit and GeneratorExit
// derive from BaseException alone and always propagate, so Ctrl-C stops a
// download or an unpack instead of being reported as a missing file.
// Never use an ellipsis catch-all handler: it would swallow them too.
#include "common/nb.hpp"

#include <string>

namespace quend::glue {

// True when the caught Python error is an Exception (not a bare BaseException).
bool is_ordinary(const nb::python_error& e);

// Raise `type` (PyExc_ValueError, ...) with `message`, or with `value` as
// the exception's argument (a KeyError's missing key, a str built in Python).
[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise(PyObject* type, const nb::handle& value);

// A UserWarning with `message`, shown at the caller's line.
void warn(const std::string& message);

// The name of obj's type as the interpreter's own messages show it.
std::string py_type_name(const nb::handle& obj);

// Runs `body`; an ordinary Python exception is passed to `on_error` (whose
// result is returned), anything else propagates unchanged.
template <typename Body, typename OnError>
auto on_ordinary_error(Body&& body, OnError&& on_error) -> decltype(body()) {
    try {
        return body();
    } catch (nb::python_error& e) {
        if (!is_ordinary(e)) throw;
        return on_error(e);
    }
}

}  // namespace quend::glue
