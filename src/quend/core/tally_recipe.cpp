#include "core/tally_recipe.hpp"

#include <array>
#include <stdexcept>

namespace quend {

namespace {

template <typename R>
const char* const* part_names() {
    static const auto names = [] {
        std::array<const char*, std::size(R::parts)> a{};
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = kPartNames[static_cast<unsigned>(R::parts[i])];
        return a;
    }();
    return names.data();
}

}  // namespace

PartSet::PartSet(Stat s) {
    mask = with_recipe(s, [](auto r) { return mask_of<decltype(r)>(); });
}

PartSet::PartSet(const std::vector<Stat>& stats) {
    for (Stat s : stats) mask |= PartSet(s).mask;
}

std::size_t PartSet::size() const { return static_cast<std::size_t>(__builtin_popcount(mask)); }

Part PartSet::at(std::size_t i) const {
    for (unsigned p = 0; p < kMaxParts; ++p)
        if ((mask >> p) & 1u && i-- == 0) return static_cast<Part>(p);
    throw std::out_of_range("part position out of range");
}

std::size_t PartSet::index(Part p) const {
    if (!has(p)) throw std::out_of_range("part not held");
    return static_cast<std::size_t>(__builtin_popcount(mask & ((1u << static_cast<unsigned>(p)) - 1u)));
}

RecipeInfo recipe_info(Stat s) {
    return with_recipe(s, [](auto r) {
        using R = decltype(r);
        return RecipeInfo{R::name, std::size(R::parts), part_names<R>(), R::narrows};
    });
}

std::string stat_names() {
    std::string out;
#define QUEND_STAT_NAME(id, R) out += std::string(out.empty() ? "" : ", ") + R::name;
    QUEND_STATS(QUEND_STAT_NAME)
#undef QUEND_STAT_NAME
    return out;
}

Stat stat_named(const std::string& name) {
#define QUEND_STAT_NAMED(id, R) \
    if (name == R::name) return Stat::id;
    QUEND_STATS(QUEND_STAT_NAMED)
#undef QUEND_STAT_NAMED
    throw std::invalid_argument("unknown statistic '" + name + "'; known: " + stat_names());
}

}  // namespace quend
