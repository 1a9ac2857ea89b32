#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "core/group_tally.hpp"

using quend::BlockColumns;
using quend::BlockView;
using quend::ColumnSelection;
using quend::Dtype;
using quend::Partial;
using quend::PartialView;
using quend::Stat;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// 5 cells x 3 genes, groups 1,0,1,-1,0 (cell 3 unlabelled).
const std::vector<double> kDense = {1.0,  0.0, -2.0,  //
                                    0.0,  3.0, kNaN,  //
                                    2.0,  0.0, 0.5,   //
                                    9.0,  9.0, 9.0,   //
                                    kNaN, 1.0, 0.0};
const std::vector<std::int64_t> kCodes = {1, 0, 1, -1, 0};
const std::vector<std::int64_t> kSizes = {2, 2};

// group 0 = cells 1,4; group 1 = cells 0,2.
const std::vector<double> kFraction = {0.0, 1.0, 0.0,  //
                                       1.0, 0.0, 0.5};
const std::vector<double> kMean = {0.0, 2.0, 0.0,  //
                                   1.5, 0.0, -0.75};

// CSR and CSC forms of kDense (explicit NaN kept as stored values).
struct Sparse {
    std::vector<double> data;
    std::vector<std::int64_t> indices;
    std::vector<std::int64_t> indptr;
};
Sparse compress(bool by_rows) {
    Sparse s;
    s.indptr.push_back(0);
    const std::size_t outer = by_rows ? 5 : 3, inner = by_rows ? 3 : 5;
    for (std::size_t o = 0; o < outer; ++o) {
        for (std::size_t i = 0; i < inner; ++i) {
            const double v = by_rows ? kDense[o * 3 + i] : kDense[i * 3 + o];
            if (v != 0.0) {
                s.data.push_back(v);
                s.indices.push_back(static_cast<std::int64_t>(i));
            }
        }
        s.indptr.push_back(static_cast<std::int64_t>(s.data.size()));
    }
    return s;
}

// Views of test buffers.
template <typename T>
constexpr Dtype dtype_of() {
    if constexpr (std::is_same_v<T, double>) return Dtype::f64;
    if constexpr (std::is_same_v<T, std::int16_t>) return Dtype::i16;
    if constexpr (std::is_same_v<T, std::uint8_t>) return Dtype::u8;
    return Dtype::f32;
}
template <typename T>
BlockView dense_view(const std::vector<T>& v, std::size_t n_rows, std::size_t n_cols, std::ptrdiff_t rs,
                     std::ptrdiff_t cs) {
    BlockView b;
    b.dtype = dtype_of<T>();
    b.n_rows = n_rows;
    b.n_cols = n_cols;
    b.data = v.data();
    b.row_stride = rs;
    b.col_stride = cs;
    return b;
}
template <typename I>
BlockView compressed_view(const std::vector<double>& data, const std::vector<I>& indices, const std::vector<I>& indptr,
                          bool by_rows, std::size_t n_rows, std::size_t n_cols) {
    BlockView b;
    b.form = by_rows ? BlockView::csr : BlockView::csc;
    b.n_rows = n_rows;
    b.n_cols = n_cols;
    b.data = data.data();
    b.n_data = data.size();
    b.wide_index = sizeof(I) == 8;
    b.indices = indices.data();
    b.n_indices = indices.size();
    b.indptr = indptr.data();
    b.n_indptr = indptr.size();
    return b;
}
BlockView compressed_view(const Sparse& s, bool by_rows) {
    return compressed_view(s.data, s.indices, s.indptr, by_rows, 5, 3);
}

// A zeroed result table and its finished values.
struct Table {
    Stat stat;
    quend::TallyTable table;
    Table(Stat s, std::size_t n_groups, std::size_t width) : stat(s), table(s, n_groups, width) {}
    quend::DenseTally& t() { return table.tally(); }
    std::vector<double> finished(const std::vector<std::int64_t>& sizes) {
        const std::size_t n = t().n_groups * t().width;
        auto done = table.finish({{stat}, false}, sizes.data());
        auto* v = static_cast<double*>(done[0].release());
        std::vector<double> out(v, v + n);
        std::free(v);
        return out;
    }
};

