"""The notebook tour runs top to bottom in a real Jupyter kernel on the
installed package, shows its figures and prints what it says it prints."""

import json
import shutil
import sys
from pathlib import Path

import pytest

nbformat = pytest.importorskip("nbformat")
nbclient = pytest.importorskip("nbclient")
pytest.importorskip("ipykernel")

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
KERNEL = "orvalen-tour-test"


def non_white_share(png):
    import matplotlib.image as mpimg

    rgb = mpimg.imread(str(png))[..., :3]
    return float((rgb < 0.95).any(axis=-1).mean())


@pytest.fixture
def kernel_of_this_interpreter(tmp_path, monkeypatch):
    # A kernel description of our own, first on JUPYTER_PATH: the kernel runs this
    # very interpreter, whatever kernels the user has installed.
    kernel_dir = tmp_path / "jupyter" / "kernels" / KERNEL
    kernel_dir.mkdir(parents=True)
    (kernel_dir / "kernel.json").write_text(
        json.dumps(
            {
                "argv": [sys.executable, "-m", "ipykernel_launcher", "-f", "{connection_file}"],
                "display_name": "orvalen tests",
                "language": "python",
            }
        )
    )
    monkeypatch.setenv("JUPYTER_PATH", str(tmp_path / "jupyter"))
    # The test run's off-screen backend would hide the inline figures.
    monkeypatch.delenv("MPLBACKEND", raising=False)
    return KERNEL


def run_tour(workdir, kernel):
    for name in ("tour.ipynb", "make_study_data.py"):
        shutil.copy(EXAMPLES / name, workdir / name)
    nb = nbformat.read(str(workdir / "tour.ipynb"), as_version=4)
    client = nbclient.NotebookClient(
        nb, kernel_name=kernel, timeout=600, resources={"metadata": {"path": str(workdir)}}
    )
    client.execute()
    return nb


def outputs(nb, kind):
    return [o for c in nb.cells if c.cell_type == "code" for o in c.get("outputs", []) if o.get("output_type") == kind]


def test_tour_runs_and_shows_what_it_says(tmp_path, kernel_of_this_interpreter):
    nb = run_tour(tmp_path, kernel_of_this_interpreter)

    assert outputs(nb, "error") == []
    printed = "".join(o["text"] for o in outputs(nb, "stream") if o["name"] == "stdout")
    for line in (
        "Study: 5000 cells x 2000 genes",
        "Comparison Tumor_vs_others: ",
        "Interactions that differ between the conditions (p <= 0.05): ",
        "AnnData object with n_obs × n_vars = 5000 × 2000",
        "Saved figure: tour_out/volcano.png",
    ):
        assert line in printed
    assert "Unknown base64 type" not in printed
    assert "FancyArrowPatch" not in "".join(o["text"] for o in outputs(nb, "stream"))

    shown = outputs(nb, "display_data") + outputs(nb, "execute_result")
    # The volcano plot, the kept-and-saved one and the composition bar chart.
    assert sum("image/png" in o["data"] for o in shown) >= 3
    html = [o["data"]["text/html"] for o in shown if "text/html" in o["data"]]
    assert any('src="data:image/png;base64,' in h for h in html)
    assert any("<iframe" in h and 'width="400"' in h for h in html)

    # The recipe for keeping a figure saved the plot, not a blank canvas.
    saved = tmp_path / "tour_out" / "volcano.png"
    assert non_white_share(saved) > 0.02
