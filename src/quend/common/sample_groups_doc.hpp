#pragma once
// Reference text of the two sample-to-group functions that deg and tolvar share.
namespace quend::glue::doc {

inline constexpr const char* get_sample_to_group_dict =
    R"doc(Map each distinct sample (ascending) to the condition of its first occurrence.

Parameters
----------
samples : list, array or pandas.Series
    One sample label per observation, e.g. ``adata.obs['sample']``.
conditions : list, array or pandas.Series
    One condition label per observation, same length as samples.

Returns
-------
dict
    {sample: condition}, samples in ascending order. Keys and values are the
    numpy scalars of the label arrays (``np.str_('s1')`` under numpy 2), which
    compare and hash equal to the plain labels; pass ``str(value)`` where a
    plain str is required (simple_DEG's ref_condition). Observations without
    a sample label (None, NaN) are left out. Prints nothing.

Raises
------
IndexError
    samples and conditions differ in length.
TypeError
    Sample labels that cannot be ordered against each other (an object
    Series mixing text and numbers; a plain list of mixed labels becomes
    text first).

Examples
--------
>>> deg.get_sample_to_group_dict(["s2", "s1", "s2", "s1"], ["B", "A", "B", "A"])
{np.str_('s1'): np.str_('A'), np.str_('s2'): np.str_('B')}
)doc";

inline constexpr const char* get_sample_to_group_map = R"doc(Same result as get_sample_to_group_dict.

Calls the module's current get_sample_to_group_dict, so rebinding that name
changes this function too.

Parameters
----------
samples : list, array or pandas.Series
    One sample label per observation.
conditions : list, array or pandas.Series
    One condition label per observation, same length as samples.

Returns
-------
dict
    {sample: condition}, samples ascending (numpy scalars, see
    get_sample_to_group_dict). Prints nothing.

Raises
------
IndexError, TypeError
    As get_sample_to_group_dict.

Examples
--------
>>> groups = tolvar.get_sample_to_group_map(adata.obs["sample"], adata.obs["condition"])
)doc";

}  // namespace quend::glue::doc
