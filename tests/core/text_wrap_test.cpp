#include "core/text_wrap.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<std::size_t> spaces_of(const std::string& s) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == ' ') out.push_back(i);
    return out;
}

std::vector<std::size_t> breaks_of(const std::string& s, double limit) {
    return quend::wrap_breaks(spaces_of(s), s.size(), limit);
}

}  // namespace

TEST(WrapBreaks, SentenceBreaksAfterSpaces) {
    EXPECT_EQ(breaks_of("The quick brown fox jumps over the lazy dog", 20), (std::vector<std::size_t>{20, 40}));
}

TEST(WrapBreaks, LastLineMayHoldOneMore) {
    // Four ten-letter words: the last two stay together (stretch 20 to the last index).
    EXPECT_EQ(breaks_of("aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd", 20), (std::vector<std::size_t>{11, 22}));
}

TEST(WrapBreaks, NoSpaceNoBreak) {
    EXPECT_TRUE(breaks_of(std::string(30, 'x'), 20).empty());
    EXPECT_TRUE(quend::wrap_breaks({}, 0, 20).empty());
}

TEST(WrapBreaks, LongWordBreaksBeforeIt) {
    EXPECT_EQ(breaks_of("ab " + std::string(30, 'x'), 20), (std::vector<std::size_t>{3}));
}

TEST(WrapBreaks, TrailingSpaceAndFractionalLimit) {
    // The last index doubles as a space: no break may fall past the text.
    EXPECT_EQ(breaks_of("aaaa bbbb ", 4.5), (std::vector<std::size_t>{5}));
    auto b = breaks_of("aaaa bbbb ", 3);
    for (auto p : b) EXPECT_LE(p, 10u);
    EXPECT_EQ(b, (std::vector<std::size_t>{5, 10}));
}
