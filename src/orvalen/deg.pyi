"""Differential expression between sample groups."""

from typing import Any, Dict, Hashable, Optional, Sequence, Tuple, Union

import anndata
import pandas as pd

Labels = Union[Sequence[Any], pd.Series]
DegTables = Dict[str, pd.DataFrame]

# True when the optional adjustText library was found at load (it is imported on first use).
ADJUST_TEXT: bool

def simple_DEG_pair(
    df_gene_by_sample_log_expr: pd.DataFrame,
    condition_list: Labels,
    ref_condition: Optional[str] = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 0.5,
    test_method: str = "ols",
    corr_method: Optional[str] = "fdr_bh",
    pval_ref_col: str = "pval_adj",
    verbose: bool = True,
) -> Dict[str, Any]: ...
def simple_DEG(
    df_gene_by_sample_log_expr: pd.DataFrame,
    condition_list: Labels,
    ref_condition: Optional[str] = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 0.5,
    test_method: str = "ols",
    corr_method: Optional[str] = "fdr_bh",
    pval_ref_col: str = "pval_adj",
    verbose: bool = True,
) -> Tuple[DegTables, DegTables]: ...
def get_deg_summary(dct_deg: DegTables, col: str = "pval_adj") -> pd.DataFrame: ...
def get_sample_to_group_dict(samples: Labels, conditions: Labels) -> Dict[Hashable, Any]: ...
def get_sample_to_group_map(samples: Labels, conditions: Labels) -> Dict[Hashable, Any]: ...
def get_gene_expression_mean(
    adata: anndata.AnnData,
    genes: Optional[Sequence[str]] = [],
    group_col: str = "sample",
    nz_pct: bool = True,
    min_nz_pct: float = 0.2,
) -> pd.DataFrame: ...
def plot_deg(
    df_deg_dct: DegTables,
    reference: str = "logFC",
    n_genes_to_show: int = 30,
    pval_cutoff: float = 0.05,
    figsize: Tuple[float, float] = (6, 4),
    dpi: float = 100,
    text_fs: float = 10,
    title_fs: float = 12,
    label_fs: float = 11,
    tick_fs: float = 10,
    ncols: int = 2,
    wspace: float = 0.15,
    hspace: float = 0.2,
    deg_stat_dct: Optional[Dict[str, Dict[str, int]]] = None,
    show_log_pv: bool = True,
) -> None: ...
def plot_volcano(
    df_deg: pd.DataFrame,
    logFC_col: str = "logFC",
    pval_col: str = "pval_adj",
    gene_col: Optional[str] = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 1.0,
    top_n_labels: int = 20,
    figsize: Tuple[float, float] = (8, 7),
    xlim: Optional[Tuple[float, float]] = None,
    ylim: Optional[Tuple[float, float]] = None,
    title: str = "Volcano plot (no label overlap)",
) -> None: ...
