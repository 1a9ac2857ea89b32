"""Cell-cell interactions, markers, cohort metrics and display helpers."""

from typing import Any, Dict, Hashable, List, Mapping, Optional, Sequence, Tuple, Union

import anndata
import numpy as np
import pandas as pd

Labels = Union[Sequence[Any], pd.Series, np.ndarray]
CciTables = Dict[Hashable, pd.DataFrame]

# Availability of the optional libraries, checked at load.
SCANVPY: bool
STATANNOT: bool
SEABORN: bool

def _detect_base64_type(b64: str) -> str: ...
def display_base64_auto(
    imgs: Union[str, List[Any], Dict[Any, Any]],
    use_html_img: bool = True,
    iframe_size: Tuple[Any, Any] = (900, 500),
) -> None: ...
def pca_subsample(Xx: Any, N_components_pca: int, N_cells_max_for_pca: int = 100000) -> np.ndarray: ...
def compute_sample_div_index_v2(
    adata: anndata.AnnData,
    sample_col: str = "sample",
    cluster_col: str = "cnv_cluster",
    sdi_col: str = "cluster_diversity_index",
) -> pd.DataFrame: ...
def get_sample_to_group_dict(samples: Labels, conditions: Labels) -> Dict[Hashable, Any]: ...
def get_sample_to_group_map(samples: Labels, conditions: Labels) -> Dict[Hashable, Any]: ...
def get_population(
    pids: Labels, cts: Labels, sort_by: Union[str, List[str]] = []
) -> Tuple[pd.DataFrame, pd.DataFrame]: ...
def get_gene_expression(
    adata: anndata.AnnData, items_to_plot: Optional[Sequence[str]] = [], group_col: str = "sample"
) -> pd.DataFrame: ...
def cci_get_means(
    cci_df_dct: CciTables,
    cci_idx_lst: Optional[Sequence[str]] = None,
    cells: Sequence[str] = [],
    genes: Sequence[str] = [],
    pval_cutoff: float = 0.05,
) -> pd.DataFrame: ...
def get_cci_means(
    cci_df_dct: CciTables,
    cci_idx_lst: Optional[Sequence[str]] = None,
    cells: Sequence[str] = [],
    genes: Sequence[str] = [],
    pval_cutoff: float = 0.05,
) -> pd.DataFrame: ...
def cci_get_diff_interactions(
    df_cci_sample: pd.DataFrame,
    sample_group_map: Union[Mapping[Hashable, Any], pd.Series],
    ref_group: Optional[Hashable] = None,
    pval_cutoff: float = 0.05,
) -> pd.DataFrame: ...
def test_group_diff(
    df_sample_by_items: pd.DataFrame,
    sample_group_map: Union[Mapping[Hashable, Any], pd.Series],
    ref_group: Optional[Hashable] = None,
    pval_cutoff: float = 0.05,
) -> pd.DataFrame: ...
def cci_remove_common(df_dct: CciTables) -> CciTables: ...
def cci_get_ni_mat(df_dct: CciTables, remove_common: bool = True) -> CciTables: ...
def get_cci_ni_mat(df_dct: CciTables, remove_common: bool = True) -> CciTables: ...
def cpdb_get_gp_n_cp(idx: str) -> Tuple[str, str, str, str, str, str]: ...
def cci_get_df_to_plot(
    df_dct: CciTables,
    pval_cutoff: float = 0.01,
    mean_cutoff: float = 1,
    target_cells: Optional[List[str]] = None,
) -> CciTables: ...
def get_markers_from_deg(
    df_dct: Dict[str, pd.DataFrame],
    ref_col: str = "score",
    N_mkrs: int = 30,
    nz_pct_test_min: float = 0.5,
    nz_pct_ref_max: float = 0.1,
    rem_common: bool = True,
) -> Optional[Dict[str, List[str]]]: ...
def filter_gsa_result(dct: Dict[Hashable, pd.DataFrame], neg_log_p_cutoff: float) -> Dict[Hashable, pd.DataFrame]: ...
def get_abbreviations() -> Dict[str, Dict[str, str]]: ...
def get_abbreviations_uni() -> Dict[str, str]: ...
def split_text(s: str, N_max: int = 20) -> str: ...
def evaluate_performance(y: Any, y_pred: Any, labels: Sequence[Any] = ["Tumor", "Normal"]) -> Dict[str, float]: ...
def compute_sample_div_index(
    adata: anndata.AnnData,
    sample_col: str = "sample",
    cluster_col: str = "cnv_cluster",
    tumor_dec: str = "ploidy_dec",
    ref_ind_col: str = "cnv_ref_ind",
    sdi_col: str = "sample_diversity_index",
    tumor_name: str = "Aneuploid",
) -> pd.DataFrame: ...
def get_axes(axes: Any, nr: int, nc: int, j: int) -> Any: ...
def _get_value_info(
    value: Any,
    key_name: Optional[Hashable] = None,
    is_top_level_anndata_component: bool = False,
    level_of_value: Optional[int] = None,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: Optional[List[str]] = None,
) -> str: ...
def _display_dict_or_dataframe_recursive(
    current_obj: Any,
    current_depth: int,
    parent_prefix: str,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: Optional[List[str]] = None,
    ss: Optional[str] = None,
) -> str: ...
def show_anndata_tree(
    obj: Any,
    max_depth: int = 3,
    n_to_show: int = 3,
    limited_keys: Optional[List[str]] = None,
    _current_depth: int = 0,
    _parent_prefix: str = "",
    ss: Optional[str] = None,
) -> str: ...

show_tree = show_anndata_tree

def _chunk_partials(
    chunk: Any,
    codes: np.ndarray,
    i: int,
    j: int,
    r0: int,
    r1: int,
    c0: int,
    width: int,
    slot: np.ndarray,
    all_cols: bool,
    n_tallied: int,
    stat: int,
    starts: np.ndarray,
) -> tuple: ...
def _merge_partials(pieces: Any, n_tallied: int, stat: int) -> tuple | None: ...
def _finish_partials(
    pieces: Any, g0: int, sizes: np.ndarray, n_tallied: int, stat: int, narrow: bool
) -> np.ndarray: ...