const quend::ColumnPlan kAll = quend::plan_columns(ColumnSelection{3, {}});
BlockColumns all_cols() { return quend::block_columns(kAll, 0, 3); }

void expect_same(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        if (std::isnan(want[k]))
            EXPECT_TRUE(std::isnan(got[k])) << k;
        else
            EXPECT_DOUBLE_EQ(got[k], want[k]) << k;
    }
}

const std::vector<double>& want(Stat s) { return s == Stat::mean ? kMean : kFraction; }

}  // namespace

class EachStat : public ::testing::TestWithParam<Stat> {};
INSTANTIATE_TEST_SUITE_P(GroupTally, EachStat, ::testing::Values(Stat::detected, Stat::mean));

TEST_P(EachStat, EveryLayoutGivesTheSameTable) {
    const Stat stat = GetParam();
    std::vector<double> colmajor(15);
    for (std::size_t i = 0; i < 5; ++i)
        for (std::size_t j = 0; j < 3; ++j) colmajor[j * 5 + i] = kDense[i * 3 + j];
    Table r(stat, 2, 3), c(stat, 2, 3);
    quend::add_block(r.t(), dense_view(kDense, 5, 3, 3, 1), kCodes.data(), all_cols());
    quend::add_block(c.t(), dense_view(colmajor, 5, 3, 1, 5), kCodes.data(), all_cols());
    expect_same(r.finished(kSizes), want(stat));  // NaN skipped by the mean, not > 0
    expect_same(c.finished(kSizes), want(stat));
    for (bool by_rows : {true, false}) {
        const Sparse s = compress(by_rows);
        Table t(stat, 2, 3);
        quend::add_block(t.t(), compressed_view(s, by_rows), kCodes.data(), all_cols());
        expect_same(t.finished(kSizes), want(stat));
    }
    const std::vector<double> reversed(kDense.rbegin(), kDense.rend());
    BlockView back = dense_view(reversed, 5, 3, -3, -1);  // kDense read backwards from its end
    back.data = reversed.data() + 14;
    Table rev(stat, 2, 3);
    quend::add_block(rev.t(), back, kCodes.data(), all_cols());
    expect_same(rev.finished(kSizes), want(stat));
}

// A row stored as duplicate entries counts as their sum: 1 + (-1) is no value > 0.
TEST_P(EachStat, StoredDuplicatesAreSummed) {
    const Stat stat = GetParam();
    const std::vector<double> data = {1.0, -1.0, 2.0};
    const std::vector<std::int32_t> indices = {0, 0, 1}, indptr = {0, 2, 3};
    const std::vector<std::int64_t> codes = {0, 0}, sizes = {2};
    const quend::ColumnPlan two = quend::plan_columns(ColumnSelection{2, {}});
    Table t(stat, 1, 2);
    quend::add_block(t.t(), compressed_view(data, indices, indptr, true, 2, 2), codes.data(),
                     quend::block_columns(two, 0, 2));
    expect_same(t.finished(sizes), stat == Stat::mean ? std::vector<double>{0.0, 1.0} : std::vector<double>{0.0, 0.5});
}

