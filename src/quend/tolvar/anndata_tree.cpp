// Text tree of an AnnData object, a dictionary or a table.
//
// The three functions reach each other through the module namespace, so a
// rebound name is honoured. While the names still hold this module's own
// functions the text is built in one buffer, without handing the growing
// text back and forth through the interpreter (which would copy it per key).
#include <cstddef>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "tolvar/op.hpp"
#include "tolvar/anndata_tree_doc.hpp"

namespace quend::tolvar {

using quend::glue::contains;
using quend::glue::is_instance;
using quend::glue::ns;
using quend::glue::truthy;

namespace {

const char* const kBranch = "\u251c\u2500\u2500 ";      // "├── "
const char* const kLastBranch = "\u2514\u2500\u2500 ";  // "└── "
const char* const kUnderBranch = "\u2502    ";          // "│    "
const char* const kUnderLast = "     ";

const char* const kDefaultLimitedKeys[] = {"gene_to_band_map",
                                           "Celltype_marker_DB",
                                           "Pathways_DB",
                                           "cnv",
                                           "DEG_grouping_vars",
                                           "DEG_stat",
                                           "DEG_vs_ref_stat",
                                           "run summary",
                                           "log",
                                           "quillmark_summary",
                                           "cnv_neighbors_info",
                                           "Zenta_summary",
                                           "lut_sample_to_cond",
                                           "analysis_parameters",
                                           "usr_param",
                                           "quillmark_results",
                                           "Zenta_result"};

struct Settings {
    nb::object max_depth, n_to_show, limited_keys;
};

// One level of nesting, bounded like the interpreter's own recursion: a dict
// that holds itself, or one nested thousands deep, raises RecursionError
// instead of overflowing the C stack. The fixed cap also holds where the
// interpreter's limit counts C levels generously (3.12 and later).
class NestingGuard {
public:
    NestingGuard() {
        if (++depth_ > kMaxNesting) {
            --depth_;
            glue::raise(PyExc_RecursionError, "maximum recursion depth exceeded while building the tree");
        }
        if (Py_EnterRecursiveCall(" while building the tree")) {
            --depth_;
            throw nb::python_error();
        }
    }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    ~NestingGuard() {
        Py_LeaveRecursiveCall();
        --depth_;
    }

private:
    static constexpr int kMaxNesting = 1000;
    static thread_local int depth_;
};
thread_local int NestingGuard::depth_ = 0;

// UTF-8 of a str; lone surrogates survive the round trip.
std::string utf8(const nb::handle& s) {
    Py_ssize_t size = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(s.ptr(), &size)) return std::string(p, static_cast<size_t>(size));
    PyErr_Clear();
    nb::object b = nb::steal(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogatepass"));
    if (!b.is_valid()) throw nb::python_error();
    return std::string(PyBytes_AS_STRING(b.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(b.ptr())));
}

nb::str from_utf8(const std::string& s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogatepass");
    if (!o) throw nb::python_error();
    return nb::steal<nb::str>(o);
}

std::string str_of(const nb::handle& obj) { return utf8(nb::str(obj)); }

std::string value_type_name(const nb::handle& obj) { return utf8(nb::str(obj.type().attr("__name__"))); }

nb::object first_n(const nb::handle& seq, const nb::handle& n) { return seq[nb::slice(nb::none(), n, nb::none())]; }

std::string join_texts(const nb::handle& items) { return utf8(nb::str(", ").attr("join")(items)); }

// The text returned by a rebound tree function must be a str.
std::string expect_text(const nb::handle& r) {
    if (!PyUnicode_CheckExact(r.ptr())) {
        glue::raise(PyExc_TypeError, "Expected str, got " + glue::py_type_name(r));
    }
    return utf8(r);
}

nb::object default_limited_keys() {
    nb::list l;
    for (const char* k : kDefaultLimitedKeys) l.append(k);
    return l;
}

std::string value_info(const nb::handle& value, const nb::handle& key_name, const nb::handle& level_of_value,
                       const Settings& s) {
    if (truthy(key_name) && contains(s.limited_keys, key_name)) return std::string();
    const std::string info = "(" + value_type_name(value) + ")";

    if (is_instance(value, ns("pd").attr("DataFrame"))) {
        nb::object cols = value.attr("columns").attr("tolist")();
        const std::string shape = str_of(value.attr("shape"));
        if (nb::int_(nb::len(cols)).operator>(s.n_to_show)) {
            nb::list shown = nb::borrow<nb::list>(PySequence_List(first_n(cols, s.n_to_show).ptr()));
            if (!shown.is_valid()) throw nb::python_error();
            shown.append("...");
            return "DataFrame " + shape + ", cols=[" + join_texts(shown) + " ])";
        }
        return "DataFrame " + shape + ", cols=" + str_of(cols) + ")";
    }
    if (nb::hasattr(value, "shape") && nb::hasattr(value, "dtype")) {
        nb::object shape = value.attr("shape");
        const size_t ndim = nb::len(shape);
        if (ndim == 0 || (ndim == 1 && shape[0].operator<(nb::int_(5)))) return str_of(value);
        return "array (shape=" + str_of(shape) + ", dtype=" + str_of(value.attr("dtype")) + ")";
    }
    if (PyDict_Check(value.ptr())) {
        // Every dict, OrderedDict included (AnnData.uns is one), reads "(dict)".
        const std::string info = "(dict)";
        if (level_of_value.is_none() || level_of_value.operator<(s.max_depth)) return info;
        nb::list keys = nb::steal<nb::list>(PySequence_List(value.attr("keys")().ptr()));
        if (!keys.is_valid()) throw nb::python_error();
        if (nb::len(keys) == 0) return info + " (empty dictionary at max depth)";
        const bool more = nb::int_(nb::len(keys)).operator>(s.n_to_show);
        nb::object shown = more ? first_n(keys, s.n_to_show) : nb::object(keys);
        nb::list texts;
        for (nb::handle k : shown) texts.append(nb::str(k));
        return info + " Keys=[" + join_texts(texts) + (more ? ", ... ]" : "]");
    }
    if (PyUnicode_Check(value.ptr())) {
        if (PyUnicode_GetLength(value.ptr()) > 79) return "(str)";
        return "'" + utf8(value) + "'";
    }
    if (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())) return str_of(value);
    if (value.is_none()) return "None";
    return info;
}

void listing(const nb::handle& obj, const nb::object& depth, const std::string& prefix, const Settings& s,
             std::string& out);
void tree(const nb::handle& obj, const nb::object& depth, const std::string& prefix, const Settings& s,
          std::string& out);

// Calls through the module namespace, straight into C++ when not rebound.
// `extra` holds the keyword arguments beyond the settings.
std::string call_value_info(const nb::handle& value, nb::dict extra, const Settings& s) {
    nb::object f = ns("_get_value_info");
    if (glue::is_own_function(f, "_get_value_info")) {
        nb::object key_name = extra.contains("key_name") ? nb::object(extra["key_name"]) : nb::none();
        nb::object level = extra.contains("level_of_value") ? nb::object(extra["level_of_value"]) : nb::none();
        return value_info(value, key_name, level, s);
    }
    extra["max_depth"] = s.max_depth;
    extra["n_to_show"] = s.n_to_show;
    extra["limited_keys"] = s.limited_keys;
    nb::object r = nb::steal(PyObject_Call(f.ptr(), nb::make_tuple(value).ptr(), extra.ptr()));
    if (!r.is_valid()) throw nb::python_error();
    return str_of(r);
}

void call_listing(const nb::handle& obj, const nb::object& depth, const std::string& prefix, const Settings& s,
                  std::string& out) {
    nb::object f = ns("_display_dict_or_dataframe_recursive");
    if (glue::is_own_function(f, "_display_dict_or_dataframe_recursive")) return listing(obj, depth, prefix, s, out);
    out = expect_text(f(obj, depth, from_utf8(prefix), nb::arg("max_depth") = s.max_depth,
                        nb::arg("n_to_show") = s.n_to_show, nb::arg("limited_keys") = s.limited_keys,
                        nb::arg("ss") = from_utf8(out)));
}

void call_tree(const nb::handle& obj, const nb::object& depth, const std::string& prefix, const Settings& s,
               std::string& out) {
    nb::object f = ns("show_anndata_tree");
    if (glue::is_own_function(f, "show_anndata_tree")) return tree(obj, depth, prefix, s, out);
    out = expect_text(f(obj, nb::arg("max_depth") = s.max_depth, nb::arg("n_to_show") = s.n_to_show,
                        nb::arg("limited_keys") = s.limited_keys, nb::arg("_current_depth") = depth,
                        nb::arg("_parent_prefix") = from_utf8(prefix), nb::arg("ss") = from_utf8(out)));
}

void listing(const nb::handle& obj, const nb::object& depth, const std::string& prefix, const Settings& s,
             std::string& out) {
    if (depth.operator>=(s.max_depth)) return;
    NestingGuard nested;
    if (!PyDict_Check(obj.ptr()) && !nb::hasattr(obj, "keys")) return;
    if (!truthy(obj)) {
        out += prefix;
        out += kLastBranch;
        out += "(empty)\n";
        return;
    }
    nb::list keys = nb::steal<nb::list>(PySequence_List(obj.attr("keys")().ptr()));
    if (!keys.is_valid()) throw nb::python_error();
    const size_t n = nb::len(keys);

    std::vector<std::string> labels(n);
    std::vector<Py_ssize_t> widths(n);
    Py_ssize_t max_key_len = 0;
    for (size_t i = 0; i < n; ++i) {
        // Through a handle, so a key that is not text is converted with str().
        nb::str text = nb::str(nb::handle(keys[i].ptr()));
        labels[i] = utf8(text);
        widths[i] = PyUnicode_GetLength(text.ptr());
        if (widths[i] > max_key_len) max_key_len = widths[i];
    }
    // A key is drawn as the last branch when only hidden keys follow it.
    std::vector<char> hidden(n);
    size_t last_visible = 0;
    bool any_visible = false;
    for (size_t i = 0; i < n; ++i) {
        hidden[i] = contains(s.limited_keys, keys[i]);
        if (!hidden[i]) last_visible = i, any_visible = true;
    }

    nb::object child_depth = depth + nb::int_(1);
    const bool expand = child_depth.operator<(s.max_depth);
    nb::object DataFrame = ns("pd").attr("DataFrame");
    for (size_t i = 0; i < n; ++i) {
        const bool is_last = !any_visible || i >= last_visible;
        nb::object key = keys[i];
        nb::object value = obj[key];
        nb::dict extra;
        extra["key_name"] = key;
        extra["level_of_value"] = child_depth;
        const std::string info = call_value_info(value, extra, s);
        if (hidden[i]) continue;
        out += prefix;
        out += is_last ? kLastBranch : kBranch;
        out += labels[i];
        out.append(static_cast<size_t>(max_key_len - widths[i]), ' ');
        out += ": ";
        out += info;
        out += '\n';
        if (expand && (PyDict_Check(value.ptr()) || is_instance(value, DataFrame)))
            call_tree(value, child_depth, prefix + (is_last ? kUnderLast : kUnderBranch), s, out);
    }
}

void tree(const nb::handle& obj, const nb::object& depth, const std::string& prefix, const Settings& s,
          std::string& out) {
    const bool top = depth.equal(nb::int_(0));
    if (top && is_instance(obj, ns("anndata").attr("AnnData"))) {
        out += "AnnData object with n_obs \u00d7 n_vars = " + str_of(obj.attr("n_obs")) + " \u00d7 " +
               str_of(obj.attr("n_vars")) + "\n";
        static const char* const names[] = {"X", "obs", "var", "obsm", "obsp", "varm", "varp", "uns"};
        nb::object components[8];
        for (int i = 0; i < 8; ++i) components[i] = obj.attr(names[i]);
        nb::object child_depth = depth + nb::int_(1);
        for (int i = 0; i < 8; ++i) {
            const bool is_last = i == 7;
            nb::dict extra;
            extra["key_name"] = names[i];
            extra["is_top_level_anndata_component"] = true;
            extra["level_of_value"] = 1;
            const std::string info = call_value_info(components[i], extra, s);
            out += prefix;
            out += is_last ? kLastBranch : kBranch;
            out += names[i];
            out += ": ";
            out += info;
            out += '\n';
            // X, obs and var are described on their line only.
            if (i >= 3 && child_depth.operator<(s.max_depth))
                call_listing(components[i], child_depth, prefix + (is_last ? kUnderLast : kUnderBranch), s, out);
        }
        return;
    }
    if (PyDict_Check(obj.ptr())) {
        if (top) out += "Dictionary Structure (top-level):\n";
        call_listing(obj, depth, prefix, s, out);
        return;
    }
    if (is_instance(obj, ns("pd").attr("DataFrame"))) {
        if (!top) return;
        nb::object cols = obj.attr("columns").attr("tolist")();
        if (nb::len(cols) > 3) {
            nb::list shortened = nb::steal<nb::list>(PySequence_List(first_n(cols, nb::int_(3)).ptr()));
            if (!shortened.is_valid()) throw nb::python_error();
            shortened.append("...");
            cols = shortened;
        }
        out +=
            "DataFrame Structure (top-level): shape=" + str_of(obj.attr("shape")) + ", columns=" + str_of(cols) + "\n";
        return;
    }
    if (!top) return;
    out += "Object Type: " + value_type_name(obj) + "\n";
    const std::string info = call_value_info(obj, nb::dict(), s);
    out += "Value Info: " + info + "\n";
}

}  // namespace

