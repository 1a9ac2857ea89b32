#pragma once
// How an operation file binds a public function: its Python signature,
// written once.
//
// Contract: `def(m, fn, sig, doc)` registers `fn` under the name of `sig`, a
// Python line `def name(params) -> returns`; the parameter names and defaults
// are read from it, so they exist in one place. Text between backticks is
// for the type stubs only: help() shows the line without it, the signature
// callers have always seen, while the stub generator, run with
// ORVALEN_STUB_SIGNATURES=1 in the environment, sees the whole line. Every
// parameter accepts None (the functions check their arguments themselves). A
// default is a Python literal: None, True, False, a number, a str, or a tuple
// or list of those; it is one object, shared between calls as a Python
// default is. A line that cannot be read, or whose parameter count differs
// from fn's, fails the import.
//
// The module attribute is a builtin function forwarding to nanobind's
// function object: builtins carry `__text_signature__`, which
// inspect.signature, help() and IPython's `?` read, while nanobind's objects
// take no attributes. Its `__doc__` is `doc` alone, as a CPython builtin's
// is: help() and `?` print the signature above it, once. Under
// ORVALEN_STUB_SIGNATURES=1 the nanobind object stays, for the stub
// generator to read its typed line (its `__doc__` starts with that line).
#include "common/nb.hpp"

#include "common/thread_exit.hpp"
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace quend::glue {

struct SigParam {
    std::string name;
    nb::object default_value;  // null when the parameter is required
};

struct SigText {
    std::string name;
    std::string line;            // what the function shows, per the environment
    std::string text_signature;  // "name(params)", stub-only text left out
    bool for_stubs = false;
    std::vector<SigParam> params;
};

// Reads `sig`; `n_params` is the count the C++ function takes.
SigText read_sig(const char* sig, std::size_t n_params);

// Replaces the function just bound as `s.name` by its builtin forwarder
// documented by `doc` (see the contract), unless the stubs are being
// generated.
void publish(nb::module_& m, const SigText& s, const char* doc);

namespace detail {

using ParamArg = decltype(nb::arg("").none() = std::declval<nb::object>());

inline ParamArg param_arg(SigParam& p) { return ParamArg(nb::arg(p.name.c_str()).none(), std::move(p.default_value)); }

template <typename R, typename... A, std::size_t... I>
void def_with(nb::module_& m, R (*fn)(A...), SigText& s, const char* doc, std::index_sequence<I...>) {
    m.def(s.name.c_str(), parking(fn), param_arg(s.params[I])..., nb::sig(s.line.c_str()), doc);
}

}  // namespace detail

template <typename R, typename... A>
void def(nb::module_& m, R (*fn)(A...), const char* sig, const char* doc) {
    SigText s = read_sig(sig, sizeof...(A));
    detail::def_with(m, fn, s, doc, std::index_sequence_for<A...>{});
    publish(m, s, doc);
}

}  // namespace quend::glue
