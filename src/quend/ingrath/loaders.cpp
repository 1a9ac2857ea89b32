// Loaders: tissue name or hosted identifier -> download -> unpack -> AnnData.
#include <optional>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "common/binding.hpp"
#include "ingrath/loaders_doc.hpp"
#include "ingrath/registry.hpp"

namespace quend::ingrath {

using quend::glue::contains;
using quend::glue::equals;
using quend::glue::ns;
using quend::glue::on_ordinary_error;

namespace {

nb::object keys_of(const char* table) { return nb::steal(PySequence_List(ns(table).attr("keys")().ptr())); }

// message % ", ".join(tlst), for messages with one "%s" at the given split.
void print_with_keys(const char* before, nb::handle tlst, const char* after) {
    nb::object joined = nb::str(", ").attr("join")(tlst);
    glue::print(glue::concat({nb::str(before), joined, nb::str(after)}));
}

nb::object read_h5ad(nb::handle path) { return ns("anndata").attr("read_h5ad")(path); }

enum class Kind { TarGz, Gz, Zip, None };

Kind kind_of(nb::handle file_type) {
    if (equals(file_type, nb::str("tar.gz"))) return Kind::TarGz;
    if (equals(file_type, nb::str("gz"))) return Kind::Gz;
    if (equals(file_type, nb::str("zip"))) return Kind::Zip;
    return Kind::None;
}

// The unpacking call that matches the archive type; gz_name names the gz output.
nb::object unpack(Kind kind, nb::handle file_down, nb::handle gz_name) {
    switch (kind) {
        case Kind::TarGz: return ns("decompress_tar_gz")(file_down, nb::arg("remove_org") = true);
        case Kind::Gz: return ns("decompress_gz")(file_down, gz_name, nb::arg("remove_gz") = true);
        case Kind::Zip: return ns("decompress_zip_and_move")(file_down, nb::arg("remove_zip") = true);
        case Kind::None: break;
    }
    return nb::none();
}

nb::object tissue_h5ad_name(nb::handle tissue) {
    nb::object name = nb::steal(PyUnicode_Format(nb::str("%s.h5ad").ptr(), nb::make_tuple(tissue).ptr()));
    if (!name.is_valid()) throw nb::python_error();
    return name;
}

// Download a registered tissue's archive and unpack it; None for an unknown
// archive type. Errors of the download or the unpacking propagate.
nb::object fetch_tissue(const char* table, nb::handle tissue, nb::handle file_type) {
    nb::object file_id = ns(table)[tissue];
    nb::object file_down;
    try {
        file_down = ns("download_from_google_drive")(file_id);
    } catch (nb::python_error& e) {
        if (glue::is_ordinary(e)) note_placeholder(file_id);
        throw;
    }
    const Kind kind = kind_of(file_type);
    if (kind == Kind::None) return nb::none();
    nb::object gz_name = kind == Kind::Gz ? tissue_h5ad_name(tissue) : nb::none();
    return unpack(kind, file_down, gz_name);
}

void print_id_not_found(nb::handle tlst) {
    glue::print(std::string("ERROR: The file_id you requested does not exist."));
    print_with_keys("You can try one of ", tlst, ". ");
}

// The download of a raw identifier; an ordinary failure is reported as an
// unknown identifier (None), an interrupt propagates.
std::optional<nb::object> download_or_report(nb::handle file_id, nb::handle tlst) {
    return on_ordinary_error([&]() -> std::optional<nb::object> { return ns("download_from_google_drive")(file_id); },
                             [&](nb::python_error&) -> std::optional<nb::object> {
                                 print_id_not_found(tlst);
                                 return std::nullopt;
                             });
}

}  // namespace

nb::object load_h5ad(nb::object tissue, nb::object file_type) {
    nb::object tlst = keys_of("sample_data_fid_dict");
    if (!contains(tlst, tissue)) {
        print_with_keys("tissue must be one of ", tlst, ". ");
        return nb::none();
    }
    nb::object file_h5ad = fetch_tissue("sample_data_fid_dict", tissue, file_type);
    // Reading once proves the unpacked file usable; a failure reaches the caller.
    if (kind_of(file_type) != Kind::None) read_h5ad(file_h5ad);
    return file_h5ad;
}

nb::object load_anndata(nb::object tissue, nb::object file_type) {
    nb::object file_h5ad = ns("load_h5ad")(tissue, nb::arg("file_type") = file_type);
    if (file_h5ad.is_none()) return nb::none();
    return read_h5ad(file_h5ad);
}

nb::object load_sample_data(nb::object file_id_or_tissue_name, nb::object file_type) {
    nb::object tlst = keys_of("sample_data_fid_dict");
    if (contains(tlst, file_id_or_tissue_name)) return ns("load_anndata")(file_id_or_tissue_name, file_type);

    nb::object file_h5ad = nb::none();
    const std::optional<nb::object> downloaded = download_or_report(file_id_or_tissue_name, tlst);
    if (!downloaded) return nb::none();
    const nb::object& file_down = *downloaded;
    Kind kind = kind_of(file_type);
    if (kind != Kind::None) file_h5ad = unpack(kind, file_down, nb::str("downloaded.h5ad"));
    if (file_h5ad.is_none()) {
        glue::print(std::string("ERROR: The file_type might be a wrong one."));
        glue::print(std::string("You can try with one of tar.gz or gz for file_type argument. "));
        print_with_keys("Or, You can try one of ", tlst, " for file_id_or_tissue_name. ");
        return nb::none();
    }
    return on_ordinary_error([&] { return read_h5ad(file_h5ad); },
                             [&](nb::python_error&) {
                                 glue::print(std::string("ERROR: Cannot read the downloaded file."));
                                 print_with_keys("You can try one of ", tlst, " for file_id_or_tissue_name. ");
                                 return nb::none();
                             });
}

nb::object load_velmar_processed_anndata(nb::object tissue, nb::object file_type) {
    nb::object tlst = keys_of("processed_sample_data_fid_dict");
    if (!contains(tlst, tissue)) {
        print_with_keys("tissue must be one of ", tlst, ". ");
        return nb::none();
    }
    nb::object file_h5ad =
        on_ordinary_error([&] { return fetch_tissue("processed_sample_data_fid_dict", tissue, file_type); },
                          [](nb::python_error&) { return nb::none(); });
    if (file_h5ad.is_none()) return nb::none();
    return read_h5ad(file_h5ad);
}

nb::object load_velmar_processed_sample_data(nb::object file_id_or_tissue_name, nb::object file_type) {
    nb::object tlst = keys_of("processed_sample_data_fid_dict");
    if (contains(tlst, file_id_or_tissue_name))
        return ns("load_velmar_processed_anndata")(file_id_or_tissue_name, file_type);

    const std::optional<nb::object> downloaded = download_or_report(file_id_or_tissue_name, tlst);
    if (!downloaded) return nb::none();
    const nb::object& file_down = *downloaded;
    Kind kind = kind_of(file_type);
    if (kind == Kind::None) {
        glue::print(std::string("ERROR: The file_type might be a wrong one."));
        glue::print(std::string("You can try with one of tar.gz, zip, or gz for file_type argument. "));
        return nb::none();
    }
    // No guard here: reading a failed unpack's None raises to the caller.
    return read_h5ad(unpack(kind, file_down, nb::str("downloaded.h5ad")));
}

void bind_load_h5ad(nb::module_& m) {
    glue::def(m, &load_h5ad, "def load_h5ad(tissue`: str`, file_type`: str`='zip')` -> str | None`", doc::load_h5ad);
}

void bind_load_anndata(nb::module_& m) {
    glue::def(m, &load_anndata, "def load_anndata(tissue`: str`, file_type`: str`='zip')` -> anndata.AnnData | None`",
              doc::load_anndata);
}

void bind_load_sample_data(nb::module_& m) {
    glue::def(m, &load_sample_data,
              "def load_sample_data(file_id_or_tissue_name`: str`, file_type`: str`='zip')` -> anndata.AnnData | None`",
              doc::load_sample_data);
}

void bind_load_velmar_processed_anndata(nb::module_& m) {
    glue::def(m, &load_velmar_processed_anndata,
              "def load_velmar_processed_anndata(tissue`: str | None`=None, file_type`: str`='tar.gz')` -> "
              "anndata.AnnData | None`",
              doc::load_velmar_processed_anndata);
}

void bind_load_velmar_processed_sample_data(nb::module_& m) {
    glue::def(m, &load_velmar_processed_sample_data,
              "def load_velmar_processed_sample_data(file_id_or_tissue_name`: str | None`=None, file_type`: "
              "str`='tar.gz')` -> anndata.AnnData | None`",
              doc::load_velmar_processed_sample_data);
}

}  // namespace quend::ingrath
