#pragma once
// The statistics a group tally computes, each declared once as a recipe:
// - `parts`: its named intermediates, one groups x columns table each;
//   intermediates of two tallies combine by addition (so any cut of the rows
//   adds up to the whole);
// - `add<Plain>(part, o, v)`: the per-value rule, used by every path (dense
//   tables, sparse partials, merges); `plain(values, n)` tells that a block
//   may use the plain rule, which writes only the first intermediate;
// - `finish(x, n)`: the statistic of one (group, column) pair from its
//   intermediates `x` and the group's cell count `n`;
// - `narrows`: float32 input gives a float32 result (rounded once);
// - bytes per stored pair of a sparse partial: 4 (column) + 8 per part.
// Adding a statistic: write its struct and add it to QUEND_STATS below.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace quend {

inline constexpr std::size_t kMaxParts = 2;

template <typename T>
inline bool is_nan(T v) {
    if constexpr (std::is_floating_point_v<T>)
        return std::isnan(v);
    else
        return false;
}

// The share of cells with a value > 0 (NaN is not > 0).
struct Detected {
    static constexpr const char* name = "detected";
    static constexpr std::size_t n_parts = 1;
    static constexpr const char* parts[n_parts] = {"count"};
    static constexpr bool narrows = false;
    template <typename T>
    static bool plain(const T*, std::size_t) {
        return true;
    }
    template <bool Plain, typename T>
    static void add(double* const* part, std::size_t o, T v) {
        // A load, not a branch: signs of stored values are not predictable.
        static constexpr double kOneIf[2] = {0.0, 1.0};
        part[0][o] += kOneIf[v > T(0)];
    }
    static double finish(const double* x, std::int64_t n) {
        return n > 0 ? x[0] / static_cast<double>(n) : std::numeric_limits<double>::quiet_NaN();
    }
};

// The mean over non-NaN values (stored zeros and unstored cells count).
struct Mean {
    static constexpr const char* name = "mean";
    static constexpr std::size_t n_parts = 2;
    static constexpr const char* parts[n_parts] = {"sum", "nan_count"};
    static constexpr bool narrows = true;
    // Blocks without a NaN take the plain sum: the same scatter as detection.
    template <typename T>
    static bool plain(const T* values, std::size_t n) {
        if constexpr (std::is_floating_point_v<T>) {
            bool any = false;
            for (std::size_t q = 0; q < n; ++q) any |= values[q] != values[q];  // vectorised
            return !any;
        } else {
            return true;
        }
    }
    template <bool Plain, typename T>
    static void add(double* const* part, std::size_t o, T v) {
        if (!Plain && is_nan(v))
            part[1][o] += 1.0;
        else
            part[0][o] += static_cast<double>(v);
    }
    static double finish(const double* x, std::int64_t n) {
        const double m = static_cast<double>(n) - x[1];
        return m > 0 ? x[0] / m : std::numeric_limits<double>::quiet_NaN();
    }
};

// Every statistic: X(enum name, recipe).
#define QUEND_STATS(X)    \
    X(detected, Detected) \
    X(mean, Mean)

enum class Stat {
#define QUEND_STAT_ENUM(id, R) id,
    QUEND_STATS(QUEND_STAT_ENUM)
#undef QUEND_STAT_ENUM
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

// What the engine needs to know of a statistic without its rule.
struct RecipeInfo {
    const char* name;
    std::size_t n_parts;
    const char* const* parts;
    bool narrows;
    std::size_t pair_bytes() const { return 4 + 8 * n_parts; }
};
RecipeInfo recipe_info(Stat s);

// The statistic of that name; std::invalid_argument for an unknown one.
Stat stat_named(const std::string& name);

}  // namespace quend