O _get_value_info(O value, O key_name, O /*is_top_level_anndata_component*/, O level_of_value, O max_depth, O n_to_show,
                  O limited_keys) {
    return from_utf8(value_info(value, key_name, level_of_value, Settings{max_depth, n_to_show, limited_keys}));
}

O _display_dict_or_dataframe_recursive(O current_obj, O current_depth, O parent_prefix, O max_depth, O n_to_show,
                                       O limited_keys, O ss) {
    quend::glue::require_str(ss, "ss", true);
    std::string out = ss.is_none() ? std::string() : utf8(ss);
    const size_t before = out.size();
    listing(current_obj, current_depth, str_of(parent_prefix), Settings{max_depth, n_to_show, limited_keys}, out);
    if (out.size() == before) return ss;  // nothing added: the text as given
    return from_utf8(out);
}

O show_anndata_tree(O obj, O max_depth, O n_to_show, O limited_keys, O _current_depth, O _parent_prefix, O ss) {
    quend::glue::require_str(ss, "ss", true);
    if (limited_keys.is_none()) limited_keys = default_limited_keys();
    std::string out = ss.is_none() ? std::string() : utf8(ss);
    tree(obj, _current_depth, str_of(_parent_prefix), Settings{max_depth, n_to_show, limited_keys}, out);
    return from_utf8(out);
}

