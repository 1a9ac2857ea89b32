#include "core/content_sniff.hpp"

#include <algorithm>
#include <string>

namespace quend {

namespace {
bool starts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

ContentKind sniff_content(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (starts_with(bytes, "\x89PNG"sv)) return ContentKind::png;
    if (starts_with(bytes, "\xFF\xD8"sv)) return ContentKind::jpeg;
    if (starts_with(bytes, "GIF8"sv)) return ContentKind::gif;
    if (starts_with(bytes, "RIFF"sv) && bytes.substr(0, 16).find("WEBP"sv) != std::string_view::npos)
        return ContentKind::webp;
    std::string head(bytes.substr(0, 200));
    // Only ASCII letters are folded, as bytes.lower() does.
    std::transform(head.begin(), head.end(), head.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    for (std::string_view marker : {"<html"sv, "<!doctype"sv, "<div"sv, "<script"sv})
        if (head.find(marker) != std::string::npos) return ContentKind::html;
    return ContentKind::unknown;
}

const char* content_kind_name(ContentKind kind) {
    switch (kind) {
        case ContentKind::png: return "png";
        case ContentKind::jpeg: return "jpeg";
        case ContentKind::gif: return "gif";
        case ContentKind::webp: return "webp";
        case ContentKind::html: return "html";
        case ContentKind::unknown: break;
    }
    return "unknown";
}

}  // namespace quend