// Selected columns keep their order and repeats; a block of later columns
// lands at its own places.
TEST(GroupTally, ColumnPlansAndWindows) {
    const quend::ColumnPlan p = quend::plan_columns(ColumnSelection{3, {2, 0, 2}});
    EXPECT_EQ(p.distinct, (std::vector<std::int64_t>{2, 0}));
    EXPECT_EQ(p.expand, (std::vector<std::int64_t>{0, 1, 0}));
    EXPECT_TRUE(quend::plan_columns(ColumnSelection{3, {1, 0}}).expand.empty());
    EXPECT_THROW(quend::plan_columns(ColumnSelection{3, {3}}), std::out_of_range);

    // Genes [0, 2) and [2, 3) as two column blocks of the same rows.
    for (Stat stat : {Stat::detected, Stat::mean}) {
        Table t(stat, 2, 2);
        std::vector<double> left, right;
        for (std::size_t i = 0; i < 5; ++i) {
            left.insert(left.end(), {kDense[i * 3], kDense[i * 3 + 1]});
            right.push_back(kDense[i * 3 + 2]);
        }
        quend::add_block(t.t(), dense_view(left, 5, 2, 2, 1), kCodes.data(), quend::block_columns(p, 0, 2));
        quend::add_block(t.t(), dense_view(right, 5, 1, 1, 1), kCodes.data(), quend::block_columns(p, 2, 1));
        const std::vector<double>& w = want(stat);
        expect_same(t.finished(kSizes), {w[2], w[0], w[5], w[3]});
    }
}

TEST(GroupTally, IntegerElementsAndEmptyGroups) {
    const std::vector<std::int16_t> a = {-3, 4, 0, 5};
    const std::vector<std::uint8_t> u = {0, 200, 7, 0};
    const std::vector<std::int64_t> codes = {0, 0, 0, 0}, sizes = {4, 0};
    const quend::ColumnPlan one = quend::plan_columns(ColumnSelection{1, {}});
    Table ti(Stat::detected, 2, 1), tm(Stat::mean, 2, 1), tu(Stat::mean, 2, 1);
    quend::add_block(ti.t(), dense_view(a, 4, 1, 1, 1), codes.data(), quend::block_columns(one, 0, 1));
    quend::add_block(tm.t(), dense_view(a, 4, 1, 1, 1), codes.data(), quend::block_columns(one, 0, 1));
    quend::add_block(tu.t(), dense_view(u, 4, 1, 1, 1), codes.data(), quend::block_columns(one, 0, 1));
    expect_same(ti.finished(sizes), {0.5, kNaN});
    expect_same(tm.finished(sizes), {1.5, kNaN});
    expect_same(tu.finished(sizes), {207.0 / 4, kNaN});
}

// Malformed blocks and partials are refused.
TEST(GroupTally, MalformedInputsThrow) {
    const std::vector<double> data = {1.0, 2.0};
    const std::vector<std::int32_t> far = {0, 1 << 30}, ptr = {0, 1, 2};
    const std::vector<std::int64_t> codes = {0, 0};
    const quend::ColumnPlan two = quend::plan_columns(ColumnSelection{2, {}});
    Table t(Stat::detected, 1, 2);
    EXPECT_THROW(quend::add_block(t.t(), compressed_view(data, far, ptr, true, 2, 2), codes.data(),
                                  quend::block_columns(two, 0, 2)),
                 std::invalid_argument);
    Partial p;
    p.parts = quend::PartSet(Stat::mean);
    p.width = 2;
    p.groups = {0};
    for (std::size_t q = 0; q < p.parts.size(); ++q) p.part[q].assign(2, 1.0);
    Table m(Stat::mean, 1, 2);
    EXPECT_THROW(quend::add_partial(t.t(), p.view(), 0), std::invalid_argument);  // other parts
    p.groups = {-1};
    EXPECT_THROW(quend::add_partial(m.t(), p.view(), -1), std::invalid_argument);
    p.groups = {0};
    const std::vector<std::int64_t> far_col = {0, 2};
    PartialView v = p.view();
    v.col_map = far_col.data();
    EXPECT_THROW(quend::add_partial(m.t(), v, 0), std::invalid_argument);
}

