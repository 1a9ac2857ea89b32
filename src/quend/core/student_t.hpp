#pragma once

namespace quend {

// Regularised incomplete beta function I_x(a, b).
double incomplete_beta(double a, double b, double x);

// Two-sided tail probability P(|T| >= |t|) of Student's t with df degrees of
// freedom (df may be fractional). NaN in, NaN out; |t| = inf gives 0.
double student_t_two_sided_p(double t, double df);

}  // namespace quend
