#pragma once
// Reference text of evaluate_performance; help() puts the binding's signature line above it.
namespace quend::tolvar::doc {

inline constexpr const char* evaluate_performance = R"doc(Per-class and overall classification scores.

Parameters
----------
y : numpy.ndarray or pandas.Series
    Reference labels.
y_pred : numpy.ndarray or pandas.Series
    Predicted labels (a Series with the same index as y).
labels : list
    The classes to score, in order.

Returns
-------
dict
    numpy floats rounded to 3 decimals: 'Accuracy', 'F1' (per-class F1
    weighted by class size), then for each label 'F1 (<label>)', 'Precision
    (<label>)', 'Recall (<label>)', 'FPR (<label>)'. An undefined ratio (a
    class never predicted, absent, or without negatives) is NaN, with
    numpy's warning. Prints nothing.

Examples
--------
>>> y = np.array(["Tumor", "Tumor", "Normal", "Normal"])
>>> tolvar.evaluate_performance(y, np.array(["Tumor", "Normal", "Normal", "Normal"]))
{'Accuracy': np.float64(0.75), 'F1': np.float64(0.733), 'F1 (Tumor)': np.float64(0.667), ...}
)doc";

}  // namespace quend::tolvar::doc
