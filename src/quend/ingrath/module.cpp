// orvalen.ingrath: registry of hosted data sets, download, extraction, loaders.
#include "common/nb.hpp"

#include "common/pyglue.hpp"
#include "ingrath/functions.hpp"

namespace nb = nanobind;
using nb::arg;

NB_MODULE(ingrath, m) {
    quend::glue::set_module(m);
    auto import = [](const char* name) { return nb::module_::import_(name); };
    using namespace quend::ingrath;

    // Read the deployment data first so a broken data file fails the import
    // before anything is bound.
    Registry reg = load_registry();

    m.attr("gdown") = import("gdown");
    m.attr("gzip") = import("gzip");
    m.attr("shutil") = import("shutil");
    m.attr("os") = import("os");
    m.attr("tarfile") = import("tarfile");
    m.attr("anndata") = import("anndata");
    m.attr("zipfile") = import("zipfile");

    m.def("download_from_google_drive", &download_from_google_drive, arg("file_id").none(),
          arg("out_path").none() = "downloaded",
          nb::sig("def download_from_google_drive(file_id, out_path='downloaded')"),
          "Download one hosted file by its identifier to out_path and return out_path.\n\n"
          "The address is the module's download address followed by str(file_id); the\n"
          "download library prints its own progress. Its errors reach the caller.");
    m.def("decompress_gz", &decompress_gz, arg("file_in").none(), arg("file_out").none(),
          arg("remove_gz").none() = true,
          nb::sig("def decompress_gz(file_in, file_out, remove_gz=True)"),
          "Unpack a gzip file to file_out and return file_out, or None on failure.");
    m.def("decompress_zip", &decompress_zip, arg("file_in").none(), arg("extract_dir").none() = "./",
          arg("remove_zip").none() = true,
          nb::sig("def decompress_zip(file_in, extract_dir='./', remove_zip=True)"),
          "Extract every member of a zip archive into extract_dir and return extract_dir,\n"
          "or None on failure (also when a member would land outside extract_dir).");
    m.def("decompress_zip_and_move", &decompress_zip_and_move, arg("file_in").none(),
          arg("extract_dir").none() = "temp_extract",
          arg("remove_zip").none() = true,
          nb::sig("def decompress_zip_and_move(file_in, extract_dir='temp_extract', remove_zip=True)"),
          "Extract a one-member zip archive, move the member into the working directory\n"
          "and return its base name, or None (with a printed line) on failure.");
    m.def("decompress_tar_gz", &decompress_tar_gz, arg("file_in").none(), arg("remove_org").none() = true,
          nb::sig("def decompress_tar_gz(file_in, remove_org=True)"),
          "Extract a tar.gz archive holding one file (at the top or in one folder), move\n"
          "that file into the working directory and return its name, or None on failure\n"
          "(also when a member would land outside the extraction directory).");

    m.attr("sample_data_fid_dict_gz") = reg.sample_data_fid_dict_gz;
    m.attr("sample_data_fid_dict") = reg.sample_data_fid_dict;

    m.def("load_h5ad", &load_h5ad, arg("tissue").none(), arg("file_type").none() = "zip",
          nb::sig("def load_h5ad(tissue, file_type='zip')"),
          "Download and unpack the example data set of a tissue; return the .h5ad path,\n"
          "or None for an unknown tissue or file_type.");
    m.def("load_anndata", &load_anndata, arg("tissue").none(), arg("file_type").none() = "zip",
          nb::sig("def load_anndata(tissue, file_type='zip')"),
          "Load the example data set of a tissue as an AnnData, or None.");
    m.def("load_sample_data", &load_sample_data, arg("file_id_or_tissue_name").none(),
          arg("file_type").none() = "zip",
          nb::sig("def load_sample_data(file_id_or_tissue_name, file_type='zip')"),
          "Load an example data set by tissue name or hosted file identifier as an\n"
          "AnnData, or None after printing what went wrong.");

    m.attr("processed_sample_data_fid_dict") = reg.processed_sample_data_fid_dict;

    m.def("load_velmar_processed_anndata", &load_velmar_processed_anndata, arg("tissue").none() = nb::none(),
          arg("file_type").none() = "tar.gz",
          nb::sig("def load_velmar_processed_anndata(tissue=None, file_type='tar.gz')"),
          "Load the processed data set of a tissue as an AnnData, or None.");
    m.def("load_velmar_processed_sample_data", &load_velmar_processed_sample_data,
          arg("file_id_or_tissue_name").none() = nb::none(), arg("file_type").none() = "tar.gz",
          nb::sig("def load_velmar_processed_sample_data(file_id_or_tissue_name=None, file_type='tar.gz')"),
          "Load a processed data set by tissue name or hosted file identifier as an\n"
          "AnnData, or None after printing what went wrong.");

    // Read at every download, so a mirror or a test can point it elsewhere.
    m.attr("_download_url") = reg.download_url;
}
