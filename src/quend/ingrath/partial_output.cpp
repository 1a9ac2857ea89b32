#include "ingrath/partial_output.hpp"

#include <exception>

#include "common/pyglue.hpp"

namespace quend::ingrath {

namespace {

// The real modules, not the module's names: clean-up must work while a caller
// has rebound `os` or `shutil` to a stub.
void remove_path(const nb::object& path, PartialOutput::Kind kind) {
    nb::object os = nb::module_::import_("os");
    nb::object ospath = os.attr("path");
    if (!glue::truthy(ospath.attr("lexists")(path))) return;
    if (kind == PartialOutput::Kind::Tree && !glue::truthy(ospath.attr("islink")(path)) &&
        glue::truthy(ospath.attr("isdir")(path)))
        nb::module_::import_("shutil").attr("rmtree")(path, nb::arg("ignore_errors") = true);
    else
        os.attr("remove")(path);
}

}  // namespace

PartialOutput::~PartialOutput() {
    if (kept_) return;
    // The error on its way out stays the one reported; a failing clean-up is
    // dropped.
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    try {
        remove_path(path_, kind_);
    } catch (nb::python_error&) {
    } catch (const std::exception&) {
    }
    PyErr_Restore(type, value, tb);
}

}  // namespace quend::ingrath
