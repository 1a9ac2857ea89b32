// What the module binds at load: libraries, optional-library flags, display names.
#include <initializer_list>
#include <string>

#include "common/pyglue.hpp"
#include "tolvar/functions.hpp"

namespace quend::tolvar {

namespace {

nb::object import(const char* name) { return nb::module_::import_(name); }

// `from module import name`: a missing name is an ImportError, as it is for
// the statement, so it counts as an unavailable optional library.
nb::object import_from(const char* module, const char* name) {
    nb::object mod = import(module);
    if (nb::hasattr(mod, name)) return mod.attr(name);
    const std::string sub = std::string(module) + "." + name;
    try {
        return import(sub.c_str());
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_ImportError)) throw;
    }
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
    throw nb::python_error();
}

// A missing optional library is reported and flagged; loading never runs the
// package installer, so importing stays free of side effects on the system.
template <typename BindFn>
void bind_optional(nb::module_& m, const char* flag, const char* missing_msg, const char* cannot_msg,
                   BindFn bind) {
    if (flag) m.attr(flag) = true;
    try {
        bind();
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        quend::glue::print(std::string(missing_msg));
        quend::glue::print(std::string(cannot_msg));
        if (flag) m.attr(flag) = false;
    }
}

}  // namespace

void bind_libraries(nb::module_& m) {
    for (const char* name : {"time", "os", "copy", "datetime", "math", "random", "warnings", "subprocess", "sys"})
        m.attr(name) = import(name);
    m.attr("np") = import("numpy");
    m.attr("pd") = import("pandas");
    m.attr("plt") = import("matplotlib.pyplot");
    m.attr("mpl") = import("matplotlib");
    m.attr("met") = import("sklearn.metrics");
    m.attr("stats") = import("scipy.stats");
    m.attr("signal") = import("scipy.signal");
    m.attr("cm") = import("matplotlib.cm");
    m.attr("colormaps") = import("matplotlib").attr("colormaps");
    m.attr("figure") = import("matplotlib.pyplot").attr("figure");
    m.attr("Rectangle") = import("matplotlib.patches").attr("Rectangle");
    m.attr("cluster") = import("sklearn.cluster");
    m.attr("mixture") = import("sklearn.mixture");
    nb::object decomposition = import("sklearn.decomposition");
    m.attr("PCA") = decomposition.attr("PCA");
    m.attr("IncrementalPCA") = decomposition.attr("IncrementalPCA");
    m.attr("TruncatedSVD") = decomposition.attr("TruncatedSVD");
    m.attr("files") = import("importlib_resources").attr("files");

    bind_optional(m, "SCANVPY", "WARNING: scanpy not installed.", "WARNING: Cannot install scanpy.",
                  [&] { m.attr("sc") = import("scanpy"); });
    // anndata is a required dependency: bound whether or not scanpy is there.
    m.attr("anndata") = import("anndata");
    bind_optional(m, "STATANNOT", "WARNING: statannotations not installed or not available. ",
                  "WARNING: Cannot install statannotations.",
                  [&] { m.attr("Annotator") = import_from("statannotations.Annotator", "Annotator"); });
    bind_optional(m, "SEABORN", "WARNING: seaborn not installed or not available. ",
                  "WARNING: Cannot install seaborn.", [&] { m.attr("sns") = import("seaborn"); });
    bind_optional(m, nullptr, "WARNING: plotly not installed.", "WARNING: Cannot install plotly.",
                  [&] { m.attr("go") = import("plotly.graph_objects"); });

    m.attr("base64") = import("base64");
    m.attr("_html") = import("html");
    nb::object ipd = import("IPython.display");
    m.attr("display") = ipd.attr("display");
    m.attr("HTML") = ipd.attr("HTML");
    m.attr("Image") = ipd.attr("Image");
}

}  // namespace quend::tolvar
