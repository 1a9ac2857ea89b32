// Inline display of base64-encoded images and HTML documents in a notebook.
#include <string>
#include <string_view>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "core/content_sniff.hpp"
#include "tolvar/op.hpp"
#include "tolvar/display_base64_doc.hpp"

namespace quend::tolvar {

using quend::glue::concat;
using quend::glue::ns;

namespace {

// Base64 wrapped over several lines is accepted: all whitespace goes.
nb::str without_whitespace(const nb::handle& text) {
    return nb::borrow<nb::str>(nb::str("").attr("join")(text.attr("split")()));
}

std::string_view bytes_view(const nb::handle& b) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(b.ptr(), &data, &size) != 0) throw nb::python_error();
    return std::string_view(data, static_cast<std::size_t>(size));
}

// `w, h = pair`, with the interpreter's own unpacking errors.
std::pair<nb::object, nb::object> unpack_pair(const nb::handle& pair) {
    PyObject* it = PyObject_GetIter(pair.ptr());
    if (!it) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            glue::raise(PyExc_TypeError, "cannot unpack non-iterable " + glue::py_type_name(pair) + " object");
        }
        throw nb::python_error();
    }
    nb::object iter = nb::steal(it);
    nb::object items[2];
    for (int k = 0; k < 2; ++k) {
        PyObject* item = PyIter_Next(iter.ptr());
        if (!item) {
            if (PyErr_Occurred()) throw nb::python_error();
            glue::raise(PyExc_ValueError, "not enough values to unpack (expected 2, got " + std::to_string(k) + ")");
        }
        items[k] = nb::steal(item);
    }
    PyObject* extra = PyIter_Next(iter.ptr());
    if (extra) {
        Py_DECREF(extra);
        glue::raise(PyExc_ValueError, "too many values to unpack (expected 2)");
    }
    if (PyErr_Occurred()) throw nb::python_error();
    return {items[0], items[1]};
}

void show_one(const nb::handle& text, const nb::handle& use_html_img, const nb::handle& iframe_size) {
    nb::str b64 = without_whitespace(text);
    nb::str kind = nb::borrow<nb::str>(nb::str(ns("_detect_base64_type")(b64)));
    const std::string k = kind.c_str();
    if (k == "png" || k == "jpeg" || k == "gif" || k == "webp") {
        if (quend::glue::truthy(use_html_img)) {
            nb::object escaped = ns("_html").attr("escape")(b64);
            nb::str markup = concat({nb::str("\n                <div style=\"width:100%; overflow:auto;\">\n"
                                             "                  <img src=\"data:image/"),
                                     kind, nb::str(";base64,"), nb::str(escaped),
                                     nb::str("\"\n                       style=\"max-width:100%; height:auto; "
                                             "display:block;\">\n                </div>\n                ")});
            ns("display")(ns("HTML")(markup));
        } else {
            nb::object data = ns("base64").attr("b64decode")(b64);
            ns("display")(ns("Image")(nb::arg("data") = data));
        }
    } else if (k == "html") {
        // Only the head was decoded to sniff the kind: the rest of the text is
        // arbitrary, so every attribute value is escaped (valid base64 and
        // plain numbers read the same).
        nb::object escape = ns("_html").attr("escape");
        nb::str src = concat({nb::str("data:text/html;base64,"), b64});
        auto [w, h] = unpack_pair(iframe_size);
        nb::str markup = concat({nb::str("\n            <iframe src=\""), nb::str(escape(src)), nb::str("\" width=\""),
                                 nb::str(escape(nb::str(w))), nb::str("\" height=\""), nb::str(escape(nb::str(h))),
                                 nb::str("\"\n                    frameborder=\"0\"></iframe>\n            ")});
        ns("display")(ns("HTML")(markup));
    } else {
        quend::glue::print(std::string("\u26a0\ufe0f Unknown base64 type \u2014 cannot display"));
    }
}

}  // namespace

O _detect_base64_type(O b64) {
    quend::glue::require_str(b64, "b64", false);
    // Undecodable input is just not recognised; interrupts still propagate.
    nb::object decoded = quend::glue::on_ordinary_error(
        [&]() -> nb::object {
            nb::str clean = without_whitespace(b64);
            nb::object head = clean[nb::slice(nb::none(), nb::int_(2000), nb::none())];
            return ns("base64").attr("b64decode")(head, nb::arg("validate") = false);
        },
        [](nb::python_error&) { return nb::object(); });
    if (!decoded.is_valid() || !PyBytes_Check(decoded.ptr())) return nb::str("unknown");
    return nb::str(quend::content_kind_name(quend::sniff_content(bytes_view(decoded))));
}

O display_base64_auto(O imgs, O use_html_img, O iframe_size) {
    if (PyUnicode_Check(imgs.ptr())) {
        show_one(imgs, use_html_img, iframe_size);
    } else if (PyList_Check(imgs.ptr())) {
        for (nb::handle item : imgs)
            if (PyUnicode_Check(item.ptr())) show_one(item, use_html_img, iframe_size);
    } else if (PyDict_Check(imgs.ptr())) {
        for (nb::handle value : imgs.attr("values")())
            if (PyUnicode_Check(value.ptr())) show_one(value, use_html_img, iframe_size);
    }
    return nb::none();
}

void bind__detect_base64_type(nb::module_& m) {
    glue::def(m, &_detect_base64_type, "def _detect_base64_type(b64: str)` -> str`", doc::_detect_base64_type);
}

void bind_display_base64_auto(nb::module_& m) {
    glue::def(m, &display_base64_auto,
              "def display_base64_auto(imgs`: str | list[typing.Any] | dict[typing.Any, typing.Any]`, use_html_img`: "
              "bool`=True, iframe_size`: tuple[typing.Any, typing.Any]`=(900, 500))` -> None`",
              doc::display_base64_auto);
}

}  // namespace quend::tolvar
