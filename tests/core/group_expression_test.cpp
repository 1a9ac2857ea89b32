#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/group_expression.hpp"

using quend::ColumnSelection;
using quend::GroupTallies;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// 5 cells x 3 genes, groups 1,0,1,-1,0 (cell 3 unlabelled).
const std::vector<double> kDense = {1.0,  0.0, -2.0,  //
                                    0.0,  3.0, kNaN,  //
                                    2.0,  0.0, 0.5,   //
                                    9.0,  9.0, 9.0,   //
                                    kNaN, 1.0, 0.0};
const std::vector<std::int64_t> kCodes = {1, 0, 1, -1, 0};

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

void expect_same(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        if (std::isnan(want[k]))
            EXPECT_TRUE(std::isnan(got[k])) << k;
        else
            EXPECT_DOUBLE_EQ(got[k], want[k]) << k;
    }
}

// group 0 = cells 1,4; group 1 = cells 0,2.
const std::vector<double> kFraction = {0.0, 1.0, 0.0,  //
                                       1.0, 0.0, 0.5};
const std::vector<double> kMean = {0.0, 2.0, 0.0,  //
                                   1.5, 0.0, -0.75};
}  // namespace

TEST(GroupTallies, DenseRowAndColumnMajorAgree) {
    std::vector<double> colmajor(15);
    for (std::size_t i = 0; i < 5; ++i)
        for (std::size_t j = 0; j < 3; ++j) colmajor[j * 5 + i] = kDense[i * 3 + j];
    ColumnSelection all{3, {}};
    GroupTallies r = quend::tally_dense(kDense.data(), 5, 3, 3, 1, kCodes.data(), 2, all, true);
    GroupTallies c = quend::tally_dense(colmajor.data(), 5, 3, 1, 5, kCodes.data(), 2, all, true);
    for (const GroupTallies* t : {&r, &c}) {
        EXPECT_EQ(t->group_size, (std::vector<std::int64_t>{2, 2}));
        expect_same(t->positive_fraction(), kFraction);
        expect_same(t->mean(), kMean);  // NaN skipped by the mean, not > 0
    }
}

TEST(GroupTallies, SparseFormsMatchDense) {
    ColumnSelection all{3, {}};
    for (bool by_rows : {true, false}) {
        Sparse s = compress(by_rows);
        GroupTallies t = quend::tally_compressed(s.data.data(), s.indices.data(), s.indptr.data(), by_rows, 5, 3,
                                                 kCodes.data(), 2, all, true);
        expect_same(t.positive_fraction(), kFraction);
        expect_same(t.mean(), kMean);
    }
}

TEST(GroupTallies, ColumnSelectionKeepsOrderAndRepeats) {
    ColumnSelection sel{3, {2, 0, 2}};
    Sparse s = compress(true);
    GroupTallies d = quend::tally_dense(kDense.data(), 5, 3, 3, 1, kCodes.data(), 2, sel, false);
    GroupTallies c = quend::tally_compressed(s.data.data(), s.indices.data(), s.indptr.data(), true, 5, 3,
                                             kCodes.data(), 2, sel, false);
    const std::vector<double> want = {0.0, 0.0, 0.0, 0.5, 1.0, 0.5};
    expect_same(d.positive_fraction(), want);
    expect_same(c.positive_fraction(), want);
    EXPECT_TRUE(d.sum.empty());
}

