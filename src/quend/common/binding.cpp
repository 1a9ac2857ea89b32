#include "common/binding.hpp"

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace quend::glue {

namespace {

struct Reader {
    const char* sig;

    [[noreturn]] void fail(const char* what) const {
        throw std::invalid_argument(std::string("cannot read the signature '") + sig + "': " + what);
    }
};

std::string_view trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\n");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\n") - b + 1);
}

// The pieces of `s` between `sep`s outside brackets and quotes. Stops at the
// first unmatched closing bracket, whose position goes to *end.
std::vector<std::string_view> split_top(const Reader& r, std::string_view s, char sep, std::size_t* end = nullptr) {
    std::vector<std::string_view> out;
    int depth = 0;
    char quote = 0;
    std::size_t start = 0, i = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == '\\') r.fail("escapes in a default");
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            if (depth-- == 0) break;
        } else if (c == sep && depth == 0) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    if (quote) r.fail("an unclosed quote");
    if (end) {
        if (i == s.size()) r.fail("an unclosed bracket");
        *end = i;
    }
    out.push_back(s.substr(start, i - start));
    return out;
}

nb::object literal(const Reader& r, std::string_view t) {
    t = trim(t);
    if (t.empty()) r.fail("an empty default");
    const char c = t.front();
    if (c == '\'' || c == '"') {
        if (t.size() < 2 || t.back() != c || t.substr(1, t.size() - 2).find(c) != std::string_view::npos)
            r.fail("a malformed str default");
        return nb::str(t.data() + 1, t.size() - 2);
    }
    if (c == '(' || c == '[') {
        if (t.back() != (c == '(' ? ')' : ']')) r.fail("a malformed tuple or list default");
        std::vector<std::string_view> items = split_top(r, t.substr(1, t.size() - 2), ',');
        const bool trailing_comma = items.size() > 1 && trim(items.back()).empty();
        if (trailing_comma || (items.size() == 1 && trim(items[0]).empty())) items.pop_back();
        if (c == '(' && items.size() == 1 && !trailing_comma) return literal(r, items[0]);  // (x) is x
        nb::list out;
        for (std::string_view item : items) out.append(literal(r, item));
        if (c == '[') return std::move(out);
        return nb::tuple(out);
    }
    if (t == "None") return nb::none();
    if (t == "True") return nb::bool_(true);
    if (t == "False") return nb::bool_(false);
    const std::string text(t);
    char* stop = nullptr;
    if (text.find_first_of(".eE") == std::string::npos) {
        const long long v = std::strtoll(text.c_str(), &stop, 10);
        if (*stop == '\0') return nb::int_(v);
    } else {
        const double v = std::strtod(text.c_str(), &stop);
        if (*stop == '\0') return nb::float_(v);
    }
    r.fail("a default that is not a literal");
}

}  // namespace

SigText read_sig(const char* sig, std::size_t n_params) {
    const Reader r{sig};
    std::string full, shown;
    bool stub_only = false;
    for (const char* c = sig; *c; ++c) {
        if (*c == '`') {
            stub_only = !stub_only;
            continue;
        }
        full += *c;
        if (!stub_only) shown += *c;
    }
    if (stub_only) r.fail("an unclosed backtick");
    const char* flag = std::getenv("ORVALEN_STUB_SIGNATURES");
    const bool for_stubs = flag && std::string_view(flag) == "1";
    std::string_view s(full);
    if (s.substr(0, 4) != "def ") r.fail("no leading 'def '");
    const std::size_t open = s.find('(');
    if (open == std::string_view::npos) r.fail("no parameter list");
    SigText out;
    out.name = std::string(trim(s.substr(4, open - 4)));
    out.line = for_stubs ? full : shown;
    out.for_stubs = for_stubs;
    std::size_t close = 0;
    std::vector<std::string_view> params = split_top(r, s.substr(open + 1), ',', &close);
    if (params.size() == 1 && trim(params[0]).empty()) params.clear();
    for (std::string_view p : params) {
        std::vector<std::string_view> parts = split_top(r, p, '=');
        if (parts.size() > 2) r.fail("a parameter with two '='");
        std::string_view name = trim(parts[0].substr(0, parts[0].find(':')));
        if (name.empty() || name.front() == '*' || name.front() == '/') r.fail("a parameter kind other than plain");
        out.params.push_back({std::string(name), parts.size() == 2 ? literal(r, parts[1]) : nb::object()});
        // Names and defaults only: inspect reads no annotations from a
        // builtin's text signature, and some shown lines carry them.
        (out.text_signature += out.text_signature.empty() ? "(" : ", ") += name;
        if (parts.size() == 2) (out.text_signature += "=") += trim(parts[1]);
    }
    out.text_signature = out.name + (out.text_signature.empty() ? "(" : out.text_signature) + ")";
    if (out.params.size() != n_params) r.fail("a parameter count other than the function's");
    return out;
}

namespace {

// One forwarder per bound function: a builtin's C function is not told which
// method table entry it was called through, so each entry gets its own.
constexpr std::size_t kForwarders = 64;
PyObject* g_targets[kForwarders];  // strong references held for the process lifetime
std::size_t g_bound = 0;

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <std::size_t I>
PyObject* forward(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return PyObject_Vectorcall(g_targets[I], args, static_cast<std::size_t>(nargs), kwnames);
}

template <std::size_t... I>
constexpr std::array<FastCall, sizeof...(I)> forwarders(std::index_sequence<I...>) {
    return {&forward<I>...};
}

constexpr std::array<FastCall, kForwarders> kForward = forwarders(std::make_index_sequence<kForwarders>{});

}  // namespace

void publish(nb::module_& m, const SigText& s, const char* doc_text) {
    if (s.for_stubs) return;
    if (g_bound == kForwarders) throw std::length_error("more bound functions than forwarders in binding.cpp");
    nb::object target = m.attr(s.name.c_str());
    // The method table entry lives as long as the builtin, that is, the process.
    // Its text: the signature, then the marker CPython splits it off at, then
    // the reference text; nanobind's own __doc__ would repeat the signature
    // line under the one help() draws from __text_signature__.
    const char* name = (new std::string(s.name))->c_str();
    const char* doc = (new std::string(s.text_signature + "\n--\n\n" + doc_text))->c_str();
    auto* def = new PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kForward[g_bound])),
                                METH_FASTCALL | METH_KEYWORDS, doc};
    nb::object fn = nb::steal(PyCFunction_NewEx(def, m.ptr(), m.attr("__name__").ptr()));
    if (!fn) throw nb::python_error();
    g_targets[g_bound++] = target.release().ptr();
    m.attr(name) = fn;
}

}  // namespace quend::glue
