#pragma once
// The statistics a group tally computes, each declared once as a recipe,
// and the intermediates ("parts") they are finished from:
// - a part is one groups x columns table with its own per-value rule
//   (`PartRule` below); parts of two tallies combine by addition, so any cut
//   of the rows adds up to the whole;
// - a recipe names its `parts` and `finish(x, n)`: the statistic of one
//   (group, column) pair from its parts `x` (in the recipe's order) and the
//   group's cell count `n`; `narrows`: float32 input gives a float32 result
//   (rounded once);
// - one pass fills the union of the parts of the statistics asked for
//   (`PartSet`, held in part order), so several statistics share one
//   reading of X and each part exists once;
// NaN values are skipped by every part but `nan_count`, which counts them,
// and `positive` (NaN is not > 0).
// Adding a statistic: write its struct and add it to QUEND_STATS below.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace quend {

enum class Part : std::uint8_t { sum, nan_count, sum_sq, nonzero, positive };
inline constexpr std::size_t kMaxParts = 5;
inline constexpr const char* kPartNames[kMaxParts] = {"sum", "nan_count", "sum_sq", "nonzero", "positive"};

template <typename T>
inline bool is_nan(T v) {
    if constexpr (std::is_floating_point_v<T>)
        return std::isnan(v);
    else
        return false;
}

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Non-NaN values of the pair.
inline double n_values(const double* nan_count, std::int64_t n) { return static_cast<double>(n) - *nan_count; }

// The share of cells with a value > 0 (NaN is not > 0; every cell counts).
struct Detected {
    static constexpr const char* name = "detected";
    static constexpr Part parts[] = {Part::positive};
    static constexpr bool narrows = false;
    static double finish(const double* x, std::int64_t n) { return n > 0 ? x[0] / static_cast<double>(n) : kNaN; }
};

// The mean over non-NaN values (stored zeros and unstored cells count).
struct Mean {
    static constexpr const char* name = "mean";
    static constexpr Part parts[] = {Part::sum, Part::nan_count};
    static constexpr bool narrows = true;
    static double finish(const double* x, std::int64_t n) {
        const double m = n_values(x + 1, n);
        return m > 0 ? x[0] / m : kNaN;
    }
};

// The sum of non-NaN values (0 for a group without one, as pandas sums).
// Never narrowed: pseudo-bulk sums of float32 counts pass 2**24, where
// float32 stops holding every whole number.
struct Sum {
    static constexpr const char* name = "sum";
    static constexpr Part parts[] = {Part::sum};
    static constexpr bool narrows = false;
    static double finish(const double* x, std::int64_t) { return x[0]; }
};

// The sample variance (one degree of freedom) of non-NaN values; NaN for
// fewer than two. From the sum and the sum of squares in float64: exact for
// counts, relative error about eps * mean^2 / variance otherwise. Where all
// values are equal that rounding leaves up to about 2 * eps * m * mean^2, so
// a variance that small reads as 0, as a two-pass variance gives it (a group
// constant at a value like -0.32, a scaled zero, stays constant).
struct Var {
    static constexpr const char* name = "var";
    static constexpr Part parts[] = {Part::sum, Part::nan_count, Part::sum_sq};
    static constexpr bool narrows = true;
    static double finish(const double* x, std::int64_t n) {
        const double m = n_values(x + 1, n);
        if (!(m > 1)) return kNaN;
        const double mean = x[0] / m;
        const double var = (x[2] - x[0] * mean) / (m - 1);
        return var > 2.0 * std::numeric_limits<double>::epsilon() * m * mean * mean ? var : 0.0;
    }
};

// Non-NaN values other than zero.
struct CountNonzero {
    static constexpr const char* name = "count_nonzero";
    static constexpr Part parts[] = {Part::nonzero};
    static constexpr bool narrows = false;
    static double finish(const double* x, std::int64_t) { return x[0]; }
};

// Non-NaN values (stored or not).
struct Count {
    static constexpr const char* name = "count";
    static constexpr Part parts[] = {Part::nan_count};
    static constexpr bool narrows = false;
    static double finish(const double* x, std::int64_t n) { return n_values(x, n); }
};

// Every statistic: X(enum name, recipe).
#define QUEND_STATS(X)             \
    X(detected, Detected)          \
    X(mean, Mean)                  \
    X(sum, Sum)                    \
    X(var, Var)                    \
    X(count_nonzero, CountNonzero) \
    X(count, Count)

enum class Stat {
#define QUEND_STAT_ENUM(id, R) id,
    QUEND_STATS(QUEND_STAT_ENUM)
#undef QUEND_STAT_ENUM
};

