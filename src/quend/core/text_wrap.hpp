#pragma once
// Where to break a label so that its lines stay near a length limit.
#include <cstddef>
#include <vector>

namespace quend {

// `spaces`: ascending indices of the space characters of a text of `length`
// characters (length > 0). Returns the ascending indices at which a line
// break is inserted: right after a space, whenever the stretch from the start
// of the current line to the next space (or to the last character) exceeds
// `limit`. The final segment is measured to the last index, so the last line
// may hold limit + 1 characters.
std::vector<std::size_t> wrap_breaks(const std::vector<std::size_t>& spaces, std::size_t length, double limit);

}  // namespace quend