// Every statistic of kDense from one pass over the union of their parts
// (one asked twice, two narrowed to float32), against a plain rendering, for
// float32 dense rows and both compressed forms. NaN skipped, counted per pair.
TEST(GroupTally, OnePassGivesEachStatistic) {
    const std::vector<Stat> stats = {Stat::var,   Stat::sum,      Stat::count_nonzero, Stat::var,
                                     Stat::count, Stat::detected, Stat::mean};
    const std::vector<double> var = {kNaN, 2.0, kNaN, 0.5, 0.0, 3.125};
    const std::vector<std::vector<double>> want = {
        var, {0.0, 4.0, 0.0, 3.0, 0.0, -1.5}, {0, 2, 0, 2, 0, 2}, var, {1, 2, 1, 2, 2, 2}, kFraction, kMean};
    const std::vector<float> floats(kDense.begin(), kDense.end());
    const Sparse csr = compress(true), csc = compress(false);
    for (const BlockView& b :
         {dense_view(floats, 5, 3, 3, 1), compressed_view(csr, true), compressed_view(csc, false)}) {
        quend::TallyTable t(quend::PartSet(stats), 2, 3);
        quend::add_block(t.tally(), b, kCodes.data(), all_cols());
        auto done = t.finish({stats, true}, kSizes.data());
        for (std::size_t k = 0; k < stats.size(); ++k) {
            const bool f32 = done[k].float32();
            EXPECT_EQ(f32, quend::recipe_info(stats[k]).narrows);
            void* v = done[k].release();
            for (std::size_t o = 0; o < 6; ++o)
                expect_same({f32 ? static_cast<float*>(v)[o] : static_cast<double*>(v)[o]}, {want[k][o]});
            std::free(v);
        }
    }
}

// Each slice is read on its own: a sorted one holding NaN, one stored out of
// order with duplicates that sum to a stored zero, a plain one; CSR and CSC.
TEST(GroupTally, EachSliceTakesItsOwnRule) {
    const std::vector<Stat> stats = {Stat::mean, Stat::detected, Stat::count_nonzero, Stat::count};
    const std::vector<std::vector<double>> want = {
        {1, 0, 0, 0, 3, 0}, {1, 0, 0, 0, 1, 0}, {2, 0, 0, 0, 1, 0}, {2, 2, 1, 1, 1, 1}};
    const std::vector<std::int64_t> codes = {0, 0, 1}, sizes = {2, 1};
    const std::vector<double> csr_data = {1.0, kNaN, 2.0, 1.0, -2.0, 3.0}, csc_data = {1.0, 1.0, 3.0, 2.0, kNaN, -2.0};
    const std::vector<std::int32_t> csr_ix = {0, 2, 2, 0, 2, 1}, csr_ip = {0, 2, 5, 6};
    const std::vector<std::int32_t> csc_ix = {0, 1, 2, 1, 0, 1}, csc_ip = {0, 2, 3, 6};
    for (const BlockView& b : {compressed_view(csr_data, csr_ix, csr_ip, true, 3, 3),
                               compressed_view(csc_data, csc_ix, csc_ip, false, 3, 3)}) {
        quend::TallyTable t(quend::PartSet(stats), 2, 3);
        quend::add_block(t.tally(), b, codes.data(), all_cols());
        auto done = t.finish({stats, false}, sizes.data());
        for (std::size_t k = 0; k < stats.size(); ++k) {
            auto* v = static_cast<double*>(done[k].release());
            expect_same(std::vector<double>(v, v + 6), want[k]);
            std::free(v);
        }
    }
}

// An index out of range is reported in a slice the pass leaves out too: an
// unlabelled cell, a gene outside the selection.
TEST(GroupTally, BadIndexOfALeftOutSliceThrows) {
    const std::vector<double> data = {1.0, 2.0};
    const std::vector<std::int32_t> ix = {7, 0}, ip = {0, 1, 2};
    const std::vector<std::int64_t> codes = {-1, 0}, all_rows = {0, 0};
    const quend::ColumnPlan second = quend::plan_columns(ColumnSelection{2, {1}});
    for (bool by_rows : {true, false}) {
        Table t(Stat::detected, 1, by_rows ? 2 : 1);
        const auto cols = by_rows ? quend::block_columns(quend::plan_columns(ColumnSelection{2, {}}), 0, 2)
                                  : quend::block_columns(second, 0, 2);
        try {
            quend::add_block(t.t(), compressed_view(data, ix, ip, by_rows, 2, 2),
                             by_rows ? codes.data() : all_rows.data(), cols);
            ADD_FAILURE() << "no error";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("index 7 out of range [0, 2)"), std::string::npos) << e.what();
        }
    }
}

