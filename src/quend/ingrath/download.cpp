// Download of one hosted file through gdown.
#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "common/binding.hpp"
#include "ingrath/download_doc.hpp"

namespace quend::ingrath {

using quend::glue::ns;

nb::object download_from_google_drive(nb::object file_id, nb::object out_path) {
    nb::object url = nb::steal(PyUnicode_Concat(ns("_download_url").ptr(), nb::str(file_id).ptr()));
    if (!url.is_valid()) throw nb::python_error();
    nb::object saved = ns("gdown").attr("download")(url, out_path, nb::arg("quiet") = false);
    // gdown reports some failures by returning None instead of raising; the
    // caller would otherwise go on with a file that was never written.
    if (saved.is_none())
        glue::raise(PyExc_RuntimeError,
                    "Download failed: nothing was saved from " + glue::to_str(url) + " to " + glue::repr(out_path));
    return out_path;
}

void bind_download_from_google_drive(nb::module_& m) {
    glue::def(m, &download_from_google_drive,
              "def download_from_google_drive(file_id`: typing.Any`, out_path`: str`='downloaded')` -> str`",
              doc::download_from_google_drive);
}

}  // namespace quend::ingrath
