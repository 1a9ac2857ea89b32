#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/row_order.hpp"

TEST(RowOrder, GroupsRowsStablyAndCopiesThem) {
    const std::vector<std::int64_t> codes = {1, 0, -1, 1, 0};
    const quend::GroupedRows g = quend::rows_by_group(codes.data(), codes.size(), 2);
    EXPECT_EQ(g.rows, (std::vector<std::int64_t>{1, 4, 0, 3}));
    EXPECT_EQ(g.codes, (std::vector<std::int64_t>{0, 0, 1, 1}));

    // Row r holds the values 10r + column.
    const std::vector<float> data = {0, 2, 11, 21, 22, 30, 40, 41};
    const std::vector<std::int32_t> indices = {0, 2, 1, 1, 2, 0, 0, 1};
    const std::vector<std::int32_t> indptr = {0, 2, 3, 5, 6, 8};
    std::vector<float> d;
    std::vector<std::int32_t> ix;
    std::vector<std::int64_t> ip;
    quend::gather_rows(data.data(), indices.data(), indptr.data(), g.rows, d, ix, ip);
    EXPECT_EQ(d, (std::vector<float>{11, 40, 41, 0, 2, 30}));
    EXPECT_EQ(ix, (std::vector<std::int32_t>{1, 0, 1, 0, 2, 0}));
    EXPECT_EQ(ip, (std::vector<std::int64_t>{0, 1, 3, 5, 6}));
}
