#include "core/file_names.hpp"

#include <gtest/gtest.h>

#include <string>

using quend::name_bytes_that_fit;

TEST(NameBytesThatFit, KeepsWhatFitsWithTheSuffix) {
    EXPECT_EQ(name_bytes_that_fit("data.h5ad", 18, 255), 9u);
    EXPECT_EQ(name_bytes_that_fit(std::string(255, 'L'), 18, 255), 237u);
    EXPECT_EQ(name_bytes_that_fit("abc", 300, 255), 0u);
}

TEST(NameBytesThatFit, NeverSplitsACharacter) {
    // "x" and 80 three-byte characters: byte 237 falls inside the 79th.
    std::string name = "x";
    for (int i = 0; i < 80; ++i) name += "\xea\xb0\x80";
    EXPECT_EQ(name_bytes_that_fit(name, 18, 255), 235u);
}
