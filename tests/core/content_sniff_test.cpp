#include "core/content_sniff.hpp"

#include <gtest/gtest.h>

#include <string>

using quend::ContentKind;
using quend::sniff_content;

TEST(SniffContent, ImageSignatures) {
    EXPECT_EQ(sniff_content(std::string("\x89PNG\r\n\x1a\n", 8)), ContentKind::png);
    EXPECT_EQ(sniff_content("\xFF\xD8\xFF\xE0"), ContentKind::jpeg);
    EXPECT_EQ(sniff_content("GIF89a"), ContentKind::gif);
    EXPECT_EQ(sniff_content(std::string("RIFF\x10\x00\x00\x00WEBPVP8 ", 16)), ContentKind::webp);
}

TEST(SniffContent, RiffThatIsNotWebpFallsThrough) {
    EXPECT_EQ(sniff_content(std::string("RIFF\x10\x00\x00\x00WAVEfmt ", 16)), ContentKind::unknown);
    EXPECT_EQ(sniff_content("RIFF....WAVE<HTML>"), ContentKind::html);
    // WEBP beyond the first 16 bytes does not count.
    EXPECT_EQ(sniff_content("RIFF............WEBP"), ContentKind::unknown);
}

TEST(SniffContent, HtmlMarkersWithinHead) {
    EXPECT_EQ(sniff_content("<!DOCTYPE html><p>x"), ContentKind::html);
    EXPECT_EQ(sniff_content("  <ScRiPt>"), ContentKind::html);
    EXPECT_EQ(sniff_content(std::string(197, ' ') + "<div>"), ContentKind::unknown);
    EXPECT_EQ(sniff_content(std::string(196, ' ') + "<div>"), ContentKind::html);
    EXPECT_EQ(sniff_content(""), ContentKind::unknown);
    // Embedded NUL bytes are data, not terminators.
    EXPECT_EQ(sniff_content(std::string("\0<html>", 7)), ContentKind::html);
}

TEST(SniffContent, KindNames) {
    EXPECT_STREQ(quend::content_kind_name(ContentKind::webp), "webp");
    EXPECT_STREQ(quend::content_kind_name(ContentKind::unknown), "unknown");
}
