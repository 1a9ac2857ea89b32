// Archive extraction in the working directory: gzip, zip and tar.gz.
//
// Every member list is checked before anything is written (archive_checks),
// outputs are written under a fresh temporary name or folder that is removed
// when the call fails or is interrupted (PartialOutput, Staging), and the
// extracted files are moved into place, without following a link at their
// destination, only once everything is read. A tar.gz holds one file, which
// is streamed into its partial file directly, through no folder.
#include <cerrno>
#include <cstdint>
#include <exception>
#include <string>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "ingrath/archive_checks.hpp"
#include "common/binding.hpp"
#include "ingrath/extract_doc.hpp"
#include "ingrath/partial_output.hpp"

namespace quend::ingrath {

using quend::glue::ns;
using quend::glue::to_str;
using quend::glue::truthy;

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

// Copies in chunks so that a gzip bomb stops at the byte limit instead of
// filling the disk (a gzip stream declares no reliable size up front).
void copy_limited(nb::handle f_in, nb::handle f_out, std::uint64_t limit) {
    constexpr Py_ssize_t kChunk = Py_ssize_t(1) << 20;
    nb::object read = f_in.attr("read"), write = f_out.attr("write");
    std::uint64_t total = 0;
    for (;;) {
        nb::object chunk = read(kChunk);
        const Py_ssize_t n = PyObject_Length(chunk.ptr());
        if (n < 0) throw nb::python_error();
        if (n == 0) return;
        total += static_cast<std::uint64_t>(n);
        if (total > limit)
            glue::raise(PyExc_ValueError, "gzip data expands beyond " + std::to_string(limit) +
                                              " bytes (ingrath._max_extract_bytes, or the free disk space)");
        write(chunk);
    }
}

[[noreturn]] void folder_in_the_way(nb::handle name) {
    glue::raise(PyExc_ValueError, "a folder named " + glue::repr(name) + " is in the way");
}

bool is_cross_device(nb::python_error& e) {
    if (!e.matches(PyExc_OSError)) return false;
    nb::object code = e.value().attr("errno");
    return nb::isinstance<nb::int_>(code) && nb::cast<int>(code) == EXDEV;
}

// Moves an extracted file to `name` in the working directory. A rename
// replaces whatever the name holds at that instant and never follows a link
// there, so nothing checked beforehand can be swapped before the move. A
// folder there is refused. Across file systems the file is first copied to a
// fresh partial file next to `name`, which is then renamed the same way.
void place_file(nb::handle src, nb::handle name) {
    nb::object replace = ns("os").attr("replace");
    bool folder = false, other_device = false;
    try {
        replace(src, name);
        return;
    } catch (nb::python_error& e) {
        folder = e.matches(PyExc_IsADirectoryError);
        other_device = is_cross_device(e);
        if (!folder && !other_device) throw;
    }
    if (folder) folder_in_the_way(name);
    PartialFile part = fresh_part_file(name);
    PartialOutput partial(part.path, PartialOutput::Kind::File);
    with_context(part.file, [&](nb::object f_out) {
        return with_context(glue::builtin("open")(src, "rb"),
                            [&](nb::object f_in) { return ns("shutil").attr("copyfileobj")(f_in, f_out); });
    });
    try {
        replace(part.path, name);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_IsADirectoryError)) throw;
        folder = true;
    }
    if (folder) folder_in_the_way(name);
    partial.keep();
}

// The archive's identity as it was opened, when it is to be removed (None
// otherwise). Its name is deleted afterwards only while it still holds that
// file: an output that took the archive's place (a member named like it,
// reached directly or through a link) is the result and stays.
nb::object identity(nb::handle file_in, nb::handle remove) {
    return truthy(remove) ? ns("os").attr("stat")(file_in) : nb::none();
}

void remove_input(nb::handle file_in, nb::handle opened) {
    if (opened.is_none()) return;
    nb::object os = ns("os");
    nb::object path = os.attr("path");
    if (truthy(path.attr("exists")(file_in)) && !truthy(path.attr("samestat")(os.attr("stat")(file_in), opened)))
        return;
    os.attr("remove")(file_in);
}

