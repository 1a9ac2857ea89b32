"""
Toolbox: cell-cell interactions, markers, cohort metrics and display helpers.

Cell-cell interactions (CCI): cci_get_means, cci_get_diff_interactions,
cci_remove_common, cci_get_ni_mat, cpdb_get_gp_n_cp, cci_get_df_to_plot.
Markers and gene sets: get_markers_from_deg, filter_gsa_result.
Cohort composition and metrics: get_population, get_gene_expression,
get_sample_to_group_dict/_map, compute_sample_div_index(_v2),
evaluate_performance, pca_subsample.
Display and labels: show_anndata_tree (alias show_tree), display_base64_auto,
get_abbreviations(_uni), split_text, get_axes.

A CCI result dictionary maps each sample to its interaction table: index =
interaction identifiers 'G1_G2--C1|C2' (sender gene, receiver gene, sender
cell type, receiver cell type), columns gene_A, gene_B, cell_A, cell_B, mean,
pval. Use help(tolvar.<function>) for each function's reference.

Optional libraries are flagged at import, without importing them: SCANVPY
(scanpy), STATANNOT (statannotations), SEABORN (seaborn); plotly has no flag.
A missing one is reported with two WARNING lines and its names stay unbound.
The libraries the module binds (np, pd, plt, met, stats, PCA, sc, anndata,
display, ...) are imported on first use.
"""

from collections.abc import Hashable, Mapping, Sequence
from typing import Any

import anndata
import numpy
import pandas

# Availability of an optional library, checked at load.
SCANVPY: bool

# Availability of an optional library, checked at load.
STATANNOT: bool

# Availability of an optional library, checked at load.
SEABORN: bool

def _detect_base64_type(b64: str) -> str:
    """
    Guess what a base64 text holds from its first bytes.

    Parameters
    ----------
    b64 : str
        Base64 text; line breaks are ignored.

    Returns
    -------
    str
        'png', 'jpeg', 'gif', 'webp', 'html' or 'unknown'.

    Raises
    ------
    TypeError
        b64 is not text.
    """

def display_base64_auto(
    imgs: str | list[Any] | dict[Any, Any], use_html_img: bool = True, iframe_size: tuple[Any, Any] = (900, 500)
) -> None:
    """
    Show base64-encoded images or HTML documents inline in a notebook.

    PNG, JPEG, GIF and WebP images are shown as an HTML <img> with a data URI or
    as an IPython Image; HTML documents in an <iframe>.

    Parameters
    ----------
    imgs : str, list or dict
        One base64 text, a list of them or a dictionary whose values are texts
        (other elements are skipped). Line breaks inside the text are fine.
    use_html_img : bool
        Images as <img> with a data URI (True) or as IPython Image (False).
    iframe_size : tuple
        (width, height) of the iframe for HTML documents.

    Returns
    -------
    None

    Raises
    ------
    ValueError
        iframe_size is not a pair.

    Notes
    -----
    Prints ``⚠️ Unknown base64 type — cannot display`` for content it does not
    recognise.

    Examples
    --------
    >>> b64 = base64.b64encode(open("figure.png", "rb").read()).decode()
    >>> tolvar.display_base64_auto(b64)
    """

def pca_subsample(Xx: Any, N_components_pca: int, N_cells_max_for_pca: int = 100000) -> numpy.ndarray:
    """
    Project rows onto the components of a truncated SVD fitted on a subsample.

    No centring. With more rows than N_cells_max_for_pca the SVD is fitted on a
    random subset of exactly that many rows (drawn with Python's random; call
    random.seed first for a repeatable subset) and applied to all rows.

    Parameters
    ----------
    Xx : array, scipy.sparse matrix or pandas.DataFrame
        Cells by features. X may be in memory, backed
        (``read_h5ad(..., backed='r')``) or a Dask array; see docs/scaling.md.
    N_components_pca : int
        Number of components.
    N_cells_max_for_pca : int
        Largest number of rows the SVD is fitted on.

    Returns
    -------
    numpy.ndarray
        Shape (rows, N_components_pca).

    Raises
    ------
    ValueError
        scikit-learn's error for too many components.

    Examples
    --------
    >>> random.seed(0)
    >>> X_pca = tolvar.pca_subsample(adata.X, 5, N_cells_max_for_pca=100)
    """

