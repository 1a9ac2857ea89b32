#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "core/moments.hpp"

using quend::StridedMatrix;

// Every item is visited once, in order, with the chosen samples' values in
// the chosen order, in either memory order and across tile boundaries (300
// samples make tiles of 218 items).
TEST(WalkItems, VisitsEveryItemWithItsSamplesInEitherOrder) {
    const std::size_t n_items = 500, n_samples = 600;
    std::vector<double> v(n_items * n_samples);
    for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<double>(k);
    std::vector<std::size_t> picked;
    for (std::size_t k = 0; k < 300; ++k) picked.push_back((k * 7 + 3) % n_samples);

    StridedMatrix by_rows{v.data(), n_items, n_samples, static_cast<std::ptrdiff_t>(n_samples), 1};
    StridedMatrix by_cols{v.data(), n_items, n_samples, 1, static_cast<std::ptrdiff_t>(n_items)};
    for (const StridedMatrix& m : {by_rows, by_cols}) {
        std::size_t next = 0, wrong = 0;
        quend::walk_items(
            m, picked.size(), [&](std::size_t k) { return picked[k]; },
            [&](std::size_t i, const auto& run) {
                EXPECT_EQ(i, next++);
                for (std::size_t k = 0; k < picked.size(); ++k) wrong += run[k] != m.at(i, picked[k]);
            });
        EXPECT_EQ(next, n_items);
        EXPECT_EQ(wrong, 0u);
    }
}
