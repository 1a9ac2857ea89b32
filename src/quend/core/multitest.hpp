#pragma once
#include <vector>

namespace quend {

// Benjamini-Hochberg adjusted p-values, with the same operations and order as
// statsmodels' multipletests(method='fdr_bh') so results agree bit for bit.
std::vector<double> fdr_bh(const std::vector<double>& pvalues);

}  // namespace quend
