#pragma once
// Shared by deg and tolvar: per-cell labels to sorted integer codes, gene
// names to column positions, and per-group tallies read straight from
// AnnData.X (dense numpy of any numeric dtype, scipy CSR/CSC in place).
#include <nanobind/nanobind.h>

#include "common/accessor_cast.hpp"

#include <cstdint>
#include <vector>

#include "core/group_expression.hpp"

namespace quend::glue {

namespace nb = nanobind;

struct LabelCodes {
    nb::object codes;   // int64 numpy array, one code per position (-1: missing label)
    nb::list labels;    // distinct labels, ascending by their own ordering
    const std::int64_t* data = nullptr;
    std::size_t n = 0;
    std::size_t n_labels() const { return nb::len(labels); }
};

// One vectorised factorisation, then codes renumbered so that code k is the
// k-th label in ascending order. Missing labels (NaN/None) get -1. Labels that
// cannot be ordered raise TypeError, as sorting them would.
LabelCodes sorted_label_codes(nb::handle values);

// Column positions of `genes` among `var_names`; KeyError naming the genes
// that are not there.
std::vector<std::int64_t> gene_positions(nb::handle var_names, nb::handle genes);

// `genes` means "all genes" when None or of length 0.
bool all_genes(nb::handle genes);

// obs[column] with a KeyError that names the column.
nb::object obs_column(nb::handle obs, nb::handle column);

struct MatrixTallies {
    GroupTallies tallies;
    bool float32 = false;  // X holds float32 values
};

MatrixTallies tally_matrix(nb::handle X, const LabelCodes& groups, const ColumnSelection& sel, bool with_sums);

// New C-ordered float64 / float32 numpy array holding a row-major block.
nb::object numpy_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols, bool as_float32);

// New C-ordered int64 numpy array holding a row-major block.
nb::object numpy_int_matrix(const std::vector<std::int64_t>& values, std::size_t rows, std::size_t cols);

}  // namespace quend::glue
