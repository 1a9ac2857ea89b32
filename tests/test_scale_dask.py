"""Per-group statistics and PCA with X a Dask array, computed on a local two-process cluster."""

import contextlib
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


# An empty row chunk is common after boolean filtering; COO chunks are read
# by the tallies too.
@pytest.mark.parametrize("layout", ["csr", "dense", "empty_row_chunk", "coo"])
def test_pca_subsample_dask_same_draw(dask_client, layout):
    import dask

    rng = np.random.default_rng(4)
    x = sp.random(300, 20, density=0.3, format="csr", dtype=np.float64, random_state=rng)
    if layout == "coo":
        parts = [x[a:b].tocoo() for a, b in ((0, 100), (100, 300))]
        lazy = da.concatenate([da.from_delayed(dask.delayed(p), p.shape, dtype=p.dtype, meta=p) for p in parts])
    else:
        x = x.toarray() if layout == "dense" else x
        rows = (100, 0, 150, 50) if layout == "empty_row_chunk" else (100, 150, 50)
        lazy = da.from_array(x, chunks=(rows, (12, 8)), asarray=False)
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


def test_deg_dask_path_needs_no_tolvar():
    code = (
        "import sys, dask, dask.array as da, numpy as np, pandas as pd, types\n"
        "from orvalen import deg\n"
        "obs = pd.DataFrame({'sample': list('abab'), 'condition': list('xyxy')})\n"
        "x = da.from_array(np.eye(4), chunks=2)\n"
        "a = types.SimpleNamespace(X=x, obs=obs, var=pd.DataFrame(index=list('pqrs')))\n"
        "with dask.config.set(scheduler='synchronous'): deg.get_gene_expression_mean(a, nz_pct=False)\n"
        "assert 'orvalen.tolvar' not in sys.modules\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)


def many_groups(n_cells=3000, n_genes=40, n_groups=2000, seed=5):
    rng = np.random.default_rng(seed)
    x = sp.random(n_cells, n_genes, density=0.05, format="csr", dtype=np.float32, random_state=rng)
    codes = rng.integers(0, n_groups, n_cells)
    return x, codes


def job_for(codes, n_groups, n_genes, stat, starts, row_starts, dense=False, changes=()):
    n_chunks = len(row_starts) - 1
    job = {
        "stats": [stat],
        "width": n_genes,
        "all": True,
        "narrow": False,
        "codes": np.asarray(codes, dtype=np.int64),
        "laid_out": np.arange(n_groups, dtype=np.int64),
        "slot": np.arange(n_genes, dtype=np.int64),
        "row_starts": np.asarray(row_starts, dtype=np.int64),
        "col_starts": np.array([0, n_genes], dtype=np.int64),
        "task_starts": np.arange(n_chunks + 1, dtype=np.int64),
        "starts": np.append(starts, n_groups).astype(np.int64),
        "sizes": np.bincount(codes, minlength=n_groups).astype(np.int64),
        "dense": np.full(n_chunks, dense, dtype=np.int64),
        "owner": np.full(len(starts), -1, dtype=np.int64),
    }
    job.update(changes)
    return job


# Groups without cells have NaN means in the dense rendering.
@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("stat", ["detected", "mean"])
@pytest.mark.parametrize("dense", [False, True])
def test_chunk_pieces_are_sized_by_the_chunk_and_blocks_add_up(stat, dense):
    from orvalen import _dask

    x, codes = many_groups()
    n_groups, n_genes = 2000, x.shape[1]
    starts = np.array([0, 700, 1400], dtype=np.int64)
    row_starts = list(range(0, x.shape[0], 1000)) + [x.shape[0]]
    job = job_for(codes, n_groups, n_genes, stat, starts, row_starts, dense)
    chunks = list(zip(row_starts[:-1], row_starts[1:]))
    parts = [_dask.tally_chunk([x[r0:r1]], job, i, 0) for i, (r0, r1) in enumerate(chunks)]
    if not dense:
        for (r0, r1), pieces in zip(chunks, parts):
            assert {p["form"] for p in pieces if p is not None} == {"rows"}
            held = sum(a.nbytes for p in pieces if p is not None for a in p.values() if isinstance(a, np.ndarray))
            # A few bytes per stored value and per cell, never groups x genes.
            assert held <= 12 * x[r0:r1].nnz + 16 * (r1 - r0) < n_groups * n_genes * 8 / 4
    # Each block's chain: pieces folded in two steps, the second finishing.
    table = []
    for k in range(len(starts)):
        slab = _dask.tally_fold(None, [p[k] for p in parts[:1]], job, k, False)
        table.append(_dask.tally_fold(slab, [p[k] for p in parts[1:]], job, k, True)[0])
    table = np.concatenate(table)
    dense_x = x.toarray()
    for g in (0, 699, 700, 1999):
        rows = dense_x[codes == g]
        want = (rows > 0).mean(0) if stat == "detected" else rows.mean(0)
        np.testing.assert_allclose(table[g], want, rtol=1e-12)


# A job that disagrees with itself or the chunk is refused before a kernel
# walks it (these aborted or crashed the process before).
@pytest.mark.parametrize(
    "changes",
    [
        {"width": 3},
        {"slot": np.full(40, 10**9, dtype=np.int64)},
        {"stats": ["median"]},
        {"stats": ["mean", "median"]},
        {"stats": 5},
        {"starts": np.array([0, 5000], dtype=np.int64)},
        {"row_starts": np.array([0, 10**6, 3000], dtype=np.int64)},
        {"task_starts": np.array([0, 5], dtype=np.int64)},
        {"laid_out": np.full(2000, 10**6, dtype=np.int64)},
        {"owner": np.array([7], dtype=np.int64)},
        {"codes": np.zeros(5, dtype=np.int64)},
        {"codes": np.full(3000, 10**9, dtype=np.int64)},
    ],
)
def test_task_job_is_checked_before_use(changes):
    from orvalen import _dask

    x, codes = many_groups()
    job = job_for(codes, 2000, x.shape[1], "mean", np.array([0]), [0, 1000, 3000], changes=changes)
    with pytest.raises(ValueError):
        _dask.tally_chunk([x[:1000]], job, 0, 0)


# A piece that disagrees with its form or block is refused: either form.
@pytest.mark.parametrize(
    "dense,change",
    [
        (False, lambda p: {**p, "form": "pairs"}),
        (False, lambda p: {**p, "codes": p["codes"][:-1]}),
        (False, lambda p: {**p, "codes": np.full_like(p["codes"], 10**6)}),
        (True, lambda p: {**p, "sum": p["sum"][:-1]}),
        (True, lambda p: {**p, "cols": np.full_like(p["cols"], 10**6)}),
    ],
)
def test_malformed_piece_is_refused(dense, change):
    from orvalen import _dask

    x, codes = many_groups(n_groups=20)
    job = job_for(codes, 20, x.shape[1], "mean", np.array([0]), [0, 1000, 3000], dense)
    piece = _dask.tally_chunk([x[:1000]], job, 0, 0)[0]
    assert piece["form"] == ("dense" if dense else "rows")
    with pytest.raises(ValueError, match="malformed"):
        _dask.tally_fold(None, [change(piece)], job, 0, True)


# Another thread rewriting what a task indexes with, while the task runs
# with the GIL released, gives the right table or ValueError, never a crash.
def test_task_arrays_rewritten_by_another_thread():
    import threading

    from orvalen import _dask

    x, codes = many_groups()
    job = job_for(codes, 2000, x.shape[1], "mean", np.array([0]), [0, 3000])
    piece = _dask.tally_chunk([x], job, 0, 0)[0]
    want = _dask.tally_fold(None, [piece], job, 0, True)[0]
    raced = [job["codes"], job["slot"], piece["codes"], piece["indptr"], piece["indices"]]
    kept = [a.copy() for a in raced]
    stop = threading.Event()

    def rewrite():
        while not stop.is_set():
            for a, k in zip(raced, kept):
                a[:] = 10**6
                a[:] = k

    thread = threading.Thread(target=rewrite)
    thread.start()
    try:
        for _ in range(100):
            for task in (
                lambda: _dask.tally_chunk([x], job, 0, 0),
                lambda: np.testing.assert_array_equal(_dask.tally_fold(None, [piece], job, 0, True)[0], want),
            ):
                try:
                    task()
                except ValueError:
                    pass
    finally:
        stop.set()
        thread.join()


# Few groups (dense pieces), many shuffled (rows, folded by many chunks) and
# many sorted (each chunk's own groups folded over its column chunks, or
# finished by the chunk task itself when X has one column chunk); on a
# cluster reporting little memory, many blocks each folded in a chain of
# several steps over many row and column chunks.
@pytest.mark.parametrize(
    "order,n_groups,chunks,cluster",
    [
        ("shuffled", 5, (10_000, 15), False),
        ("shuffled", 600, (10_000, 15), False),
        ("sorted", 600, (10_000, 15), False),
        ("sorted", 600, (10_000, 40), False),
        ("shuffled", 600, (5_000, (15, 15, 10)), True),
    ],
)
def test_each_plan_agrees_with_memory(request, monkeypatch, order, n_groups, chunks, cluster):
    import anndata as ad
    import dask
    import pandas as pd

    from orvalen import deg

    # Enough cells for tasks of several row chunks each, and several tasks.
    x, codes = many_groups(n_cells=70_000, n_groups=n_groups)
    order_rows = np.argsort(codes, kind="stable") if order == "sorted" else np.arange(len(codes))
    x, codes = x[order_rows], codes[order_rows]
    obs = pd.DataFrame({"sample": [f"s{c:04d}" for c in codes], "condition": np.where(codes % 2, "a", "b")})
    a = ad.AnnData(x, obs=obs.set_index(obs.index.astype(str)))
    lazy = a.copy()
    lazy.X = da.from_array(x, chunks=chunks, asarray=False)
    calls = (tolvar.get_gene_expression, lambda b: deg.get_gene_expression_mean(b, ["1", "0", "1"], nz_pct=0))
    if cluster:
        client = request.getfixturevalue("dask_client")
        monkeypatch.setattr(client, "scheduler_info", lambda *a, **k: {"workers": {"w": {"memory_limit": 1 << 18}}})
        calls = calls[:1]
    with dask.config.set(scheduler="threads") if not cluster else contextlib.nullcontext():
        for fn in calls:
            pd.testing.assert_frame_equal(fn(lazy), fn(a), check_exact=False, rtol=1e-12)
    if cluster:
        kinds = client.run_on_scheduler(lambda dask_scheduler: list(dask_scheduler.task_prefixes))
        assert "tally_fold" in kinds


@pytest.mark.parametrize("real_shape", [(49, 10), (48, 11)])
def test_chunk_of_another_shape_than_declared_raises(scale_adata, real_shape):
    import dask

    x = scale_adata.X
    bad = x[48:][: real_shape[0], : real_shape[1]]
    parts = [
        da.from_delayed(dask.delayed(x[:48]), (48, 11), dtype=x.dtype, meta=x[:0]),
        da.from_delayed(dask.delayed(bad), (49, 11), dtype=x.dtype, meta=x[:0]),
    ]
    scale_adata.X = da.concatenate(parts)
    with dask.config.set(scheduler="synchronous"):
        with pytest.raises(ValueError, match=rf"chunk \(1, 0\) of X has shape \({real_shape[0]}, {real_shape[1]}\)"):
            tolvar.get_gene_expression(scale_adata)


@pytest.mark.parametrize("scheduler", ["threads", "cluster"])
def test_progress_bar_is_labelled_ends_its_line_and_cannot_fail(request, scale_adata, monkeypatch, capsys, scheduler):
    import io
    import sys
    import warnings

    import dask

    import orvalen

    client = request.getfixturevalue("dask_client") if scheduler == "cluster" else None
    a = scale_adata
    want = tolvar.get_gene_expression(a)
    a.X = da.from_array(a.X, chunks=(40, 11), asarray=False)
    monkeypatch.setattr(orvalen.settings, "progress", True)
    with dask.config.set(scheduler=client or "threads"):
        got = tolvar.get_gene_expression(a)
        out = capsys.readouterr().out
        assert out.startswith("get_gene_expression (dask)\n") and out.endswith("\n")
        closed = io.StringIO()
        closed.close()
        monkeypatch.setattr(sys, "stdout", closed)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            kept = tolvar.get_gene_expression(a)
    assert len([w for w in caught if "progress display" in str(w.message)]) <= 1
    assert got.equals(want) and kept.equals(want)


def test_lazily_read_obs_gives_the_in_memory_results(tmp_path, scale_adata, expression_results):
    import anndata as ad
    import pandas as pd

    if not hasattr(ad.experimental, "read_lazy"):
        pytest.skip("this anndata has no read_lazy")
    pytest.importorskip("xarray")
    scale_adata.write_h5ad(tmp_path / "a.h5ad")
    lazy = ad.experimental.read_lazy(tmp_path / "a.h5ad")
    population = lambda a: list(tolvar.get_population(a.obs["sample"], a.obs["cluster"]))  # noqa: E731
    got = expression_results(lazy) + population(lazy)
    want = expression_results(scale_adata) + population(scale_adata)
    for g, w in zip(got, want):
        # The lazy var index is named "_index" as stored; the values are what count.
        pd.testing.assert_frame_equal(g, w, check_names=False, check_exact=False, rtol=1e-12, atol=0)
