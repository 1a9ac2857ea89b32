// Archive extraction in the working directory: gzip, zip and tar.gz.
#include <set>
#include <string>
#include <vector>

#include "common/pyglue.hpp"
#include "ingrath/functions.hpp"

namespace quend::ingrath {

using quend::glue::ns;
using quend::glue::to_str;
using quend::glue::truthy;


nb::object concat(const char* prefix, nb::handle value) {
    nb::object out = nb::steal(PyUnicode_Concat(nb::str(prefix).ptr(), nb::str(value).ptr()));
    if (!out.is_valid()) throw nb::python_error();
    return out;
}

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

namespace {

// The `with` statement: __exit__ sees the body's exception, and re-raises it
// unless the context suppresses it.
template <class Body>
nb::object with_context(nb::object manager, Body&& body) {
    nb::object bound = manager.attr("__enter__")();
    nb::object result;
    try {
        result = body(bound);
    } catch (nb::python_error& e) {
        nb::object tb = e.traceback();  // null when raised from C without a frame
        if (!tb.is_valid()) tb = nb::none();
        nb::object suppressed = manager.attr("__exit__")(e.type(), e.value(), tb);
        if (!truthy(suppressed)) throw;
        return nb::none();
    }
    manager.attr("__exit__")(nb::none(), nb::none(), nb::none());
    return result;
}

std::vector<std::string> split(const std::string& path, const char* seps) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (std::string(seps).find(c) != std::string::npos) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    parts.push_back(cur);
    return parts;
}

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
    return out;
}

[[noreturn]] void unsafe_member(const std::string& name, const char* dest) {
    raise(PyExc_ValueError,
          "archive member " + glue::repr(nb::str(name.c_str(), name.size())) + " would be written outside " +
              glue::repr(nb::str(dest)));
}

// Zip member names are joined onto the extraction directory (and moved from
// there), so an absolute name, a drive or a ".." part would reach outside it.
void check_zip_members(nb::handle names, const char* dest) {
    for (nb::handle h : names) {
        std::string name = to_str(h);
        bool bad = name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
        for (const auto& part : split(name, "/\\")) bad = bad || part == "..";
        if (bad) unsafe_member(name, dest);
    }
}

// Path parts of a tar member name relative to the extraction directory;
// false when the name is absolute or climbs with "..".
bool tar_parts(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    if (name.empty() || name[0] == '/') return false;
    for (const auto& part : split(name, "/")) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return false;
        parts.push_back(part);
    }
    return true;
}

bool passes_through_link(const std::vector<std::string>& parts, const std::set<std::string>& links) {
    std::vector<std::string> prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix.push_back(parts[i]);
        if (links.count(join(prefix))) return true;
    }
    return false;
}

// Checks the whole member list before anything is written. Accepted: regular
// files, directories, and links whose target stays inside, where no member
// is reached through a link (so ".." in a link target is resolved against
// real directories and lexical resolution is exact).
void check_tar_members(nb::handle members, const char* dest) {
    struct Member {
        std::string name, linkname;
        std::vector<std::string> parts;
        bool sym = false, hard = false;
    };
    std::vector<Member> all;
    std::set<std::string> links;
    std::multiset<std::string> paths;
    for (nb::handle m : members) {
        Member e;
        e.name = to_str(m.attr("name"));
        e.sym = truthy(m.attr("issym")());
        e.hard = truthy(m.attr("islnk")());
        const bool plain = truthy(m.attr("isreg")()) || truthy(m.attr("isdir")());
        if (!plain && !e.sym && !e.hard) unsafe_member(e.name, dest);  // devices, fifos
        if (!tar_parts(e.name, e.parts) || (e.parts.empty() && !truthy(m.attr("isdir")())))
            unsafe_member(e.name, dest);
        if (e.sym || e.hard) e.linkname = to_str(m.attr("linkname"));
        if (e.sym) links.insert(join(e.parts));
        paths.insert(join(e.parts));
        all.push_back(std::move(e));
    }
    for (const Member& e : all) {
        if (passes_through_link(e.parts, links)) unsafe_member(e.name, dest);
        // Writing a second member onto a link's path would write through it.
        if (e.sym && paths.count(join(e.parts)) > 1) unsafe_member(e.name, dest);
        if (e.hard) {
            std::vector<std::string> target;
            if (!tar_parts(e.linkname, target) || target.empty() || passes_through_link(target, links))
                unsafe_member(e.name, dest);
        }
        if (e.sym) {
            if (e.linkname.empty() || e.linkname[0] == '/') unsafe_member(e.name, dest);
            std::vector<std::string> target(e.parts.begin(), e.parts.end() - 1);
            const auto steps = split(e.linkname, "/");
            for (size_t i = 0; i < steps.size(); ++i) {
                const std::string& step = steps[i];
                if (step.empty() || step == ".") continue;
                if (step == "..") {
                    if (target.empty()) unsafe_member(e.name, dest);
                    target.pop_back();
                    continue;
                }
                target.push_back(step);
                bool more = false;
                for (size_t j = i + 1; j < steps.size(); ++j) more = more || (!steps[j].empty() && steps[j] != ".");
                if (more && links.count(join(target))) unsafe_member(e.name, dest);
            }
        }
    }
}

}  // namespace