def compute_sample_div_index_v2(
    adata: anndata.AnnData,
    sample_col: str = "sample",
    cluster_col: str = "cnv_cluster",
    sdi_col: str = "cluster_diversity_index",
) -> pandas.DataFrame:
    """
    Sample diversity index of each cluster, reduced version.

    The index is the Shannon entropy, in bits, of a cluster's cells over samples.

    Parameters
    ----------
    adata : anndata.AnnData
        Its obs holds sample_col and cluster_col; obs[sdi_col] is written.
    sample_col : str
        obs column of sample labels.
    cluster_col : str
        obs column of cluster labels (matched by their text form).
    sdi_col : str
        Column of the result and of obs that receives the index.

    Returns
    -------
    pandas.DataFrame
        Indexed by cluster with N_samples and the index under sdi_col (the
        columns Tumor_pct and sample_diversity_index stay empty unless sdi_col
        names one of them). Also writes adata.obs[sdi_col]: the rounded index of
        each cell's cluster, as text. Prints nothing.

    Raises
    ------
    KeyError
        A missing obs column.

    Examples
    --------
    >>> tolvar.compute_sample_div_index_v2(adata)
    """

def get_sample_to_group_dict(
    samples: Sequence | pandas.Series | numpy.ndarray, conditions: Sequence | pandas.Series | numpy.ndarray
) -> dict[Hashable, Any]:
    """
    Map each distinct sample (ascending) to the condition of its first occurrence.

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
    """

def get_sample_to_group_map(
    samples: Sequence | pandas.Series | numpy.ndarray, conditions: Sequence | pandas.Series | numpy.ndarray
) -> dict[Hashable, Any]:
    """
    Same result as get_sample_to_group_dict.

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
    """

def get_population(
    pids: Sequence | pandas.Series | numpy.ndarray,
    cts: Sequence | pandas.Series | numpy.ndarray,
    sort_by: str | list[str] = [],
) -> tuple[pandas.DataFrame, pandas.DataFrame]:
    """
    Cell-type counts and percentages per sample.

    Parameters
    ----------
    pids : list, array or pandas.Series
        Sample label of every cell.
    cts : list, array or pandas.Series
        Cell type of every cell, same length.
    sort_by : str or list of str
        Cell types by which the percentage table is sorted; empty: not sorted.

    Returns
    -------
    counts, percent : tuple of pandas.DataFrame
        Sorted samples as rows, sorted cell types as columns; every row of
        percent sums to 100. Only percent is sorted by sort_by. Cells whose
        sample or cell-type label is missing are left out. Prints nothing.

    Raises
    ------
    KeyError
        Unknown sort_by.
    TypeError
        Labels that cannot be ordered.

    Examples
    --------
    >>> counts, pct = tolvar.get_population(adata.obs["sample"], adata.obs["cell_type"])
    """

def get_gene_expression(
    adata: anndata.AnnData, items_to_plot: Sequence[str] | None = [], group_col: str = "sample"
) -> pandas.DataFrame:
    """
    Fraction of expressing cells per group and gene.

    Parameters
    ----------
    adata : anndata.AnnData
        Cells by genes. X may be in memory, backed
        (``read_h5ad(..., backed='r')``) or a Dask array; see docs/scaling.md.
    items_to_plot : list of str
        Genes, in that order; None or empty for all genes.
    group_col : str
        obs column that defines the rows.

    Returns
    -------
    pandas.DataFrame
        Sorted values of obs[group_col] as rows, genes as columns, each value
        the share of the group's cells with a value above 0. Cells whose group
        label is missing are left out. Prints nothing.

    Raises
    ------
    KeyError
        A missing column or an unknown gene.

    Examples
    --------
    >>> tolvar.get_gene_expression(adata, items_to_plot=["g2", "g0"], group_col="cell_type")
    """

