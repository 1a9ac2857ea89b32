#pragma once
// Public operations of orvalen.ingrath and the helpers they share; module.cpp
// registers them.
#include "common/nb.hpp"

#include <string>

namespace quend::ingrath {

// registry.cpp: the three tables, built from the shipped deployment data.
struct Registry {
    nb::dict sample_data_fid_dict_gz;
    nb::dict sample_data_fid_dict;
    nb::dict processed_sample_data_fid_dict;
    nb::object download_url;
};
Registry load_registry();

// download.cpp
nb::object download_from_google_drive(nb::object file_id, nb::object out_path);

// extract.cpp
nb::object decompress_gz(nb::object file_in, nb::object file_out, nb::object remove_gz);
nb::object decompress_zip(nb::object file_in, nb::object extract_dir, nb::object remove_zip);
nb::object decompress_zip_and_move(nb::object file_in, nb::object extract_dir, nb::object remove_zip);
nb::object decompress_tar_gz(nb::object file_in, nb::object remove_org);

// loaders.cpp
nb::object load_h5ad(nb::object tissue, nb::object file_type);
nb::object load_anndata(nb::object tissue, nb::object file_type);
nb::object load_sample_data(nb::object file_id_or_tissue_name, nb::object file_type);
nb::object load_velmar_processed_anndata(nb::object tissue, nb::object file_type);
nb::object load_velmar_processed_sample_data(nb::object file_id_or_tissue_name, nb::object file_type);

// registry.cpp: after a failed download, one line saying so when `file_id`
// is a shipped placeholder rather than a hosted identifier.
void note_placeholder(nb::handle file_id);

}  // namespace quend::ingrath