void bind__get_value_info(nb::module_& m) {
    glue::def(m, &_get_value_info,
              "def _get_value_info(value`: typing.Any`, key_name`: collections.abc.Hashable | None`=None, "
              "is_top_level_anndata_component`: bool`=False, level_of_value`: int | None`=None, max_depth`: int`=3, "
              "n_to_show`: int`=3, limited_keys`: list[str] | None`=None)` -> str`",
              doc::_get_value_info);
}

void bind__display_dict_or_dataframe_recursive(nb::module_& m) {
    glue::def(m, &_display_dict_or_dataframe_recursive,
              "def _display_dict_or_dataframe_recursive(current_obj`: typing.Any`, current_depth`: int`, "
              "parent_prefix`: str`, max_depth`: int`=3, n_to_show`: int`=3, limited_keys`: list[str] | None`=None, "
              "ss: str` | None` = None)` -> str`",
              doc::_display_dict_or_dataframe_recursive);
}

void bind_show_anndata_tree(nb::module_& m) {
    glue::def(
        m, &show_anndata_tree,
        "def show_anndata_tree(obj`: typing.Any`, max_depth`: int`=3, n_to_show`: int`=3, limited_keys`: list[str] | "
        "None`=None, _current_depth`: int`=0, _parent_prefix`: str`='', ss`: str | None`=None)` -> str`",
        doc::show_anndata_tree);
}

}  // namespace quend::tolvar
