#pragma once
// Reference text of download_from_google_drive; help() puts the binding's signature line above it.
namespace quend::ingrath::doc {

inline constexpr const char* download_from_google_drive = R"doc(Download one hosted file by its identifier.

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
)doc";

}  // namespace quend::ingrath::doc
