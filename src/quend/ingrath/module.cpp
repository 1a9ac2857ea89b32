// orvalen.ingrath: registry of hosted data sets, download, extraction, loaders.
#include "common/nb.hpp"

#include "common/lazy_names.hpp"
#include "common/pyglue.hpp"
#include "ingrath/docstrings.hpp"
#include "ingrath/functions.hpp"

namespace nb = nanobind;
using nb::arg;

NB_MODULE(ingrath, m) {
    quend::glue::set_module(m);
    m.doc() = quend::ingrath::doc::module;
    auto import = [](const char* name) { return nb::module_::import_(name); };
    using namespace quend::ingrath;

    // Read the deployment data first so a broken data file fails the import
    // before anything is bound.
    Registry reg = load_registry();

    // gdown and anndata are imported on first use, so importing stays fast.
    quend::glue::enable_lazy_names(m);
    quend::glue::lazy(m, "gdown", "gdown");
    m.attr("gzip") = import("gzip");
    m.attr("shutil") = import("shutil");
    m.attr("os") = import("os");
    m.attr("tarfile") = import("tarfile");
    quend::glue::lazy(m, "anndata", "anndata");
    m.attr("zipfile") = import("zipfile");

    m.def("download_from_google_drive", &download_from_google_drive, arg("file_id").none(),
          arg("out_path").none() = "downloaded",
          nb::sig("def download_from_google_drive(file_id, out_path='downloaded')"), doc::download_from_google_drive);
    m.def("decompress_gz", &decompress_gz, arg("file_in").none(), arg("file_out").none(),
          arg("remove_gz").none() = true, nb::sig("def decompress_gz(file_in, file_out, remove_gz=True)"),
          doc::decompress_gz);
    m.def("decompress_zip", &decompress_zip, arg("file_in").none(), arg("extract_dir").none() = "./",
          arg("remove_zip").none() = true, nb::sig("def decompress_zip(file_in, extract_dir='./', remove_zip=True)"),
          doc::decompress_zip);
    m.def("decompress_zip_and_move", &decompress_zip_and_move, arg("file_in").none(),
          arg("extract_dir").none() = "temp_extract", arg("remove_zip").none() = true,
          nb::sig("def decompress_zip_and_move(file_in, extract_dir='temp_extract', remove_zip=True)"),
          doc::decompress_zip_and_move);
    m.def("decompress_tar_gz", &decompress_tar_gz, arg("file_in").none(), arg("remove_org").none() = true,
          nb::sig("def decompress_tar_gz(file_in, remove_org=True)"), doc::decompress_tar_gz);

    m.attr("sample_data_fid_dict_gz") = reg.sample_data_fid_dict_gz;
    m.attr("sample_data_fid_dict") = reg.sample_data_fid_dict;

    m.def("load_h5ad", &load_h5ad, arg("tissue").none(), arg("file_type").none() = "zip",
          nb::sig("def load_h5ad(tissue, file_type='zip')"), doc::load_h5ad);
    m.def("load_anndata", &load_anndata, arg("tissue").none(), arg("file_type").none() = "zip",
          nb::sig("def load_anndata(tissue, file_type='zip')"), doc::load_anndata);
    m.def("load_sample_data", &load_sample_data, arg("file_id_or_tissue_name").none(), arg("file_type").none() = "zip",
          nb::sig("def load_sample_data(file_id_or_tissue_name, file_type='zip')"), doc::load_sample_data);

    m.attr("processed_sample_data_fid_dict") = reg.processed_sample_data_fid_dict;

    m.def("load_velmar_processed_anndata", &load_velmar_processed_anndata, arg("tissue").none() = nb::none(),
          arg("file_type").none() = "tar.gz",
          nb::sig("def load_velmar_processed_anndata(tissue=None, file_type='tar.gz')"),
          doc::load_velmar_processed_anndata);
    m.def("load_velmar_processed_sample_data", &load_velmar_processed_sample_data,
          arg("file_id_or_tissue_name").none() = nb::none(), arg("file_type").none() = "tar.gz",
          nb::sig("def load_velmar_processed_sample_data(file_id_or_tissue_name=None, file_type='tar.gz')"),
          doc::load_velmar_processed_sample_data);

    // Read at every download, so a mirror or a test can point it elsewhere.
    m.attr("_download_url") = reg.download_url;
    // Extraction limits, read at every call: an archive with more members, or
    // declaring more bytes (never more than the free disk space), is refused
    // before anything is written.
    m.attr("_max_extract_members") = 10000;
    m.attr("_max_extract_bytes") = nb::int_(64LL << 30);
}
