#include "core/file_names.hpp"

namespace quend {

std::size_t name_bytes_that_fit(std::string_view name, std::size_t suffix_bytes, std::size_t name_max) {
    if (name.size() + suffix_bytes <= name_max) return name.size();
    if (suffix_bytes >= name_max) return 0;
    std::size_t keep = name_max - suffix_bytes;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return keep;
}

}  // namespace quend