// Rows 0-1 and 2-4 added into one running result, as a file read in blocks.
TEST(GroupTallies, AddingPiecesEqualsTheWhole) {
    for (const ColumnSelection& sel : {ColumnSelection{3, {}}, ColumnSelection{3, {2, 0, 2}}}) {
        const std::size_t n_out = sel.cols.empty() ? 3 : sel.cols.size();
        const GroupTallies whole = quend::tally_dense(kDense.data(), 5, 3, 3, 1, kCodes.data(), 2, sel, true);
        GroupTallies dense = quend::tally_dense(kDense.data(), 0, 3, 3, 1, kCodes.data(), 2, sel, true);
        quend::add_dense(dense, kDense.data(), 2, 3, 3, 1, kCodes.data(), sel);
        quend::add_dense(dense, kDense.data() + 6, 3, 3, 3, 1, kCodes.data() + 2, sel);
        const Sparse s = compress(true);
        GroupTallies csr = quend::tally_dense(kDense.data(), 0, 3, 3, 1, kCodes.data(), 2, sel, true);
        std::vector<std::int64_t> tail(s.indptr.begin() + 2, s.indptr.end());
        for (auto& p : tail) p -= s.indptr[2];
        quend::add_compressed(csr, s.data.data(), s.indices.data(), s.indptr.data(), true, 2, 3, kCodes.data(), sel);
        quend::add_compressed(csr, s.data.data() + s.indptr[2], s.indices.data() + s.indptr[2], tail.data(), true, 3, 3,
                              kCodes.data() + 2, sel);
        for (const GroupTallies* t : {&dense, &csr}) {
            ASSERT_EQ(t->n_cols, n_out);
            EXPECT_EQ(t->group_size, whole.group_size);
            EXPECT_EQ(t->positive, whole.positive);
            EXPECT_EQ(t->missing, whole.missing);
            expect_same(t->sum, whole.sum);
        }
    }
    GroupTallies narrow =
        quend::tally_dense(kDense.data(), 0, 3, 3, 1, kCodes.data(), 2, ColumnSelection{3, {1}}, true);
    EXPECT_THROW(quend::add_dense(narrow, kDense.data(), 5, 3, 3, 1, kCodes.data(), ColumnSelection{3, {}}),
                 std::invalid_argument);
}

TEST(GroupTallies, IntegerAndUnsignedElements) {
    const std::vector<std::int16_t> a = {-3, 4, 0, 5};
    const std::vector<std::uint8_t> u = {0, 200, 7, 0};
    const std::vector<std::int64_t> codes = {0, 0, 0, 0};
    ColumnSelection all{1, {}};
    GroupTallies ti = quend::tally_dense(a.data(), 4, 1, 1, 1, codes.data(), 1, all, true);
    GroupTallies tu = quend::tally_dense(u.data(), 4, 1, 1, 1, codes.data(), 1, all, true);
    expect_same(ti.positive_fraction(), {0.5});
    expect_same(ti.mean(), {1.5});
    expect_same(tu.mean(), {207.0 / 4});
}

TEST(GroupTallies, EmptyGroupGivesNaN) {
    const std::vector<double> v = {1.0, 2.0};
    const std::vector<std::int64_t> codes = {0, 0};
    GroupTallies t = quend::tally_dense(v.data(), 2, 1, 1, 1, codes.data(), 2, ColumnSelection{1, {}}, true);
    expect_same(t.positive_fraction(), {1.0, kNaN});
    expect_same(t.mean(), {1.5, kNaN});
}

TEST(KahanGroupMean, CompensatesAndSkipsNaN) {
    // 1 + 1e-16 x 10 in plain summation loses every small term.
    std::vector<double> v = {1.0};
    for (int k = 0; k < 10; ++k) v.push_back(1e-16);
    v.push_back(kNaN);
    std::vector<std::int64_t> codes(v.size(), 0);
    codes.back() = 0;
    const std::vector<double> m = quend::kahan_group_mean(v.data(), v.size(), 1, codes.data(), 1);
    EXPECT_DOUBLE_EQ(m[0], (1.0 + 1e-15) / 11.0);
    const std::vector<double> inf = {INFINITY, 1.0};
    const std::vector<std::int64_t> c2 = {0, 0};
    EXPECT_EQ(quend::kahan_group_mean(inf.data(), 2, 1, c2.data(), 1)[0], INFINITY);
}
