#pragma once
// Recognise what a decoded payload holds from its leading bytes.
#include <cstddef>
#include <string_view>

namespace quend {

enum class ContentKind { png, jpeg, gif, webp, html, unknown };

// First match wins: PNG, JPEG, GIF, WebP (RIFF container naming WEBP within
// 16 bytes), then HTML markers in the first 200 bytes (ASCII case-folded).
ContentKind sniff_content(std::string_view bytes);

const char* content_kind_name(ContentKind kind);

}  // namespace quend