// Every statistic, in declaration order: the kernel tests walk this list,
// so a new recipe is tested with the others.
inline constexpr Stat kStats[] = {
#define QUEND_STAT_ITEM(id, R) Stat::id,
    QUEND_STATS(QUEND_STAT_ITEM)
#undef QUEND_STAT_ITEM
};

// f(Recipe{}) for the statistic's recipe.
template <typename F>
decltype(auto) with_recipe(Stat s, F&& f) {
    switch (s) {
#define QUEND_STAT_CASE(id, R) \
    case Stat::id: return f(R{});
        QUEND_STATS(QUEND_STAT_CASE)
#undef QUEND_STAT_CASE
    }
    return f(Detected{});  // unreachable: every enumerator has a case
}

template <typename R>
constexpr unsigned mask_of() {
    unsigned m = 0;
    for (Part p : R::parts) m |= 1u << static_cast<unsigned>(p);
    return m;
}

// The parts one pass fills, in part order: the union of some statistics'.
struct PartSet {
    unsigned mask = 0;
    PartSet() = default;
    PartSet(Stat s);  // implicit: a statistic stands for its parts
    explicit PartSet(const std::vector<Stat>& stats);
    bool has(Part p) const { return (mask >> static_cast<unsigned>(p)) & 1u; }
    std::size_t size() const;
    Part at(std::size_t i) const;     // the i-th part held
    std::size_t index(Part p) const;  // position of a held part
    const char* name(std::size_t i) const { return kPartNames[static_cast<unsigned>(at(i))]; }
    bool operator==(const PartSet& o) const { return mask == o.mask; }
    bool operator!=(const PartSet& o) const { return mask != o.mask; }
};

// The per-value rule of a set of parts. `kind` holds one table pointer per
// part kind (null where not held). `Mask` fixes the set at compile time
// (the common single statistics, fastest); 0 reads it from the pointers.
// `Plain` blocks hold no NaN: the check per value is left out.
template <unsigned Mask>
struct PartRule {
    template <Part P>
    static bool has(double* const* kind) {
        if constexpr (Mask != 0)
            return (Mask >> static_cast<unsigned>(P)) & 1u;
        else
            return kind[static_cast<unsigned>(P)] != nullptr;
    }
    template <Part P>
    static double& at(double* const* kind, std::size_t o) {
        return kind[static_cast<unsigned>(P)][o];
    }
    template <bool Plain, typename T>
    static void add(double* const* kind, std::size_t o, T v) {
        // Loads, not branches: signs of stored values are not predictable.
        static constexpr double kOneIf[2] = {0.0, 1.0};
        if (has<Part::positive>(kind)) at<Part::positive>(kind, o) += kOneIf[v > T(0)];
        if (!Plain && is_nan(v)) {
            if (has<Part::nan_count>(kind)) at<Part::nan_count>(kind, o) += 1.0;
            return;
        }
        const double d = static_cast<double>(v);
        if (has<Part::sum>(kind)) at<Part::sum>(kind, o) += d;
        if (has<Part::sum_sq>(kind)) at<Part::sum_sq>(kind, o) += d * d;
        if (has<Part::nonzero>(kind)) at<Part::nonzero>(kind, o) += kOneIf[v != T(0)];
    }
};

// Whether a block's values may take the plain rule: they hold no NaN, or
// no part held looks at NaN.
template <typename T>
bool plain_values(PartSet s, const T* values, std::size_t n) {
    if constexpr (std::is_floating_point_v<T>) {
        if (s.mask == 1u << static_cast<unsigned>(Part::positive)) return true;
        bool any = false;
        for (std::size_t q = 0; q < n; ++q) any |= values[q] != values[q];  // vectorised
        return !any;
    } else {
        return true;
    }
}

// f(PartRule<...>{}) for a set of parts.
template <typename F>
decltype(auto) with_rule(PartSet s, F&& f) {
    if (s.mask == mask_of<Detected>()) return f(PartRule<mask_of<Detected>()>{});
    if (s.mask == mask_of<Mean>()) return f(PartRule<mask_of<Mean>()>{});
    if (s.mask == mask_of<Var>()) return f(PartRule<mask_of<Var>()>{});
    return f(PartRule<0>{});
}

// What the engine needs to know of a statistic without its rule.
struct RecipeInfo {
    const char* name;
    std::size_t n_parts;
    const char* const* parts;  // part names
    bool narrows;
};
RecipeInfo recipe_info(Stat s);

// The statistic of that name; std::invalid_argument for an unknown one,
// naming the known ones.
Stat stat_named(const std::string& name);
// "detected, mean, ...": the known statistics.
std::string stat_names();

}  // namespace quend
