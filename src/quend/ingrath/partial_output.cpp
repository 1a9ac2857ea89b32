#include "ingrath/partial_output.hpp"

#include <exception>
#include <string_view>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "core/file_names.hpp"

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

// ".<12 hex digits>.part"
constexpr std::size_t kPartSuffixBytes = 18;

// The longest name the folder's file system takes; 255 where it cannot say.
std::size_t name_max(const nb::object& os, const nb::object& folder) {
    nb::object where = glue::truthy(folder) ? folder : nb::str(".");
    const long long n = glue::on_ordinary_error(
        [&] { return nb::cast<long long>(nb::int_(os.attr("pathconf")(where, "PC_NAME_MAX"))); },
        [](nb::python_error&) { return -1LL; });
    return n > 0 ? static_cast<std::size_t>(n) : 255;
}

bool lexists(nb::handle path) { return glue::truthy(glue::ns("os").attr("path").attr("lexists")(path)); }

nb::object staging_dir(const nb::object& target, bool fresh) {
    if (fresh) return target;
    return nb::module_::import_("tempfile").attr("mkdtemp")(nb::arg("prefix") = ".unpack-", nb::arg("dir") = target);
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

PartialFile fresh_part_file(nb::handle target) {
    nb::object os = glue::ns("os");
    nb::object split = os.attr("path").attr("split")(os.attr("fsdecode")(target));
    nb::object folder = split[0];
    nb::object name = os.attr("fsencode")(split[1]);
    const std::string_view raw(PyBytes_AsString(name.ptr()), static_cast<std::size_t>(PyBytes_Size(name.ptr())));
    const std::size_t keep = name_bytes_that_fit(raw, kPartSuffixBytes, name_max(os, folder));
    nb::object stem = os.attr("path").attr("join")(folder, os.attr("fsdecode")(nb::bytes(raw.data(), keep)));
    nb::object token = nb::module_::import_("secrets").attr("token_hex");
    for (int attempt = 0;; ++attempt) {
        nb::object path = nb::str("{}.{}.part").format(stem, token(6));
        try {
            return {path, glue::builtin("open")(path, "xb")};  // "x": a fresh file, never a link's target
        } catch (nb::python_error& e) {
            if (!e.matches(PyExc_FileExistsError) || attempt == 99) throw;
        }
    }
}

Staging::Staging(nb::object target)
    : fresh_(!lexists(target)), dir_(staging_dir(target, fresh_)), made_(dir_, PartialOutput::Kind::Tree) {}

void Staging::remove() {
    glue::ns("shutil").attr("rmtree")(dir_);
    made_.keep();
}

void move_tree_into(nb::handle src, nb::handle dst) {
    nb::object os = glue::ns("os");
    nb::object path = os.attr("path");
    nb::object join = path.attr("join"), relpath = path.attr("relpath");
    auto in_the_way = [&](const nb::object& where, const char* what) {
        glue::raise(PyExc_ValueError, std::string("a ") + what + " named " + glue::repr(where) + " is in the way");
    };
    // Everything is checked before the first move, so a clash leaves the
    // caller's folder untouched.
    nb::object walk = glue::builtin("list")(os.attr("walk")(src));
    for (nb::handle step : walk) {
        nb::object here = join(dst, relpath(step[0], src));
        for (nb::handle d : step[1]) {
            nb::object target = join(here, d);
            if (lexists(target) &&
                (glue::truthy(path.attr("islink")(target)) || !glue::truthy(path.attr("isdir")(target))))
                in_the_way(target, "file or link");
        }
        for (nb::handle f : step[2]) {
            nb::object target = join(here, f);
            if (!glue::truthy(path.attr("islink")(target)) && glue::truthy(path.attr("isdir")(target)))
                in_the_way(target, "folder");
        }
    }
    for (nb::handle step : walk) {
        nb::object here = join(dst, relpath(step[0], src));
        for (nb::handle d : step[1]) {
            nb::object target = join(here, d);
            if (!lexists(target)) os.attr("mkdir")(target);
        }
        for (nb::handle f : step[2]) os.attr("replace")(join(step[0], f), join(here, f));
    }
}

}  // namespace quend::ingrath