// The one regular file of a checked tar archive, streamed straight into a
// fresh partial file next to `file` and moved into place. No folder is
// unpacked, so none can be swapped for a link to an outside folder between
// its creation and the writes into it.
void write_single_file(nb::handle tar, nb::handle file) {
    nb::object info;
    for (nb::handle m : tar.attr("getmembers")())
        if (truthy(m.attr("isreg")())) info = nb::borrow(m);
    const std::uint64_t limit = extract_limits().bytes;
    PartialFile part = fresh_part_file(file);
    PartialOutput partial(part.path, PartialOutput::Kind::File);  // also the copy's source after a cross-device move
    with_context(part.file, [&](nb::object f_out) {
        return with_context(tar.attr("extractfile")(info), [&](nb::object f_in) {
            copy_limited(f_in, f_out, limit);
            return nb::none();
        });
    });
    nb::object mtime = info.attr("mtime");
    ns("os").attr("utime")(part.path, nb::make_tuple(mtime, mtime));
    place_file(part.path, file);
}

// The silent failure path: None for an ordinary error (a C++ one included);
// an interrupt or exit request propagates. A handler's rethrow is not caught
// by its sibling handler.
template <class Body>
nb::object none_on_failure(Body&& body) {
    try {
        return body();
    } catch (nb::python_error& e) {
        if (!glue::is_ordinary(e)) throw;
        return nb::none();
    } catch (const std::exception&) {
        return nb::none();
    }
}

}  // namespace

nb::object decompress_gz(nb::object file_in, nb::object file_out, nb::object remove_gz) {
    auto body = [&]() -> nb::object {
        nb::object os = ns("os");
        return with_context(ns("gzip").attr("open")(file_in, "rb"), [&](nb::object f_in) {
            nb::object opened = identity(file_in, remove_gz);
            const std::uint64_t limit = extract_limits().bytes;
            PartialFile part = fresh_part_file(file_out);
            PartialOutput partial(part.path, PartialOutput::Kind::File);
            with_context(part.file, [&](nb::object f_out) {
                copy_limited(f_in, f_out, limit);
                return nb::none();
            });
            os.attr("replace")(part.path, file_out);  // replaces a link at file_out, not its target
            partial.keep();
            remove_input(file_in, opened);
            glue::print(glue::concat({nb::str("File saved to: "), nb::str(file_out)}));
            return file_out;
        });
    };
    return none_on_failure(body);
}

nb::object decompress_zip(nb::object file_in, nb::object extract_dir, nb::object remove_zip) {
    auto body = [&]() -> nb::object {
        return with_context(ns("zipfile").attr("ZipFile")(file_in, "r"), [&](nb::object zip_ref) {
            nb::object opened = identity(file_in, remove_zip);
            check_zip_members(zip_ref.attr("infolist")(), to_str(extract_dir).c_str());
            // Into a folder that exists, members are unpacked beside it first,
            // so one named like the archive replaces it only once all is read.
            Staging stage(extract_dir);
            zip_ref.attr("extractall")(stage.dir());
            if (stage.fresh()) {
                stage.keep();
            } else {
                move_tree_into(stage.dir(), extract_dir);
                stage.remove();
            }
            remove_input(file_in, opened);
            glue::print(glue::concat({nb::str("Files extracted to: "), nb::str(extract_dir)}));
            return extract_dir;
        });
    };
    return none_on_failure(body);
}

