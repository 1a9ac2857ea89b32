#pragma once
// Reference text of the four decompress functions; help() puts the binding's signature line above each.
namespace quend::ingrath::doc {

inline constexpr const char* decompress_gz = R"doc(Unpack a gzip file.

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
    ``<file_out>.<random>.part`` (the name of file_out shortened as far as the
    file system's name limit needs) and renamed when complete, so a failed or interrupted
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
)doc";

inline constexpr const char* decompress_zip = R"doc(Extract every member of a zip archive into a directory.

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
    a link member, a member that would land outside extract_dir, more members
    than ``ingrath._max_extract_members`` or more declared bytes than
    ``ingrath._max_extract_bytes`` or the free disk space. A member named like
    the archive, however file_in reaches it, replaces the archive and is kept
    when remove_zip is true.

Notes
-----
Prints ``Files extracted to: <extract_dir>``.

Examples
--------
>>> ingrath.decompress_zip("two.zip", "unpacked")
Files extracted to: unpacked
'unpacked'
)doc";

inline constexpr const char* decompress_zip_and_move =
    R"doc(Extract a one-member zip archive and move the member into the working directory.

Parameters
----------
file_in : str
    The zip archive; it must hold exactly one entry (a folder entry counts).
extract_dir : str
    Temporary directory, removed afterwards when this call created it.
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
)doc";

inline constexpr const char* decompress_tar_gz =
    R"doc(Extract the one file of a tar.gz archive into the working directory.

Its one file, at the top or inside one folder, is written straight to a
fresh partial file in the working directory and then replaces a file of that
name there; no folder is unpacked (an extract_tmp/ left over by an earlier
run is removed).

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
    leaves no partial file behind.

Notes
-----
Prints ``File saved to: <name>``.

Examples
--------
>>> ingrath.decompress_tar_gz("bundle.tar.gz")
File saved to: data.h5ad
'data.h5ad'
)doc";

}  // namespace quend::ingrath::doc
