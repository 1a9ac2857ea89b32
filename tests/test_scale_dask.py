"""Per-group statistics and PCA with X a Dask array, computed on a local two-process cluster."""

import random
import subprocess
import sys

import numpy as np
import pytest
import scipy.sparse as sp

from orvalen import tolvar

da = pytest.importorskip("dask.array")

CHUNKINGS = {
    "uneven_rows": ((30, 1, 66), (11,)),
    "split_genes_empty_chunk": ((40, 0, 57), (4, 0, 7)),
    "one_chunk": ((97,), (11,)),
}


@pytest.mark.parametrize("kind", ["csr", "csr_array", "dense"])
def test_dask_equals_in_memory(dask_client, scale_adata, expression_results, same_results, kind):
    a = scale_adata
    want = expression_results(a)
    x = {"csr": a.X, "csr_array": sp.csr_array(a.X), "dense": a.X.toarray()}[kind]
    for chunks in CHUNKINGS.values():
        b = a.copy()
        b.X = da.from_array(x, chunks=chunks, asarray=False)
        same_results(expression_results(b), want)


def test_malformed_chunk_raises(dask_client, scale_adata):
    a = scale_adata
    import dask

    bad = a.X[48:].copy()
    bad.indices[-1] = 50
    # Chunks handed over as they are stored (slicing would drop the bad index).
    chunks = [
        da.from_delayed(dask.delayed(part), part.shape, dtype=part.dtype, meta=part[:0]) for part in (a.X[:48], bad)
    ]
    a.X = da.concatenate(chunks)
    with pytest.raises(ValueError, match="out of range"):
        tolvar.get_gene_expression(a)


@pytest.mark.parametrize("sparse", [True, False])
def test_pca_subsample_dask_same_draw(dask_client, sparse):
    rng = np.random.default_rng(4)
    x = sp.random(300, 20, density=0.3, format="csr", dtype=np.float64, random_state=rng)
    x = x if sparse else x.toarray()
    lazy = da.from_array(x, chunks=((100, 150, 50), (12, 8)), asarray=False)
    random.seed(2), np.random.seed(8)
    want = tolvar.pca_subsample(x, 3, 120)
    random.seed(2), np.random.seed(8)
    got = tolvar.pca_subsample(lazy, 3, 120)
    assert isinstance(got, np.ndarray) and got.shape == want.shape
    np.testing.assert_allclose(got, want, rtol=1e-9, atol=1e-12)


def test_in_memory_path_never_imports_dask():
    # anndata may load parts of dask when imported; the in-memory call must add none.
    code = (
        "import sys, types, numpy as np, pandas as pd\n"
        "from orvalen import deg, tolvar\n"
        "def dask_modules(): return {m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed')}\n"
        "before = dask_modules()\n"
        "obs = pd.DataFrame({'sample': list('abab'), 'condition': list('xyxy')})\n"
        "a = types.SimpleNamespace(X=np.eye(4), obs=obs, var=pd.DataFrame(index=list('pqrs')))\n"
        "tolvar.get_gene_expression(a); deg.get_gene_expression_mean(a, nz_pct=False)\n"
        "assert dask_modules() == before and 'distributed' not in sys.modules, dask_modules() - before\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)
