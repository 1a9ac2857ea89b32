"""The example study runs end to end on the installed package and finds what
was planted."""

import sys
import threading

from tests.example_scripts import load_example


def test_example_study(tmp_path, monkeypatch, capsys):
    import matplotlib

    matplotlib.use("Agg")
    # study.py puts its own folder on sys.path; that stays with this test.
    monkeypatch.setattr(sys, "path", list(sys.path))
    study = load_example("study")
    monkeypatch.chdir(tmp_path)
    before = set(threading.enumerate())
    try:
        result = study.run(tmp_path / "out")
    finally:
        sys.modules.pop("study", None)
        sys.modules.pop("make_study_data", None)

    assert result["planted_recovered"] >= 0.9 * result["planted_total"]
    out = tmp_path / "out"
    for name in (
        "population",
        "deg_panels",
        "volcano",
        "marker_detection",
        "cci_interaction_counts",
        "cci_top_interactions",
        "pca",
    ):
        assert (out / "figures" / ("%s.png" % name)).stat().st_size > 0
    assert (out / "tables" / "deg_vs_reference_all_Tumor_vs_others.csv").is_file()
    assert (out / "anndata_tree.txt").read_text(encoding="utf-8").startswith("AnnData object with n_obs")
    report = (out / "report.txt").read_text(encoding="utf-8")
    assert "Planted marker genes recovered by get_markers_from_deg: 105/105" in report
    # The loaders' files stayed out of the caller's working directory.
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out"]
    assert "Union of Interactions" in capsys.readouterr().out
    # The mirror's server thread was stopped (the download library's progress
    # monitor may stay).
    assert [t.name for t in set(threading.enumerate()) - before if t.name != "tqdm_monitor"] == []
