#pragma once
// How much of a file name stays when a suffix is appended to it.
//
// File systems bound each name (not the whole path) in bytes, 255 on most.
// A temporary name made from a target's name plus a suffix keeps as much of
// the target's name as fits with the suffix, cut before a UTF-8 continuation
// byte so that no character is split. Names are raw bytes, as the file
// system stores them.
#include <cstddef>
#include <string_view>

namespace quend {

// The number of leading bytes of `name` to keep so that the kept bytes plus
// `suffix_bytes` hold at most `name_max` bytes: all of `name` when it fits,
// 0 when the suffix alone reaches the limit.
std::size_t name_bytes_that_fit(std::string_view name, std::size_t suffix_bytes, std::size_t name_max);

}  // namespace quend
