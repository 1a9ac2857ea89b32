#pragma once
// Reference text of _get_value_info, _display_dict_or_dataframe_recursive and show_anndata_tree; help() puts the
// binding's signature line above each.
namespace quend::tolvar::doc {

inline constexpr const char* _get_value_info = R"doc(One-line description of a value for the tree printer.

Tables give their shape and up to n_to_show column names; arrays of up to four
elements and scalars their own text; other arrays their shape and dtype;
dictionaries "(dict)", with up to n_to_show key names once level_of_value
reaches max_depth; texts of up to 79 characters are quoted. A key_name listed
in limited_keys gives the empty text.)doc";

inline constexpr const char* _display_dict_or_dataframe_recursive =
    R"doc(Tree lines of a dictionary or table, nested up to max_depth.)doc";

inline constexpr const char* show_anndata_tree = R"doc(Text tree of an AnnData object, dictionary or table.

Parameters
----------
obj : anndata.AnnData, dict or pandas.DataFrame
    An AnnData (its eight components, expanding obsm, obsp, varm, varp and
    uns), a dictionary (one line per key, nested dictionaries indented) or a
    DataFrame.
max_depth : int
    Deepest level listed; deeper dictionaries are summarised by their keys.
n_to_show : int
    Number of column names and key names quoted in a description.
limited_keys : list of str, optional
    Keys never shown nor expanded; None means the bulky result entries that
    analysis tools leave in uns ("log", "cnv", "DEG_stat", ...).
_current_depth, _parent_prefix : int, str
    Used by the recursion.
ss : str, optional
    Text the tree is appended to.

Returns
-------
str
    The text (ss, when given, followed by the tree); it prints nothing.
    show_tree is the same function.

Examples
--------
>>> print(tolvar.show_anndata_tree({"a": 1, "bb": {"c": "x"}}))
Dictionary Structure (top-level):
├── a : 1
└── bb: (dict)
     └── c: 'x'
)doc";

}  // namespace quend::tolvar::doc