// The float32 result is the float64 one rounded once, in the same buffer.
TEST(GroupTally, NarrowsInPlace) {
    quend::TallyTable t(Stat::mean, 2, 3);
    quend::add_block(t.tally(), dense_view(kDense, 5, 3, 3, 1), kCodes.data(), all_cols());
    auto* values = static_cast<float*>(t.finish({{Stat::mean}, true}, kSizes.data())[0].release());
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(values[k], static_cast<float>(kMean[k])) << k;
    std::free(values);
}

TEST(GroupTally, CompressedLayoutCheck) {
    bool canonical = false;
    const std::vector<std::int32_t> ok_ix = {0, 2, 1};
    const std::vector<std::int64_t> ok_ip = {0, 2, 2, 3};
    EXPECT_EQ(quend::check_compressed(ok_ix.data(), ok_ip.data(), 3, 3, 3, canonical), "");
    EXPECT_TRUE(canonical);
    const std::vector<std::int32_t> dup = {2, 2, 1};
    EXPECT_EQ(quend::check_compressed(dup.data(), ok_ip.data(), 3, 3, 3, canonical), "");
    EXPECT_FALSE(canonical);
    for (std::int32_t bad : {-1, 3}) {
        const std::vector<std::int32_t> ix = {0, bad, 1};
        EXPECT_NE(quend::check_compressed(ix.data(), ok_ip.data(), 3, 3, 3, canonical), "");
    }
    const std::vector<std::int64_t> decreasing = {0, 2, 1, 3}, short_end = {0, 1, 2, 2}, late_start = {1, 2, 2, 3},
                                    overshoot = {0, 5, 2, 3};
    for (const auto* ip : {&decreasing, &short_end, &late_start, &overshoot})
        EXPECT_NE(quend::check_compressed(ok_ix.data(), ip->data(), 3, 3, 3, canonical), "");
}

TEST(CheckBlock, ArrayLengthsBeforeContents) {
    const std::vector<std::int32_t> ix = {0, 2, 1}, ip = {0, 2, 2, 3};
    const std::vector<float> data = {1, 2, 3};
    quend::BlockView b;
    b.form = quend::BlockView::csr;
    b.dtype = quend::Dtype::f32;
    b.n_rows = b.n_cols = b.n_data = b.n_indices = 3;
    b.n_indptr = 4;
    b.data = data.data(), b.indices = ix.data(), b.indptr = ip.data();
    bool canonical = false;
    EXPECT_EQ(quend::check_block(b, canonical), "");
    quend::BlockView short_indices = b, short_ptr = b, narrow = b;
    short_indices.n_indices = 2, short_ptr.n_indptr = 3, narrow.n_cols = 2;  // narrow: index 2 lies past the columns
    for (const auto& bad : {short_indices, short_ptr, narrow}) EXPECT_NE(quend::check_block(bad, canonical), "");
}

TEST(KahanGroupMean, CompensatesAndSkipsNaN) {
    // 1 + 1e-16 x 10 in plain summation loses every small term.
    std::vector<double> v = {1.0};
    for (int k = 0; k < 10; ++k) v.push_back(1e-16);
    v.push_back(kNaN);
    std::vector<std::int64_t> codes(v.size(), 0);
    const std::vector<double> m = quend::kahan_group_mean(v.data(), v.size(), 1, codes.data(), 1);
    EXPECT_DOUBLE_EQ(m[0], (1.0 + 1e-15) / 11.0);
    const std::vector<double> inf = {INFINITY, 1.0};
    const std::vector<std::int64_t> c2 = {0, 0};
    EXPECT_EQ(quend::kahan_group_mean(inf.data(), 2, 1, c2.data(), 1)[0], INFINITY);
}
