#pragma once
// Reference text of get_abbreviations, get_abbreviations_uni, split_text and get_axes; help() puts the binding's
// signature line above each.
namespace quend::tolvar::doc {

inline constexpr const char* get_abbreviations = R"doc(Cell-type abbreviations at three levels of detail.

Returns
-------
dict
    {'celltype_major': {...}, 'celltype_minor': {...}, 'celltype_subset':
    {...}} (7, 15 and 40 names); a new dictionary at each call.

Examples
--------
>>> tolvar.get_abbreviations()["celltype_major"]["Smooth muscle cell"]
'SMC'
)doc";

inline constexpr const char* get_abbreviations_uni = R"doc(Cell-type name to abbreviation, one flat table.

Returns
-------
dict
    97 names; a new dictionary at each call. 'Luminal epithelial cell' is
    'Epi (Lum)' here but 'Epi lum' in get_abbreviations' subset level
    (likewise 'Mammary epithelial cell').

Examples
--------
>>> tolvar.get_abbreviations_uni()["Macrophage (M1)"]
'Mac_M1'
)doc";

inline constexpr const char* split_text = R"doc(Wrap a label onto lines of at most N_max characters, at spaces.

Parameters
----------
s : str
    The label.
N_max : int
    Longest line; a single longer word stays whole.

Returns
-------
str
    s itself when it has at most N_max characters, otherwise s with newlines
    inserted after the spaces where a line would grow longer (the space
    stays at the end of its line).

Examples
--------
>>> tolvar.split_text("The quick brown fox jumps over the lazy dog")
'The quick brown fox \njumps over the lazy \ndog'
)doc";

inline constexpr const char* get_axes = R"doc(Panel j of a grid of axes, whatever its shape.

Parameters
----------
axes : matplotlib axes array
    As returned by plt.subplots(nr, nc).
nr, nc : int
    Rows and columns of the grid.
j : int
    0-based panel number, row by row.

Returns
-------
matplotlib.axes.Axes
    axes[j // nc][j % nc] when nr > 1, else axes[j].

Examples
--------
>>> fig, axes = plt.subplots(2, 3)
>>> ax = tolvar.get_axes(axes, 2, 3, 4)     # axes[1][1]
)doc";

}  // namespace quend::tolvar::doc
