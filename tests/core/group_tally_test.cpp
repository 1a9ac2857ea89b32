#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/group_tally.hpp"

using quend::BlockColumns;
using quend::ColumnSelection;
using quend::DenseTally;
using quend::PartialView;
using quend::SparseTally;
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
    std::vector<std::int32_t> indices;
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
                s.indices.push_back(static_cast<std::int32_t>(i));
            }
        }
        s.indptr.push_back(static_cast<std::int64_t>(s.data.size()));
    }
    return s;
}

// A zeroed result table and its tally.
struct Table {
    std::vector<double> value;
    std::vector<std::int64_t> missing;
    DenseTally t;
    Table(Stat stat, std::size_t n_groups, std::size_t width)
        : value(n_groups * width, 0.0), missing(n_groups * width, 0) {
        t.stat = stat;
        t.n_groups = n_groups;
        t.width = width;
        t.value = value.data();
        t.missing = missing.data();
    }
    std::vector<double> finished(const std::vector<std::int64_t>& sizes) {
        quend::finish(t, sizes.data());
        return value;
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

// The partial of rows [r0, r1) of kDense, from its CSR form.
SparseTally csr_partial(Stat stat, std::size_t r0, std::size_t r1) {
    const Sparse s = compress(true);
    std::vector<std::int64_t> ptr(s.indptr.begin() + r0, s.indptr.begin() + r1 + 1);
    const std::int64_t p0 = ptr[0];
    for (auto& p : ptr) p -= p0;
    return quend::partial_compressed(stat, 3, s.data.data() + p0, s.indices.data() + p0, ptr.data(), r1 - r0,
                                     kCodes.data() + r0, 2, all_cols());
}
}  // namespace

class EachStat : public ::testing::TestWithParam<Stat> {};
INSTANTIATE_TEST_SUITE_P(GroupTally, EachStat, ::testing::Values(Stat::detected, Stat::mean));

TEST_P(EachStat, EveryLayoutGivesTheSameTable) {
    const Stat stat = GetParam();
    std::vector<double> colmajor(15);
    for (std::size_t i = 0; i < 5; ++i)
        for (std::size_t j = 0; j < 3; ++j) colmajor[j * 5 + i] = kDense[i * 3 + j];
    Table r(stat, 2, 3), c(stat, 2, 3);
    quend::add_dense(r.t, kDense.data(), 5, 3, 1, kCodes.data(), all_cols());
    quend::add_dense(c.t, colmajor.data(), 5, 1, 5, kCodes.data(), all_cols());
    expect_same(r.finished(kSizes), want(stat));  // NaN skipped by the mean, not > 0
    expect_same(c.finished(kSizes), want(stat));
    for (bool by_rows : {true, false}) {
        const Sparse s = compress(by_rows);
        Table t(stat, 2, 3);
        quend::add_compressed(t.t, s.data.data(), s.indices.data(), s.indptr.data(), by_rows, 5, kCodes.data(),
                              all_cols());
        expect_same(t.finished(kSizes), want(stat));
    }
}

// Partials of any cut of the rows, merged in any grouping, then added into
// slices of groups, give the table of the whole.
TEST_P(EachStat, PartialsMergeToTheWhole) {
    const Stat stat = GetParam();
    const SparseTally a = csr_partial(stat, 0, 2), b = csr_partial(stat, 2, 4), c = csr_partial(stat, 4, 5);
    std::vector<double> dense_rows(kDense.begin() + 12, kDense.end());
    const SparseTally c_dense =
        quend::partial_dense(stat, 3, dense_rows.data(), 1, 3, 1, kCodes.data() + 4, 2, all_cols());
    const SparseTally ab = quend::merge(stat, 3, {a.view(), b.view()});
    const SparseTally bc = quend::merge(stat, 3, {b.view(), c_dense.view()});
    const SparseTally left = quend::merge(stat, 3, {ab.view(), c.view()});
    const SparseTally right = quend::merge(stat, 3, {bc.view(), a.view()});
    EXPECT_EQ(left.groups, right.groups);

    for (const SparseTally* whole : {&left, &right}) {
        // Group 0 and group 1 into slices of their own, as block reduces do.
        Table g0(stat, 1, 3), g1(stat, 1, 3);
        const PartialView v = whole->view();
        PartialView first = v, second = v;
        first.n_present = 1;
        second.n_present = 1;
        second.groups += 1;
        second.ptr += 1;
        quend::add_partial(g0.t, first, 0);
        quend::add_partial(g1.t, second, 1);
        std::vector<double> got = g0.finished({2});
        const std::vector<double> rest = g1.finished({2});
        got.insert(got.end(), rest.begin(), rest.end());
        expect_same(got, want(stat));
        Table narrow(stat, 1, 3);
        EXPECT_THROW(quend::add_partial(narrow.t, v, 0), std::invalid_argument);
    }
}

// A partial holds only the pairs its rows touch, never groups x genes.
TEST(GroupTally, PartialIsBoundedByStoredValues) {
    const std::size_t n_groups = 1000, width = 500;
    const std::vector<double> data = {1.0, 2.0, 3.0};
    const std::vector<std::int32_t> indices = {7, 499, 7};
    const std::vector<std::int64_t> indptr = {0, 2, 3}, codes = {999, 3};
    const quend::ColumnPlan plan = quend::plan_columns(ColumnSelection{width, {}});
    const SparseTally p = quend::partial_compressed(Stat::mean, width, data.data(), indices.data(), indptr.data(), 2,
                                                    codes.data(), n_groups, quend::block_columns(plan, 0, width));
    EXPECT_EQ(p.groups, (std::vector<std::int64_t>{3, 999}));
    EXPECT_EQ(p.ptr, (std::vector<std::int64_t>{0, 1, 3}));
    EXPECT_EQ(p.cols, (std::vector<std::int32_t>{7, 7, 499}));
    expect_same(p.value, {3.0, 1.0, 2.0});
    // A few groups over few columns are read into a table of the present groups: same pairs.
    const std::vector<std::int64_t> both_low = {4, 3};
    const SparseTally q = quend::partial_compressed(Stat::mean, width, data.data(), indices.data(), indptr.data(), 2,
                                                    both_low.data(), 5, quend::block_columns(plan, 0, width));
    EXPECT_EQ(q.groups, (std::vector<std::int64_t>{3, 4}));
    EXPECT_EQ(q.cols, (std::vector<std::int32_t>{7, 7, 499}));
    expect_same(q.value, {3.0, 1.0, 2.0});
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
        quend::add_dense(t.t, left.data(), 5, 2, 1, kCodes.data(), quend::block_columns(p, 0, 2));
        quend::add_dense(t.t, right.data(), 5, 1, 1, kCodes.data(), quend::block_columns(p, 2, 1));
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
    quend::add_dense(ti.t, a.data(), 4, 1, 1, codes.data(), quend::block_columns(one, 0, 1));
    quend::add_dense(tm.t, a.data(), 4, 1, 1, codes.data(), quend::block_columns(one, 0, 1));
    quend::add_dense(tu.t, u.data(), 4, 1, 1, codes.data(), quend::block_columns(one, 0, 1));
    expect_same(ti.finished(sizes), {0.5, kNaN});
    expect_same(tm.finished(sizes), {1.5, kNaN});
    expect_same(tu.finished(sizes), {207.0 / 4, kNaN});
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
