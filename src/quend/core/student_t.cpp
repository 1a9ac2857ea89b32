#include "core/student_t.hpp"

#include <cmath>
#include <limits>

namespace quend {
namespace {

// Continued fraction of I_x(a, b) (modified Lentz); converges quickly for
// x < (a + 1) / (a + b + 2).
double beta_continued_fraction(double a, double b, double x) {
    constexpr int kMaxIter = 10000;
    constexpr double kEps = 1e-16;
    constexpr double kTiny = 1e-300;
    const double qab = a + b, qap = a + 1.0, qam = a - 1.0;
    double c = 1.0;
    double d = 1.0 - qab * x / qap;
    if (std::fabs(d) < kTiny) d = kTiny;
    d = 1.0 / d;
    double h = d;
    for (int m = 1; m <= kMaxIter; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < kTiny) d = kTiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < kTiny) c = kTiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < kTiny) d = kTiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < kTiny) c = kTiny;
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < kEps) break;
    }
    return h;
}

// log of x^a (1-x)^b / B(a, b), with log1p for accuracy near x = 0.
double log_beta_prefactor(double a, double b, double x) {
    return std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) +
           b * std::log1p(-x);
}

}  // namespace

double incomplete_beta(double a, double b, double x) {
    if (std::isnan(a) || std::isnan(b) || std::isnan(x)) return std::numeric_limits<double>::quiet_NaN();
    if (x <= 0.0) return 0.0;
    if (x >= 1.0) return 1.0;
    if (x < (a + 1.0) / (a + b + 2.0)) {
        return std::exp(log_beta_prefactor(a, b, x)) * beta_continued_fraction(a, b, x) / a;
    }
    return 1.0 - std::exp(log_beta_prefactor(a, b, x)) * beta_continued_fraction(b, a, 1.0 - x) / b;
}

double student_t_two_sided_p(double t, double df) {
    if (std::isnan(t) || std::isnan(df) || df <= 0.0) return std::numeric_limits<double>::quiet_NaN();
    if (std::isinf(t)) return 0.0;
    if (t == 0.0) return 1.0;
    const double t2 = t * t;
    // x = df / (df + t^2); 1 - x computed directly to keep precision near 1.
    const double x = df / (df + t2);
    const double one_minus_x = t2 / (df + t2);
    const double a = 0.5 * df, b = 0.5;
    double p;
    if (x < (a + 1.0) / (a + b + 2.0)) {
        p = std::exp(log_beta_prefactor(a, b, x)) * beta_continued_fraction(a, b, x) / a;
    } else {
        // I_x(a,b) = 1 - I_{1-x}(b,a), with the prefactor written in 1-x.
        const double log_pre = std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                               a * std::log1p(-one_minus_x) + b * std::log(one_minus_x);
        p = 1.0 - std::exp(log_pre) * beta_continued_fraction(b, a, one_minus_x) / b;
    }
    if (p > 1.0) p = 1.0;
    if (p < 0.0) p = 0.0;
    return p;
}

}  // namespace quend
