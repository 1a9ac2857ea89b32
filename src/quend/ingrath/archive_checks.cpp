#include "ingrath/archive_checks.hpp"

#include <vector>

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::ingrath {

using glue::ns;
using glue::to_str;
using glue::truthy;

namespace {

std::uint64_t setting(const char* name) {
    nb::object v = ns(name);
    const unsigned long long n = PyLong_AsUnsignedLongLong(nb::int_(v).ptr());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        glue::raise(PyExc_ValueError, std::string(name) + " must be a non-negative integer, got " + glue::repr(v));
    }
    return n;
}

[[noreturn]] void refuse(const std::string& name, const std::string& why) {
    glue::raise(PyExc_ValueError, "archive member " + glue::repr(nb::str(name.c_str(), name.size())) + " " + why);
}

// Parts of a relative member name without "." and empty parts; refuses an
// absolute name, a drive or a ".." part (a backslash counts as a separator
// there, as some unpackers read it).
bool has_control_character(const std::string& name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7f) return true;
        // U+0080..U+009F in UTF-8 (NEL among them)
        if (c == 0xc2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9f) return true;
    }
    return false;
}

std::vector<std::string> safe_parts(const std::string& name, const char* dest) {
    if (has_control_character(name)) refuse(name, "has a control character in its name");
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':'))
        refuse(name, "would be written outside " + glue::repr(nb::str(dest)));
    std::vector<std::string> parts;
    std::string cur;
    bool climbs = false;
    std::size_t seg = 0;  // start of the current backslash-or-slash segment
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const bool end = i == name.size() || name[i] == '/';
        if (end || name[i] == '\\') {
            climbs = climbs || name.compare(seg, i - seg, "..") == 0;
            seg = i + 1;
        }
        if (!end) {
            cur.push_back(name[i]);
            continue;
        }
        if (!cur.empty() && cur != ".") parts.push_back(cur);
        cur.clear();
    }
    if (climbs) refuse(name, "would be written outside " + glue::repr(nb::str(dest)));
    return parts;
}

void count_member(std::uint64_t& count, const ExtractLimits& lim) {
    if (++count > lim.members)
        glue::raise(PyExc_ValueError, "archive has more than " + std::to_string(lim.members) +
                                          " members (the limit is ingrath._max_extract_members)");
}

}  // namespace

ExtractLimits extract_limits() {
    ExtractLimits lim;
    lim.members = setting("_max_extract_members");
    lim.bytes = setting("_max_extract_bytes");
    // The real shutil: a caller may have rebound the module's name to a stub.
    nb::object usage = nb::module_::import_("shutil").attr("disk_usage")(".");
    const std::uint64_t free_bytes = nb::cast<std::uint64_t>(usage.attr("free"));
    if (free_bytes < lim.bytes) lim.bytes = free_bytes;
    return lim;
}

void check_declared_size(std::uint64_t declared, const ExtractLimits& lim) {
    if (declared > lim.bytes)
        glue::raise(PyExc_ValueError, "archive expands to " + std::to_string(declared) + " bytes, over the limit of " +
                                          std::to_string(lim.bytes) +
                                          " (ingrath._max_extract_bytes, or the free disk space)");
}

std::string tar_single_file(nb::handle tar, HeaderBudget& headers, const char* dest) {
    const ExtractLimits lim = extract_limits();
    std::uint64_t count = 0, total = 0;
    std::string file;
    std::size_t depth = 0;
    nb::object next = tar.attr("next");
    for (;;) {
        headers.used = 0;
        nb::object m = next();
        if (m.is_none()) break;
        count_member(count, lim);
        const std::string name = to_str(m.attr("name"));
        if (truthy(m.attr("issym")()) || truthy(m.attr("islnk")())) refuse(name, "is a link");
        const bool dir = truthy(m.attr("isdir")());
        if (!dir && !truthy(m.attr("isreg")())) refuse(name, "is not a regular file");
        const std::vector<std::string> parts = safe_parts(name, dest);
        if (dir) continue;
        if (parts.empty()) refuse(name, "has no file name");
        if (!file.empty()) refuse(name, "is a second file (the archive must hold one)");
        for (const auto& p : parts) file += (file.empty() ? "" : "/") + p;
        depth = parts.size();
        total += nb::cast<std::uint64_t>(m.attr("size"));
    }
    if (file.empty()) glue::raise(PyExc_ValueError, "archive holds no file");
    if (depth > 2) refuse(file, "lies deeper than one folder");
    check_declared_size(total, lim);
    return file;
}

void check_zip_members(nb::handle infos, const char* dest) {
    const ExtractLimits lim = extract_limits();
    std::uint64_t count = 0, total = 0;
    for (nb::handle info : infos) {
        count_member(count, lim);
        const std::string name = to_str(info.attr("filename"));
        safe_parts(name, dest);
        // Unix mode in the high half of external_attr: S_IFLNK.
        const unsigned long mode = nb::cast<unsigned long>(info.attr("external_attr")) >> 16;
        if ((mode & 0170000) == 0120000) refuse(name, "is a link");
        total += nb::cast<std::uint64_t>(info.attr("file_size"));
    }
    check_declared_size(total, lim);
}

void check_extract_dir(nb::handle extract_dir) {
    nb::object path = ns("os").attr("path");
    nb::object here = path.attr("realpath")(".");
    nb::object target = path.attr("realpath")(extract_dir);
    nb::object sep = ns("os").attr("sep");
    nb::object prefix = nb::steal(PyUnicode_Concat(here.ptr(), sep.ptr()));
    if (!prefix.is_valid()) throw nb::python_error();
    if (!truthy(target.attr("startswith")(prefix)) || glue::equals(target, here))
        glue::raise(PyExc_ValueError, "extract_dir " + glue::repr(extract_dir) +
                                          " must be a folder inside the working directory (it is removed afterwards)");
}

}  // namespace quend::ingrath