nb::object decompress_gz(nb::object file_in, nb::object file_out, nb::object remove_gz) {
    try {
        nb::object builtin_open = quend::glue::builtin("open");
        return with_context(ns("gzip").attr("open")(file_in, "rb"), [&](nb::object f_in) {
            return with_context(builtin_open(file_out, "wb"), [&](nb::object f_out) {
                ns("shutil").attr("copyfileobj")(f_in, f_out);
                if (truthy(remove_gz)) ns("os").attr("remove")(file_in);
                glue::print(concat("File saved to: ", file_out));
                return file_out;
            });
        });
    } catch (...) {
        return nb::none();
    }
}

nb::object decompress_zip(nb::object file_in, nb::object extract_dir, nb::object remove_zip) {
    try {
        return with_context(ns("zipfile").attr("ZipFile")(file_in, "r"), [&](nb::object zip_ref) {
            check_zip_members(zip_ref.attr("namelist")(), to_str(extract_dir).c_str());
            zip_ref.attr("extractall")(extract_dir);
            if (truthy(remove_zip)) ns("os").attr("remove")(file_in);
            glue::print(concat("Files extracted to: ", extract_dir));
            return extract_dir;
        });
    } catch (...) {
        return nb::none();
    }
}

nb::object decompress_zip_and_move(nb::object file_in, nb::object extract_dir, nb::object remove_zip) {
    try {
        nb::object extracted_files =
            with_context(ns("zipfile").attr("ZipFile")(file_in, "r"), [&](nb::object zip_ref) {
                nb::object names = zip_ref.attr("namelist")();
                check_zip_members(names, to_str(extract_dir).c_str());
                zip_ref.attr("extractall")(extract_dir);
                return names;
            });
        if (nb::len(extracted_files) != 1) {
            glue::print(std::string("Zip 파일에 하나 이상의 파일이 포함되어 있습니다."));
            return nb::none();
        }
        nb::object member = extracted_files[0];
        nb::object os = ns("os");
        nb::object extracted_path = os.attr("path").attr("join")(extract_dir, member);
        nb::object file_out = os.attr("path").attr("basename")(member);
        ns("shutil").attr("move")(extracted_path, file_out);
        if (truthy(remove_zip)) ns("os").attr("remove")(file_in);
        ns("shutil").attr("rmtree")(extract_dir);
        return file_out;
    } catch (nb::python_error& e) {
        // Only the ordinary error family is reported; interrupts go on.
        if (!e.matches(PyExc_Exception)) throw;
        glue::print(concat("오류 발생: ", e.value()));
        return nb::none();
    } catch (const std::exception& e) {
        glue::print(std::string("오류 발생: ") + e.what());
        return nb::none();
    }
}

nb::object decompress_tar_gz(nb::object file_in, nb::object remove_org) {
    try {
        nb::object os = ns("os");
        nb::object shutil = ns("shutil");
        nb::str extract_path("extract_tmp");
        if (truthy(os.attr("path").attr("isdir")(extract_path))) shutil.attr("rmtree")(extract_path);

        nb::object tarfile = ns("tarfile");
        with_context(tarfile.attr("open")(file_in, "r:gz"), [&](nb::object tar) {
            check_tar_members(tar.attr("getmembers")(), "extract_tmp");
            // The interpreter's own filter as a second line of defence, where it has one.
            if (nb::hasattr(tarfile, "data_filter"))
                tar.attr("extractall")(nb::arg("path") = extract_path, nb::arg("filter") = "data");
            else
                tar.attr("extractall")(nb::arg("path") = extract_path);
            return nb::none();
        });

        nb::object file = os.attr("listdir")(extract_path)[0];
        nb::object file_h5ad = concat("extract_tmp/", file);
        if (truthy(os.attr("path").attr("isdir")(file_h5ad))) {
            file = os.attr("listdir")(file_h5ad)[0];
            file_h5ad = nb::steal(PyUnicode_Concat(file_h5ad.ptr(), concat("/", file).ptr()));
            if (!file_h5ad.is_valid()) throw nb::python_error();
        }
        if (truthy(os.attr("path").attr("isfile")(file))) os.attr("remove")(file);
        if (!truthy(os.attr("path").attr("isfile")(file))) shutil.attr("move")(file_h5ad, ".");
        shutil.attr("rmtree")(extract_path);
        if (truthy(remove_org)) os.attr("remove")(file_in);
        glue::print(concat("File saved to: ", file));
        return file;
    } catch (...) {
        return nb::none();
    }
}

}  // namespace quend::ingrath
