"""
Data-set loaders: fetch, unpack and load published single-cell data sets.

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
each function's reference.
"""

from typing import Any

import anndata

def download_from_google_drive(file_id: Any, out_path: str = "downloaded") -> str:
    """
    Download one hosted file by its identifier.

    Parameters
    ----------
    file_id : object
        Hosted file identifier; its text form, str(file_id), is appended to the
        module's download address (ingrath._download_url, read at every call).
    out_path : str
        File to write, in the current working directory unless a path is given.

    Returns
    -------
    str
        out_path.

    Raises
    ------
    RuntimeError
        ``Download failed: ...`` when the download library saved nothing. The
        download library's own errors reach the caller too.

    Notes
    -----
    The download library (gdown) prints its own progress.

    Examples
    --------
    >>> ingrath.download_from_google_drive("<hosted identifier>", "archive.tar.gz")
    'archive.tar.gz'
    """

def decompress_gz(file_in: str, file_out: str, remove_gz: bool = True) -> str | None:
    """
    Unpack a gzip file.

    Parameters
    ----------
    file_in : str
        The gzip file.
    file_out : str
        The file to write.
    remove_gz : bool
        Delete file_in after a successful unpacking.

    Returns
    -------
    str or None
        file_out, or None (silently) on any failure. The output is written as
        ``<file_out>.part`` and renamed when complete, so a failed or interrupted
        call leaves nothing at file_out; a link at file_out is replaced, never
        written through. The output stops at ``ingrath._max_extract_bytes``.

    Notes
    -----
    Prints ``File saved to: <file_out>``.

    Examples
    --------
    >>> ingrath.decompress_gz("data.h5ad.gz", "data.h5ad")
    File saved to: data.h5ad
    'data.h5ad'
    """

def decompress_zip(file_in: str, extract_dir: str = "./", remove_zip: bool = True) -> str | None:
    """
    Extract every member of a zip archive into a directory.

    Parameters
    ----------
    file_in : str
        The zip archive.
    extract_dir : str
        Directory to extract into (created when missing).
    remove_zip : bool
        Delete file_in after a successful extraction.

    Returns
    -------
    str or None
        extract_dir, or None (silently) on failure, including a refused archive:
        a link member, a member that would land outside extract_dir or overwrite
        file_in, more members than ``ingrath._max_extract_members`` or more
        declared bytes than ``ingrath._max_extract_bytes`` or the free disk space.

    Notes
    -----
    Prints ``Files extracted to: <extract_dir>``.

    Examples
    --------
    >>> ingrath.decompress_zip("two.zip", "unpacked")
    Files extracted to: unpacked
    'unpacked'
    """

def decompress_zip_and_move(file_in: str, extract_dir: str = "temp_extract", remove_zip: bool = True) -> str | None:
    """
    Extract a one-member zip archive and move the member into the working directory.

    Parameters
    ----------
    file_in : str
        The zip archive; it must hold exactly one entry (a folder entry counts).
    extract_dir : str
        Temporary directory, removed afterwards.
    remove_zip : bool
        Delete file_in after success.

    Returns
    -------
    str or None
        The member's base name, or None on failure.

    Notes
    -----
    On failure prints ``Zip 파일에 하나 이상의 파일이 포함되어 있습니다.`` (not
    exactly one entry; nothing is extracted) or ``오류 발생: <error>`` (any other
    error, including a refused archive as for decompress_zip, or an extract_dir
    that is not a folder inside the working directory: the working directory, one
    of its ancestors or a place outside it is refused with nothing deleted).

    Examples
    --------
    >>> ingrath.decompress_zip_and_move("one.zip")
    'data.h5ad'
    """

def decompress_tar_gz(file_in: str, remove_org: bool = True) -> str | None:
    """
    Extract the one file of a tar.gz archive into the working directory.

    The archive is unpacked into extract_tmp/ (removed first if left over and
    afterwards); its one file, at the top or inside one folder, replaces a file of
    that name in the working directory.

    Parameters
    ----------
    file_in : str
        The tar.gz archive.
    remove_org : bool
        Delete file_in after success.

    Returns
    -------
    str or None
        The file's name, or None (silently) on failure, including a refused
        archive: a link, device or pipe member, a member that would land outside
        the extraction directory, a second file, more members than
        ``ingrath._max_extract_members`` or more declared bytes than
        ``ingrath._max_extract_bytes`` or the free disk space. A failed call
        leaves no extract_tmp/ behind.

    Notes
    -----
    Prints ``File saved to: <name>``.

    Examples
    --------
    >>> ingrath.decompress_tar_gz("bundle.tar.gz")
    File saved to: data.h5ad
    'data.h5ad'
    """

# Tissue name -> hosted file identifier; aliases share an identifier.
sample_data_fid_dict_gz: dict[str, str]

# Tissue name -> hosted file identifier; aliases share an identifier.
sample_data_fid_dict: dict[str, str]

def load_h5ad(tissue: str, file_type: str = "zip") -> str | None:
    """
    Download and unpack the example data set of a tissue.

    Parameters
    ----------
    tissue : str
        A key of sample_data_fid_dict (exact, case-sensitive).
    file_type : str
        'tar.gz', 'gz' or 'zip': how the downloaded archive is unpacked.

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
    """

def load_anndata(tissue: str, file_type: str = "zip") -> anndata.AnnData | None:
    """
    Load the example data set of a tissue as an AnnData.

    Parameters
    ----------
    tissue : str
        A key of sample_data_fid_dict.
    file_type : str
        'tar.gz', 'gz' or 'zip': how the downloaded archive is unpacked.

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
    """

def load_sample_data(file_id_or_tissue_name: str, file_type: str = "zip") -> anndata.AnnData | None:
    """
    Load an example data set by tissue name or hosted file identifier.

    A key of sample_data_fid_dict goes through load_anndata; any other value is
    downloaded as an identifier.

    Parameters
    ----------
    file_id_or_tissue_name : str
        Tissue name or hosted file identifier.
    file_type : str
        'tar.gz', 'gz' or 'zip': how the downloaded archive is unpacked.

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
    """

# Tissue name -> hosted file identifier; aliases share an identifier.
processed_sample_data_fid_dict: dict[str, str]

def load_velmar_processed_anndata(tissue: str | None = None, file_type: str = "tar.gz") -> anndata.AnnData | None:
    """
    Load the processed data set of a tissue as an AnnData.

    Parameters
    ----------
    tissue : str, optional
        A key of processed_sample_data_fid_dict.
    file_type : str
        'tar.gz', 'gz' or 'zip': how the downloaded archive is unpacked.

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
    """

def load_velmar_processed_sample_data(
    file_id_or_tissue_name: str | None = None, file_type: str = "tar.gz"
) -> anndata.AnnData | None:
    """
    Load a processed data set by tissue name or hosted file identifier.

    A key of processed_sample_data_fid_dict goes through
    load_velmar_processed_anndata; any other value is downloaded as an identifier.

    Parameters
    ----------
    file_id_or_tissue_name : str, optional
        Tissue name or hosted file identifier.
    file_type : str
        'tar.gz', 'gz' or 'zip': how the downloaded archive is unpacked.

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
    """

_download_url: str = "https://drive.google.com/uc?id="

_max_extract_members: int = 10000

_max_extract_bytes: int = 68719476736
