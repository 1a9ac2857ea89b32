#pragma once
// Reference text of the five loaders; help() puts the binding's signature line above each.
namespace quend::ingrath::doc {

// Shared by the loaders that print the names they accept.
#define QUEND_INGRATH_FILE_TYPE \
    "file_type : str\n    'tar.gz', 'gz' or 'zip': how the downloaded archive is unpacked.\n"

inline constexpr const char* load_h5ad = R"doc(Download and unpack the example data set of a tissue.

Parameters
----------
tissue : str
    A key of sample_data_fid_dict (exact, case-sensitive).
)doc" QUEND_INGRATH_FILE_TYPE R"doc(
Returns
-------
str or None
    Name of the .h5ad file in the working directory (the 'gz' type writes
    <tissue>.h5ad), or None: after printing ``tissue must be one of <names>. ``
    for an unknown name, silently for an unknown file_type (the downloaded
    file then stays). The file is read once to check it.

Raises
------
Exception
    Download, unpacking and reading errors.

Examples
--------
>>> path = ingrath.load_h5ad("Melanoma")
)doc";

inline constexpr const char* load_anndata = R"doc(Load the example data set of a tissue as an AnnData.

Parameters
----------
tissue : str
    A key of sample_data_fid_dict.
)doc" QUEND_INGRATH_FILE_TYPE R"doc(
Returns
-------
anndata.AnnData or None
    None with load_h5ad's message for an unknown name, silently for an
    unknown file_type.

Raises
------
Exception
    Download, unpacking and reading errors.

Examples
--------
>>> adata = ingrath.load_anndata("Pancreas")
)doc";

inline constexpr const char* load_sample_data = R"doc(Load an example data set by tissue name or hosted file identifier.

A key of sample_data_fid_dict goes through load_anndata; any other value is
downloaded as an identifier.

Parameters
----------
file_id_or_tissue_name : str
    Tissue name or hosted file identifier.
)doc" QUEND_INGRATH_FILE_TYPE R"doc(
Returns
-------
anndata.AnnData or None
    None after printing what went wrong (see Notes).

Notes
-----
For an identifier, prints on failure:
``ERROR: The file_id you requested does not exist.`` and
``You can try one of <names>. `` when the download fails;
``ERROR: The file_type might be a wrong one.``,
``You can try with one of tar.gz or gz for file_type argument. `` and
``Or, You can try one of <names> for file_id_or_tissue_name. `` for an
unknown file_type or an archive that did not unpack;
``ERROR: Cannot read the downloaded file.`` and
``You can try one of <names> for file_id_or_tissue_name. `` when the
unpacked file cannot be read.

Examples
--------
>>> adata = ingrath.load_sample_data("Lung")
)doc";

inline constexpr const char* load_velmar_processed_anndata =
    R"doc(Load the processed data set of a tissue as an AnnData.

Parameters
----------
tissue : str, optional
    A key of processed_sample_data_fid_dict.
)doc" QUEND_INGRATH_FILE_TYPE R"doc(
Returns
-------
anndata.AnnData or None
    None silently when the download or unpacking fails or file_type is
    unknown; after printing ``tissue must be one of <names>. `` for a name
    that is not in processed_sample_data_fid_dict (also for None).

Raises
------
Exception
    The reading error when the unpacked file cannot be read.

Examples
--------
>>> adata = ingrath.load_velmar_processed_anndata("Breast")
)doc";

inline constexpr const char* load_velmar_processed_sample_data =
    R"doc(Load a processed data set by tissue name or hosted file identifier.

A key of processed_sample_data_fid_dict goes through
load_velmar_processed_anndata; any other value is downloaded as an identifier.

Parameters
----------
file_id_or_tissue_name : str, optional
    Tissue name or hosted file identifier.
)doc" QUEND_INGRATH_FILE_TYPE R"doc(
Returns
-------
anndata.AnnData or None
    None after printing what went wrong (see Notes).

Raises
------
Exception
    The reading error when the unpacked file cannot be read, and, for an
    identifier, when the archive did not unpack (for a tissue name a failed
    download or unpacking returns None silently).

Notes
-----
While the registry holds the shipped placeholder identifiers, a failed
download first prints one line saying so and pointing to docs/deployment.md.
Prints on failure ``ERROR: The file_id you requested does not exist.`` and
``You can try one of <names>. `` when the download fails, or
``ERROR: The file_type might be a wrong one.`` and
``You can try with one of tar.gz, zip, or gz for file_type argument. `` for an
unknown file_type.

Examples
--------
>>> adata = ingrath.load_velmar_processed_sample_data("Lung")
)doc";

#undef QUEND_INGRATH_FILE_TYPE

}  // namespace quend::ingrath::doc
