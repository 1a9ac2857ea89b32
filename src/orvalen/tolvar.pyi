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

def _detect_base64_type(b64: str) -> str: ...
def display_base64_auto(
    imgs: str | list[Any] | dict[Any, Any], use_html_img: bool = True, iframe_size: tuple[Any, Any] = (900, 500)
) -> None: ...
def pca_subsample(Xx: Any, N_components_pca: int, N_cells_max_for_pca: int = 100000) -> numpy.ndarray: ...
def compute_sample_div_index_v2(
    adata: anndata.AnnData,
    sample_col: str = "sample",
    cluster_col: str = "cnv_cluster",
    sdi_col: str = "cluster_diversity_index",
) -> pandas.DataFrame: ...
def get_sample_to_group_dict(
    samples: Sequence | pandas.Series | numpy.ndarray, conditions: Sequence | pandas.Series | numpy.ndarray
) -> dict[Hashable, Any]: ...
def get_sample_to_group_map(
    samples: Sequence | pandas.Series | numpy.ndarray, conditions: Sequence | pandas.Series | numpy.ndarray
) -> dict[Hashable, Any]: ...
def get_population(
    pids: Sequence | pandas.Series | numpy.ndarray,
    cts: Sequence | pandas.Series | numpy.ndarray,
    sort_by: str | list[str] = [],
) -> tuple[pandas.DataFrame, pandas.DataFrame]: ...
def get_gene_expression(
    adata: anndata.AnnData, items_to_plot: Sequence[str] | None = [], group_col: str = "sample"
) -> pandas.DataFrame: ...
def cci_get_means(
    cci_df_dct: dict[Hashable, pandas.DataFrame],
    cci_idx_lst: Sequence[str] | None = None,
    cells: Sequence[str] = [],
    genes: Sequence[str] = [],
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame: ...
def get_cci_means(
    cci_df_dct: dict[Hashable, pandas.DataFrame],
    cci_idx_lst: Sequence[str] | None = None,
    cells: Sequence[str] = [],
    genes: Sequence[str] = [],
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame: ...
def cci_get_diff_interactions(
    df_cci_sample: pandas.DataFrame,
    sample_group_map: Mapping[Hashable, Any] | pandas.Series,
    ref_group: Hashable | None = None,
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame: ...
def test_group_diff(
    df_sample_by_items: pandas.DataFrame,
    sample_group_map: Mapping[Hashable, Any] | pandas.Series,
    ref_group: Hashable | None = None,
    pval_cutoff: float = 0.05,
) -> pandas.DataFrame: ...
def cci_remove_common(df_dct: dict[Hashable, pandas.DataFrame]) -> dict[Hashable, pandas.DataFrame]: ...
def cci_get_ni_mat(
    df_dct: dict[Hashable, pandas.DataFrame], remove_common: bool = True
) -> dict[Hashable, pandas.DataFrame]: ...
def get_cci_ni_mat(
    df_dct: dict[Hashable, pandas.DataFrame], remove_common: bool = True
) -> dict[Hashable, pandas.DataFrame]: ...
def cpdb_get_gp_n_cp(idx: str) -> tuple[str, str, str, str, str, str]: ...
def cci_get_df_to_plot(
    df_dct: dict[Hashable, pandas.DataFrame],
    pval_cutoff: float = 0.01,
    mean_cutoff: float = 1,
    target_cells: list[str] | None = None,
) -> dict[Hashable, pandas.DataFrame]: ...
def get_markers_from_deg(
    df_dct: dict[str, pandas.DataFrame],
    ref_col: str = "score",
    N_mkrs: int = 30,
    nz_pct_test_min: float = 0.5,
    nz_pct_ref_max: float = 0.1,
    rem_common: bool = True,
) -> dict[str, list[str]] | None: ...
def filter_gsa_result(
    dct: dict[Hashable, pandas.DataFrame], neg_log_p_cutoff: float
) -> dict[Hashable, pandas.DataFrame]: ...
def get_abbreviations() -> dict[str, dict[str, str]]: ...
def get_abbreviations_uni() -> dict[str, str]: ...
def split_text(s: str, N_max: int = 20) -> str: ...
def evaluate_performance(y: Any, y_pred: Any, labels: Sequence[Any] = ["Tumor", "Normal"]) -> dict[str, float]: ...
def compute_sample_div_index(
    adata: anndata.AnnData,
    sample_col: str = "sample",
    cluster_col: str = "cnv_cluster",
    tumor_dec: str = "ploidy_dec",
    ref_ind_col: str = "cnv_ref_ind",
    sdi_col: str = "sample_diversity_index",
    tumor_name: str = "Aneuploid",
) -> pandas.DataFrame: ...
def get_axes(axes: Any, nr: int, nc: int, j: int) -> Any: ...
def _get_value_info(
    value: Any,
    key_name: Hashable | None = None,
    is_top_level_anndata_component: bool = False,
    level_of_value: int | None = None,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: list[str] | None = None,
) -> str: ...
def _display_dict_or_dataframe_recursive(
    current_obj: Any,
    current_depth: int,
    parent_prefix: str,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: list[str] | None = None,
    ss: str | None = None,
) -> str: ...
def show_anndata_tree(
    obj: Any,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: list[str] | None = None,
    _current_depth: int = 0,
    _parent_prefix: str = "",
    ss: str | None = None,
) -> str: ...

show_tree = show_anndata_tree

def _tally_chunk(chunks: object, job: object, t: int, j: int) -> object: ...
def _tally_fold(slab: object | None, pieces: object, job: object, k: int, last: bool) -> object: ...
