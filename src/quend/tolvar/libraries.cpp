// What the module binds at load: libraries, optional-library flags, display names.
#include <initializer_list>
#include <string>

#include "common/lazy_names.hpp"
#include "common/pyglue.hpp"

namespace quend::tolvar {

namespace {

using quend::glue::lazy;

// A missing optional library is reported and flagged; loading never runs the
// package installer, so importing stays free of side effects on the system.
template <typename BindFn>
void bind_optional(nb::module_& m, const char* flag, const char* missing_msg, const char* cannot_msg, BindFn bind) {
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

// The standard library is bound at once (cheap, mostly imported already); the
// rest on first use, so importing the module stays fast.
void bind_libraries(nb::module_& m) {
    quend::glue::enable_lazy_names(m);
    for (const char* name : {"time", "os", "copy", "datetime", "math", "random", "warnings", "subprocess", "sys"})
        m.attr(name) = nb::module_::import_(name);
    lazy(m, {{"np", "numpy"},
             {"pd", "pandas"},
             {"plt", "matplotlib.pyplot"},
             {"mpl", "matplotlib"},
             {"met", "sklearn.metrics"},
             {"stats", "scipy.stats"},
             {"signal", "scipy.signal"},
             {"cm", "matplotlib.cm"},
             {"colormaps", "matplotlib", "colormaps"},
             {"figure", "matplotlib.pyplot", "figure"},
             {"Rectangle", "matplotlib.patches", "Rectangle"},
             {"cluster", "sklearn.cluster"},
             {"mixture", "sklearn.mixture"}});
    for (const char* name : {"PCA", "IncrementalPCA", "TruncatedSVD"}) lazy(m, name, "sklearn.decomposition", name);
    lazy(m, "files", "importlib_resources", "files");

    bind_optional(m, "SCANVPY", "WARNING: scanpy not installed.", "WARNING: Cannot install scanpy.",
                  [&] { lazy(m, "sc", "scanpy"); });
    // anndata is a required dependency: bound whether or not scanpy is there.
    lazy(m, "anndata", "anndata");
    bind_optional(m, "STATANNOT", "WARNING: statannotations not installed or not available. ",
                  "WARNING: Cannot install statannotations.",
                  [&] { lazy(m, "Annotator", "statannotations.Annotator", "Annotator"); });
    bind_optional(m, "SEABORN", "WARNING: seaborn not installed or not available. ", "WARNING: Cannot install seaborn.",
                  [&] { lazy(m, "sns", "seaborn"); });
    bind_optional(m, nullptr, "WARNING: plotly not installed.", "WARNING: Cannot install plotly.",
                  [&] { lazy(m, "go", "plotly.graph_objects"); });

    m.attr("base64") = nb::module_::import_("base64");
    m.attr("_html") = nb::module_::import_("html");
    for (const char* name : {"display", "HTML", "Image"}) lazy(m, name, "IPython.display", name);
}

}  // namespace quend::tolvar