nb::object decompress_zip_and_move(nb::object file_in, nb::object extract_dir, nb::object remove_zip) {
    try {
        check_extract_dir(extract_dir);
        nb::object member = nb::none(), opened;
        Staging stage(extract_dir);
        with_context(ns("zipfile").attr("ZipFile")(file_in, "r"), [&](nb::object zip_ref) {
            opened = identity(file_in, remove_zip);
            nb::object infos = zip_ref.attr("infolist")();
            // Counted before extracting, so a many-member archive writes nothing.
            if (nb::len(infos) != 1) return nb::none();
            check_zip_members(infos, to_str(extract_dir).c_str());
            if (truthy(infos[0].attr("is_dir")()))
                glue::raise(PyExc_ValueError,
                            "archive member " + glue::repr(infos[0].attr("filename")) + " is a folder, not a file");
            zip_ref.attr("extractall")(stage.dir());
            member = infos[0].attr("filename");
            return nb::none();
        });
        if (member.is_none()) {
            glue::print(std::string("Zip 파일에 하나 이상의 파일이 포함되어 있습니다."));
            return nb::none();
        }
        nb::object os = ns("os");
        nb::object extracted_path = os.attr("path").attr("join")(stage.dir(), member);
        nb::object file_out = os.attr("path").attr("basename")(member);
        place_file(extracted_path, file_out);
        remove_input(file_in, opened);
        stage.remove();  // extract_dir itself only when this call made it
        return file_out;
    } catch (nb::python_error& e) {
        // Only the ordinary error family is reported; interrupts go on.
        if (!glue::is_ordinary(e)) throw;
        glue::print(glue::concat({nb::str("오류 발생: "), nb::str(e.value())}));
        return nb::none();
    } catch (const std::exception& e) {
        glue::print(std::string("오류 발생: ") + e.what());
        return nb::none();
    }
}

nb::object decompress_tar_gz(nb::object file_in, nb::object remove_org) {
    auto body = [&]() -> nb::object {
        nb::object os = ns("os");
        // A folder left over by an earlier run goes; this call writes none.
        nb::str extract_path("extract_tmp");
        if (truthy(os.attr("path").attr("islink")(extract_path)))
            os.attr("remove")(extract_path);
        else if (truthy(os.attr("path").attr("isdir")(extract_path)))
            ns("shutil").attr("rmtree")(extract_path);

        nb::object tarfile = ns("tarfile");
        nb::object file;
        // tarfile reads the decompressed stream (the interpreter's gzip, as its
        // own "r:gz" would) through a guard that bounds what one member's
        // headers may take (pax records, GNU long names).
        nb::object gz = nb::module_::import_("gzip").attr("GzipFile")(file_in, "rb");
        nb::object opened = identity(file_in, remove_org);
        with_context(gz, [&](nb::object stream) {
            TarStream guarded = guarded_tar_stream(stream);
            return with_context(tarfile.attr("open")(nb::none(), "r:", guarded.reader), [&](nb::object tar) {
                const std::string member = tar_single_file(tar, *guarded.headers, "extract_tmp");
                guarded.headers->armed = false;  // member data from here on
                file = os.attr("path").attr("basename")(nb::str(member.c_str(), member.size()));
                write_single_file(tar, file);
                return nb::none();
            });
        });
        remove_input(file_in, opened);
        glue::print(glue::concat({nb::str("File saved to: "), nb::str(file)}));
        return file;
    };
    return none_on_failure(body);
}

void bind_decompress_gz(nb::module_& m) {
    glue::def(m, &decompress_gz,
              "def decompress_gz(file_in`: str`, file_out`: str`, remove_gz`: bool`=True)` -> str | None`",
              doc::decompress_gz);
}

void bind_decompress_zip(nb::module_& m) {
    glue::def(m, &decompress_zip,
              "def decompress_zip(file_in`: str`, extract_dir`: str`='./', remove_zip`: bool`=True)` -> str | None`",
              doc::decompress_zip);
}

void bind_decompress_zip_and_move(nb::module_& m) {
    glue::def(m, &decompress_zip_and_move,
              "def decompress_zip_and_move(file_in`: str`, extract_dir`: str`='temp_extract', remove_zip`: "
              "bool`=True)` -> str | None`",
              doc::decompress_zip_and_move);
}

void bind_decompress_tar_gz(nb::module_& m) {
    glue::def(m, &decompress_tar_gz, "def decompress_tar_gz(file_in`: str`, remove_org`: bool`=True)` -> str | None`",
              doc::decompress_tar_gz);
}

}  // namespace quend::ingrath
