#include "core/tally_recipe.hpp"

#include <stdexcept>

namespace quend {

RecipeInfo recipe_info(Stat s) {
    return with_recipe(s, [](auto r) {
        using R = decltype(r);
        return RecipeInfo{R::name, R::n_parts, R::parts, R::narrows};
    });
}

Stat stat_named(const std::string& name) {
#define QUEND_STAT_NAMED(id, R) \
    if (name == R::name) return Stat::id;
    QUEND_STATS(QUEND_STAT_NAMED)
#undef QUEND_STAT_NAMED
    throw std::invalid_argument("unknown statistic '" + name + "'");
}

}  // namespace quend
