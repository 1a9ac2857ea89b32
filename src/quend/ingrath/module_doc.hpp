#pragma once
// Reference text of orvalen.ingrath itself.
namespace quend::ingrath::doc {

inline constexpr const char* module = R"doc(Data-set loaders: fetch, unpack and load published single-cell data sets.

The loaders look a tissue name up in a registry table (or take a hosted file
identifier), download the archive as 'downloaded' in the current working
directory, unpack it (tar.gz, gz or zip) and read the .h5ad file as an
AnnData. There is no cache, and the unpacked .h5ad stays in the working
directory. Two loaders running at once in one directory interfere.

Registry tables (ordinary dictionaries, read at every call):
sample_data_fid_dict (example data sets, zip), sample_data_fid_dict_gz (gzip
variants, for direct use) and processed_sample_data_fid_dict (processed data
sets, tar.gz). They are read from orvalen/ingrath_registry.json at import.
gdown and anndata are imported on first use. Use help(ingrath.<function>) for
each function's reference.)doc";

}  // namespace quend::ingrath::doc
