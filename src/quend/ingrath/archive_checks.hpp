#pragma once
// What an archive may hold before anything of it is written.
//
// The archives carry data files, so every member is a regular file or a
// directory under a relative name without ".." parts or control characters
// (a newline in a name would forge a printed line); links, devices and pipes
// are refused. The member count and the total declared size are bounded by the
// module's `_max_extract_members` and `_max_extract_bytes` (read at every call)
// and by the free space of the working directory's disk. A refusal raises
// ValueError naming the member or the limit.
#include "common/nb.hpp"

#include <cstdint>
#include <string>

#include "ingrath/tar_stream.hpp"

namespace quend::ingrath {

struct ExtractLimits {
    std::uint64_t members = 0;
    std::uint64_t bytes = 0;  // already capped by the free disk space
};
ExtractLimits extract_limits();

// Raises ValueError when `declared` bytes would break the byte limit.
void check_declared_size(std::uint64_t declared, const ExtractLimits& lim);

// Reads the members of an open tar archive one at a time, stopping at the
// member limit, checks each and returns the name (relative, normalised) of
// its one regular file, at the top or inside one folder. `headers` is reset
// before each member, so every member's headers have the whole budget.
std::string tar_single_file(nb::handle tar, HeaderBudget& headers, const char* dest);

// Checks every entry of zipfile.ZipFile.infolist().
void check_zip_members(nb::handle infos, const char* dest);

// extract_dir must lie strictly inside the working directory: it is cleared
// afterwards, so the working directory itself or an ancestor would be deleted.
void check_extract_dir(nb::handle extract_dir);

}  // namespace quend::ingrath
