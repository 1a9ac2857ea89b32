#pragma once
// Per-group statistics of a backed X (anndata's CSR/CSC datasets of an h5ad
// opened with backed="r", h5py/zarr dense datasets) streamed in blocks into
// one result table. A block holds about `orvalen.settings.block_bytes` of
// stored values (read at call time); CSR and dense files are cut into rows,
// CSC files into columns. Peak memory is one block, the compressed index
// pointer and the groups x genes result.
#include "common/nb.hpp"

#include "common/matrix_tally.hpp"

namespace quend::glue {

namespace nb = nanobind;

nb::object tally_backed(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, Stat stat);

// orvalen.settings.block_bytes (validated when set).
std::size_t block_bytes();

// A progress bar over `total` steps when orvalen.settings.progress is true:
// tqdm when installed, else a text bar on sys.stdout. Does nothing otherwise.
class ProgressBar {
public:
    explicit ProgressBar(std::size_t total);
    ~ProgressBar();
    void advance(std::size_t steps);
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

private:
    void draw();
    nb::object tqdm_;
    bool text_ = false;
    std::size_t total_, done_ = 0;
    int shown_ = -1;
};

}  // namespace quend::glue
