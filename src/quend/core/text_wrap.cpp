#include "core/text_wrap.hpp"

namespace quend {

std::vector<std::size_t> wrap_breaks(const std::vector<std::size_t>& spaces, std::size_t length, double limit) {
    std::vector<std::size_t> breaks;
    if (length == 0) return breaks;
    std::vector<std::size_t> positions(spaces);
    positions.push_back(length - 1);
    std::size_t line_start = 0;
    for (std::size_t j = 1; j < positions.size(); ++j) {
        // Signed: a space right at a break gives a zero-length stretch.
        const double stretch = static_cast<double>(positions[j]) - static_cast<double>(line_start);
        if (stretch > limit) {
            line_start = positions[j - 1] + 1;
            breaks.push_back(line_start);
        }
    }
    return breaks;
}

}  // namespace quend