def cci_get_means(
    cci_df_dct: dict[Hashable, pandas.DataFrame],
    cci_idx_lst: Sequence[str] | None = None,
    cells: Sequence[str] = [],
    genes: Sequence[str] = [],
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame:
    """
    Sample-by-interaction table of mean values from per-sample CCI tables.

    Parameters
    ----------
    cci_df_dct : dict
        CCI result dictionary {sample: table}; its order is the row order.
    cci_idx_lst : list of str, optional
        Interaction identifiers to use as columns, in order; None selects them
        from the data (then cells, genes and pval_cutoff apply).
    cells : list of str
        Keep only interactions whose sender or receiver cell type is listed
        (empty: no restriction).
    genes : list of str
        Keep only interactions whose sender or receiver gene is listed (empty:
        no restriction).
    pval_cutoff : float
        Keep interactions with pval <= pval_cutoff in at least one sample.

    Returns
    -------
    pandas.DataFrame
        Float table, samples as rows, interactions as columns (first-appearance
        order when selected from the data); NaN where a sample lacks the
        interaction. Prints nothing.

    Raises
    ------
    KeyError
        A missing column.
    ValueError
        An empty dictionary without cci_idx_lst (with it, the result is an empty
        table with those columns).

    Examples
    --------
    >>> means = tolvar.cci_get_means(cci)
    """

def get_cci_means(
    cci_df_dct: dict[Hashable, pandas.DataFrame],
    cci_idx_lst: Sequence[str] | None = None,
    cells: Sequence[str] = [],
    genes: Sequence[str] = [],
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame:
    """
    Second name of cci_get_means: calls the module's current cci_get_means.

    Parameters
    ----------
    cci_df_dct : dict
        CCI result dictionary {sample: table}.
    cci_idx_lst : list of str, optional
        Interaction identifiers to use as columns.
    cells, genes : list of str
        Cell types and genes to restrict the selection to.
    pval_cutoff : float
        Significance cut-off of the selection.

    Returns
    -------
    pandas.DataFrame
        What cci_get_means returns; see help(tolvar.cci_get_means).

    Examples
    --------
    >>> means = tolvar.get_cci_means(cci)
    """

def cci_get_diff_interactions(
    df_cci_sample: pandas.DataFrame,
    sample_group_map: Mapping[Hashable, Any] | pandas.Series,
    ref_group: Hashable | None = None,
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame:
    """
    Welch's two-sided t-test of every column between sample groups, ranked.

    Parameters
    ----------
    df_cci_sample : pandas.DataFrame
        Samples as rows, items (interactions) as columns, numbers: the table of
        cci_get_means or any such table.
    sample_group_map : dict or pandas.Series
        sample -> group (get_sample_to_group_map); every sample of the table
        must be in it.
    ref_group : object, optional
        None: every pair of groups; a group label: every other group against it.
    pval_cutoff : float
        Keep items with a p-value at most this (inclusive) in at least one
        comparison.

    Returns
    -------
    pandas.DataFrame
        Indexed by the kept items, one column of p-values per comparison named
        '<group>_vs_<other>' (all pairs: the later group in sort order first,
        e.g. B_vs_A, C_vs_A, C_vs_B). Untestable p-values are 1; missing values
        are omitted. Rows are ranked by the number of significant comparisons,
        then by the product of their p-values. An empty table when there is no
        comparison (one group, or ref_group not among the groups). Prints
        nothing.

    Raises
    ------
    KeyError
        A sample missing from the map.
    TypeError
        Group labels that cannot be ordered.

    Examples
    --------
    >>> diff = tolvar.cci_get_diff_interactions(means, groups, ref_group="Normal")
    >>> diff.columns.tolist()
    ['Tumor_vs_Normal']
    """

def test_group_diff(
    df_sample_by_items: pandas.DataFrame,
    sample_group_map: Mapping[Hashable, Any] | pandas.Series,
    ref_group: Hashable | None = None,
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame:
    """
    Second name of cci_get_diff_interactions: calls the module's current one.

    Parameters
    ----------
    df_sample_by_items : pandas.DataFrame
        Samples as rows, items as columns, numbers.
    sample_group_map : dict or pandas.Series
        sample -> group.
    ref_group : object, optional
        None: every pair of groups; a group label: every other group against it.
    pval_cutoff : float
        Keep items significant in at least one comparison.

    Returns
    -------
    pandas.DataFrame
        What cci_get_diff_interactions returns; see
        help(tolvar.cci_get_diff_interactions).

    Examples
    --------
    >>> tolvar.test_group_diff(means, groups, ref_group="Normal")
    """

def cci_remove_common(df_dct: dict[Hashable, pandas.DataFrame]) -> dict[Hashable, pandas.DataFrame]:
    """
    Drop the interactions present in every sample.

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
    """

def cci_get_ni_mat(
    df_dct: dict[Hashable, pandas.DataFrame], remove_common: bool = True
) -> dict[Hashable, pandas.DataFrame]:
    """
    Per-sample counts of interactions between sender and receiver cell types.

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
    """

def get_cci_ni_mat(
    df_dct: dict[Hashable, pandas.DataFrame], remove_common: bool = True
) -> dict[Hashable, pandas.DataFrame]:
    """
    Second name of cci_get_ni_mat: calls the module's current cci_get_ni_mat.

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
    """

def cpdb_get_gp_n_cp(idx: str) -> tuple[str, str, str, str, str, str]:
    """
    Split an interaction identifier into gene pair, cell pair and their parts.

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
    """

def cci_get_df_to_plot(
    df_dct: dict[Hashable, pandas.DataFrame],
    pval_cutoff: float = 0.01,
    mean_cutoff: float = 1,
    target_cells: list[str] | None = None,
) -> dict[Hashable, pandas.DataFrame]:
    """
    Significant interactions of all samples laid out over their union.

    Parameters
    ----------
    df_dct : dict
        CCI result dictionary {sample: table}.
    pval_cutoff : float
        Select interactions with pval <= pval_cutoff ...
    mean_cutoff : float
        ... and mean >= mean_cutoff in at least one sample.
    target_cells : list of str, optional
        When a list, only interactions involving one of these cell types.

    Returns
    -------
    dict
        {sample: DataFrame}; every table has the same index (the union, in order
        of first selection); an interaction a sample lacks has mean 0 and pval 1;
        the columns gene_pair, cell_pair, gene_A, gene_B, cell_A, cell_B are
        filled from the identifier.

    Raises
    ------
    KeyError
        A missing column.
    IndexError
        A malformed identifier.

    Notes
    -----
    Prints ``Union of Interactions: <n>``.

    Examples
    --------
    >>> to_plot = tolvar.cci_get_df_to_plot(cci, pval_cutoff=0.01, mean_cutoff=1)
    Union of Interactions: 3
    """

def get_markers_from_deg(
    df_dct: dict[str, pandas.DataFrame],
    ref_col: str = "score",
    N_mkrs: int = 30,
    nz_pct_test_min: float = 0.5,
    nz_pct_ref_max: float = 0.1,
    rem_common: bool = True,
) -> dict[str, list[str]] | None:
    """
    Marker genes per group from ranked per-group DEG tables.

    Parameters
    ----------
    df_dct : dict
        {key: table}; the part of the key before the first '_' is the group
        ('T cell_vs_rest' -> 'T cell'). Tables are indexed by gene with
        nz_pct_test, nz_pct_ref (detection fractions, 0 to 1) and ref_col.
    ref_col : str
        Ranking column, larger is better.
    N_mkrs : int
        Markers per group, at most.
    nz_pct_test_min : float
        Keep genes detected in at least this share of the group's cells ...
    nz_pct_ref_max : float
        ... and at most this share of the other cells (both inclusive).
    rem_common : bool
        Drop genes that are markers of two or more groups from every list.

    Returns
    -------
    dict or None
        {group: [genes]} in order of first appearance, ranked by ref_col (keys
        sharing a group name: the later one wins); None when a table lacks
        ref_col.

    Raises
    ------
    KeyError
        A missing nz_pct_test or nz_pct_ref.

    Notes
    -----
    Prints ``ERROR: <ref_col> not found in column name of DEG results.`` when a
    table lacks ref_col.

    Examples
    --------
    >>> tolvar.get_markers_from_deg(tables)
    {'T cell': ['CD3E', 'CD2']}
    """

def filter_gsa_result(
    dct: dict[Hashable, pandas.DataFrame], neg_log_p_cutoff: float
) -> dict[Hashable, pandas.DataFrame]:
    """
    Keep the significant rows of gene-set-analysis tables.

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
    """

def get_abbreviations() -> dict[str, dict[str, str]]:
    """
    Cell-type abbreviations at three levels of detail.

    Returns
    -------
    dict
        {'celltype_major': {...}, 'celltype_minor': {...}, 'celltype_subset':
        {...}} (7, 15 and 40 names); a new dictionary at each call.

    Examples
    --------
    >>> tolvar.get_abbreviations()["celltype_major"]["Smooth muscle cell"]
    'SMC'
    """

def get_abbreviations_uni() -> dict[str, str]:
    """
    Cell-type name to abbreviation, one flat table.

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
    """

def split_text(s: str, N_max: int = 20) -> str:
    """
    Wrap a label onto lines of at most N_max characters, at spaces.

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
    'The quick brown fox \\njumps over the lazy \\ndog'
    """

def evaluate_performance(y: Any, y_pred: Any, labels: Sequence[Any] = ["Tumor", "Normal"]) -> dict[str, float]:
    """
    Per-class and overall classification scores.

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
    """

def compute_sample_div_index(
    adata: anndata.AnnData,
    sample_col: str = "sample",
    cluster_col: str = "cnv_cluster",
    tumor_dec: str = "ploidy_dec",
    ref_ind_col: str = "cnv_ref_ind",
    sdi_col: str = "sample_diversity_index",
    tumor_name: str = "Aneuploid",
) -> pandas.DataFrame:
    """
    Sample diversity index of tumour clusters.

    The index is the Shannon entropy, in bits, of a cluster's cells over samples:
    0 for a cluster from one patient (typical of tumour clones), log2(k) for a
    cluster split evenly over k samples.

    Parameters
    ----------
    adata : anndata.AnnData
        Its obs holds the columns below; obs[sdi_col] is written.
    sample_col : str
        obs column of sample labels.
    cluster_col : str
        obs column of cluster labels (matched by their text form).
    tumor_dec : str
        obs column of the per-cell tumour call.
    ref_ind_col : str
        obs column of the per-cell reference flag (boolean or 0/1).
    sdi_col : str
        obs column to write.
    tumor_name : str
        The tumor_dec value that marks a tumour cell.

    Returns
    -------
    pandas.DataFrame
        Indexed by the sorted cluster labels with Tumor_pct, N_samples,
        sample_diversity_index, Ref_pct and Tumor (Tumor_pct >= 50); percentages
        truncated to whole numbers. Also writes adata.obs[sdi_col]: the rounded
        index of each cell's cluster, as text (replacing an existing column).
        Prints nothing.

    Raises
    ------
    KeyError
        A missing column.

    Examples
    --------
    >>> sdi = tolvar.compute_sample_div_index(adata)
    """

def get_axes(axes: Any, nr: int, nc: int, j: int) -> Any:
    """
    Panel j of a grid of axes, whatever its shape.

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
    """

def _get_value_info(
    value: Any,
    key_name: Hashable | None = None,
    is_top_level_anndata_component: bool = False,
    level_of_value: int | None = None,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: list[str] | None = None,
) -> str:
    """
    One-line description of a value for the tree printer.

    Tables give their shape and up to n_to_show column names; arrays of up to four
    elements and scalars their own text; other arrays their shape and dtype;
    dictionaries "(dict)", with up to n_to_show key names once level_of_value
    reaches max_depth; texts of up to 79 characters are quoted. A key_name listed
    in limited_keys gives the empty text.
    """

def _display_dict_or_dataframe_recursive(
    current_obj: Any,
    current_depth: int,
    parent_prefix: str,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: list[str] | None = None,
    ss: str | None = None,
) -> str:
    """Tree lines of a dictionary or table, nested up to max_depth."""

def show_anndata_tree(
    obj: Any,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: list[str] | None = None,
    _current_depth: int = 0,
    _parent_prefix: str = "",
    ss: str | None = None,
) -> str:
    """
    Text tree of an AnnData object, dictionary or table.

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
    """

show_tree = show_anndata_tree

def _chunk_tallies(
    chunk: Any,
    codes: numpy.ndarray,
    r0: int,
    r1: int,
    n_groups: int,
    cols: numpy.ndarray | None,
    n_matrix_cols: int,
    c0: int,
    count_sizes: bool,
    with_sums: bool,
) -> tuple:
    """Partial per-group tallies of one chunk of X."""

def _merge_tallies(parts: Any) -> tuple:
    """Sum of partial per-group tallies."""
