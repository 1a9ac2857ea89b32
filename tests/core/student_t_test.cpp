#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/student_t.hpp"

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_rel(double got, double want, double rel) {
    EXPECT_NEAR(got, want, std::fabs(want) * rel) << "got " << got << " want " << want;
}
}  // namespace

TEST(StudentT, KnownTailValues) {
    // Reference values from the Student-t distribution function.
    expect_rel(quend::student_t_two_sided_p(2.0, 10.0), 0.073388034770740, 1e-12);
    expect_rel(quend::student_t_two_sided_p(-1.0, 1.0), 0.5, 1e-13);
    expect_rel(quend::student_t_two_sided_p(0.5, 3.5), 0.6468504393225509, 1e-12);
    expect_rel(quend::student_t_two_sided_p(50.0, 20.0), 1.7533380449242275e-22, 1e-11);
    EXPECT_EQ(quend::student_t_two_sided_p(0.0, 5.0), 1.0);
    EXPECT_EQ(quend::student_t_two_sided_p(INFINITY, 5.0), 0.0);
    EXPECT_TRUE(std::isnan(quend::student_t_two_sided_p(kNaN, 5.0)));
}

TEST(StudentT, TinyProbabilitiesKeepRelativePrecision) {
    // Far tail: p = 2 * sf, must not flush to zero or lose digits.
    const double p = quend::student_t_two_sided_p(1e6, 4.0);
    EXPECT_GT(p, 0.0);
    EXPECT_LT(p, 1e-20);
    const double q = quend::student_t_two_sided_p(1e6 * 1.0000001, 4.0);
    EXPECT_LT(q, p);  // still strictly monotone out there
}

TEST(StudentT, LargeDegreesOfFreedomKeepRelativePrecision) {
    // Reference values from 40-digit arithmetic. Forming the beta prefactor
    // as a difference of large lgamma values lost ~1e-11 at df = 1e4.
    expect_rel(quend::student_t_two_sided_p(2.5, 1e4), 0.012435219550583697, 1e-12);
    expect_rel(quend::student_t_two_sided_p(1.2, 3e5), 0.23014028807051492, 1e-11);
    expect_rel(quend::student_t_two_sided_p(8.0, 1e5), 1.2573919876256374e-15, 1e-11);
    expect_rel(quend::student_t_two_sided_p(30.0, 4.5e5), 1.5396665904476195e-197, 1e-11);
    expect_rel(quend::student_t_two_sided_p(25.0, 150.5), 1.8932553150959551e-55, 1e-12);
    expect_rel(quend::student_t_two_sided_p(1.7, 193.49916710062845), 0.090737694980087064, 1e-13);
    // Near t = 0 the two-sided tail is 1 - 2 atan(t) / pi for df = 1.
    expect_rel(quend::student_t_two_sided_p(1e-8, 1.0), 0.99999999363380228, 1e-15);
}

TEST(StudentT, UsualSampleCountsMatchReference) {
    // Reference values from 40-digit arithmetic, over the small and moderate
    // df where the continued fraction takes its short form, both sides of
    // its switch point and a df below one.
    expect_rel(quend::student_t_two_sided_p(0.3, 14.3), 0.76849390689951023, 1e-13);
    expect_rel(quend::student_t_two_sided_p(3.1, 14.3), 0.0076685305835651634, 1e-13);
    expect_rel(quend::student_t_two_sided_p(12.0, 28.0), 1.4897300791947365e-12, 1e-13);
    expect_rel(quend::student_t_two_sided_p(1.9, 77.5), 0.061152788584211063, 1e-13);
    expect_rel(quend::student_t_two_sided_p(40.0, 199.0), 4.3394585669291641e-97, 1e-12);
    expect_rel(quend::student_t_two_sided_p(2.0, 0.3), 0.56426969896078275, 1e-13);
}
