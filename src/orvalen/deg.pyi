from collections.abc import Hashable, Sequence
from typing import Any

import anndata
import numpy
import pandas

# True when the optional adjustText library was found at load (it is imported on first use).
ADJUST_TEXT: bool

def simple_DEG_pair(
    df_gene_by_sample_log_expr: pandas.DataFrame,
    condition_list: Sequence | pandas.Series | numpy.ndarray,
    ref_condition: str | None = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 0.5,
    test_method: str = "ols",
    corr_method: str | None = "fdr_bh",
    pval_ref_col: str = "pval_adj",
    verbose: bool = True,
) -> dict[str, Any]: ...
def simple_DEG(
    df_gene_by_sample_log_expr: pandas.DataFrame,
    condition_list: Sequence | pandas.Series | numpy.ndarray,
    ref_condition: str | None = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 0.5,
    test_method: str = "ols",
    corr_method: str | None = "fdr_bh",
    pval_ref_col: str = "pval_adj",
    verbose: bool = True,
) -> tuple[dict[str, pandas.DataFrame], dict[str, pandas.DataFrame]]: ...
def get_deg_summary(dct_deg: dict[str, pandas.DataFrame], col: str = "pval_adj") -> pandas.DataFrame: ...
def get_sample_to_group_dict(
    samples: Sequence | pandas.Series | numpy.ndarray, conditions: Sequence | pandas.Series | numpy.ndarray
) -> dict[Hashable, Any]: ...
def get_sample_to_group_map(
    samples: Sequence | pandas.Series | numpy.ndarray, conditions: Sequence | pandas.Series | numpy.ndarray
) -> dict[Hashable, Any]: ...
def get_gene_expression_mean(
    adata: anndata.AnnData,
    genes: Sequence[str] | None = [],
    group_col: str = "sample",
    nz_pct: bool = True,
    min_nz_pct: float = 0.2,
) -> pandas.DataFrame: ...
def plot_deg(
    df_deg_dct: dict[str, pandas.DataFrame],
    reference: str = "logFC",
    n_genes_to_show: int = 30,
    pval_cutoff: float = 0.05,
    figsize: tuple[float, float] = (6, 4),
    dpi: float = 100,
    text_fs: float = 10,
    title_fs: float = 12,
    label_fs: float = 11,
    tick_fs: float = 10,
    ncols: int = 2,
    wspace: float = 0.15,
    hspace: float = 0.2,
    deg_stat_dct: dict[str, dict[str, int]] | None = None,
    show_log_pv: bool = True,
) -> None: ...
def plot_volcano(
    df_deg: pandas.DataFrame,
    logFC_col: str = "logFC",
    pval_col: str = "pval_adj",
    gene_col: str | None = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 1.0,
    top_n_labels: int = 20,
    figsize: tuple[float, float] = (8, 7),
    xlim: tuple[float, float] | None = None,
    ylim: tuple[float, float] | None = None,
    title: str = "Volcano plot (no label overlap)",
) -> None: ...
def get_pseudobulk(
    adata: anndata.AnnData,
    group_cols: str | Sequence[str] = "sample",
    stats: str | Sequence[str] = "sum",
    layer: str | None = None,
    genes: Sequence[str] | None = None,
    min_cells: int = 0,
) -> anndata.AnnData: ...
def simple_DEG_adata(
    adata: anndata.AnnData,
    condition_col: str,
    ref_condition: str | None = None,
    pval_cutoff: float = 0.05,
    logFC_cutoff: float = 0.5,
    corr_method: str | None = "fdr_bh",
    pval_ref_col: str = "pval_adj",
    layer: str | None = None,
    verbose: bool = True,
    min_std: float = 1e-08,
) -> tuple[dict[str, pandas.DataFrame], dict[str, pandas.DataFrame]]: ...
def _tally_chunk(chunks: object, job: object, t: int, j: int) -> object: ...
def _tally_fold(slab: object | None, pieces: object, job: object, k: int, last: bool) -> object: ...
