#pragma once
// Reference text of filter_gsa_result; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* filter_gsa_result = R"doc(Keep the significant rows of gene-set-analysis tables.

Parameters
----------
dct : dict
    {key: table}, each with a '-log(p-val)' column.
neg_log_p_cutoff : float
    Keep rows whose '-log(p-val)' is at least this (NaN never passes).

Returns
-------
dict
    A new dictionary with the same keys; row order and columns kept. Prints
    nothing.

Raises
------
KeyError
    A table without '-log(p-val)'.

Examples
--------
>>> tolvar.filter_gsa_result(gsa, 2.0)["up"].index.tolist()
['PATHWAY_A']
)doc";

}  // namespace quend::tolvar::doc
