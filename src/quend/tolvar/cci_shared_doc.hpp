#pragma once
// Reference text of cci_remove_common, cci_get_ni_mat, get_cci_ni_mat and cpdb_get_gp_n_cp; help() puts the binding's
// signature line above each.
namespace quend::tolvar::doc {

inline constexpr const char* cci_remove_common = R"doc(Drop the interactions present in every sample.

Parameters
----------
df_dct : dict
    CCI result dictionary {sample: table}.

Returns
-------
dict
    A new dictionary, same keys and order; rows keep their table order. A
    single sample gives an empty table. Prints nothing.

Examples
--------
>>> specific = tolvar.cci_remove_common(cci)
)doc";

inline constexpr const char* cci_get_ni_mat =
    R"doc(Per-sample counts of interactions between sender and receiver cell types.

Parameters
----------
df_dct : dict
    CCI result dictionary {sample: table}.
remove_common : bool
    First drop the interactions present in every sample (cci_remove_common).

Returns
-------
dict
    {sample: DataFrame}, sender cell types as rows, receivers as columns;
    every matrix has the same index and columns, the sorted cell types found
    in the counted tables. Prints nothing.

Raises
------
KeyError
    A table without cell_A or cell_B.

Examples
--------
>>> counts = tolvar.cci_get_ni_mat(cci, remove_common=False)
)doc";

inline constexpr const char* get_cci_ni_mat =
    R"doc(Second name of cci_get_ni_mat: calls the module's current cci_get_ni_mat.

Parameters
----------
df_dct : dict
    CCI result dictionary {sample: table}.
remove_common : bool
    First drop the interactions present in every sample.

Returns
-------
dict
    What cci_get_ni_mat returns; see help(tolvar.cci_get_ni_mat).

Examples
--------
>>> counts = tolvar.get_cci_ni_mat(cci)
)doc";

inline constexpr const char* cpdb_get_gp_n_cp =
    R"doc(Split an interaction identifier into gene pair, cell pair and their parts.

Parameters
----------
idx : str
    An identifier 'G1_G2--C1|C2'.

Returns
-------
tuple of str
    (gene_pair, cell_pair, gene_A, gene_B, cell_A, cell_B).

Raises
------
IndexError
    A separator is missing.
AttributeError
    idx is not text.

Examples
--------
>>> tolvar.cpdb_get_gp_n_cp("G1_G2--C1|C2")
('G1_G2', 'C1|C2', 'G1', 'G2', 'C1', 'C2')
)doc";

}  // namespace quend::tolvar::doc
