"""Label helpers: wrapping, abbreviation tables, panel picking."""

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt
import pytest

from orvalen import tolvar

MASTER = [
    ("Epithelial cell", "Epi"),
    ("Aneuploid Epithelial cell", "Epi (Aneup)"),
    ("Diploid Epithelial cell", "Epi (Dip)"),
    ("Lung Epithelial cell", "Lung.Epi"),
    ("Aneuploid Lung Epithelial cell", "Lung.Epi (Aneup)"),
    ("Diploid Lung Epithelial cell", "Lung.Epi (Dip)"),
    ("Renal Epithelial cell", "Renal.Epi"),
    ("Aneuploid Renal Epithelial cell", "Renal.Epi (Aneup)"),
    ("Diploid Renal Epithelial cell", "Renal.Epi (Dip)"),
    ("Intestinal Epithelial cell", "Ent.Epi"),
    ("Aneuploid Intestinal Epithelial cell", "Ent.Epi (Aneup)"),
    ("Diploid Intestinal Epithelial cell", "Ent.Epi (Dip)"),
    ("Ductal cell", "Ductal"),
    ("Aneuploid Ductal cell", "Duct (Aneup)"),
    ("Diploid Ductal cell", "Duct (Dip)"),
    ("T cell", "T cell"),
    ("Smooth muscle cell", "SMC"),
    ("Fibroblast", "Fib"),
    ("Myeloid cell", "Myeloid"),
    ("Endothelial cell", "Endo"),
    ("B cell", "B cell"),
    ("T cell CD4+", "T CD4+"),
    ("T cell CD8+", "T CD8+"),
    ("ILC", "ILC"),
    ("Dendritic cell", "DC"),
    ("Monocyte", "Mono"),
    ("Macrophage", "Mac"),
    ("Plasma cell", "Plasma"),
    ("Enterocyte", "Enterocyte"),
    ("Enteric glial cell", "Ent.Glia"),
    ("Enterochromaffin cell", "Ent.Chrom"),
    ("Enteroendocrine cell", "Ent.Endoc"),
    ("Goblet cell", "Goblet"),
    ("Crypt cell", "Crypt"),
    ("Paneth cell", "Paneth"),
    ("Tuft cell", "Tuft"),
    ("Microfold cell", "mFold"),
    ("Alveolar type 2", "AT2"),
    ("Alveolar type 1", "AT1"),
    ("Cilliated cell", "Cilli"),
    ("Secretory club", "Sec.Club"),
    ("Basal cell", "Basal"),
    ("Acinar cell", "Acinar"),
    ("Stellate cell", "Stellate"),
    ("Alpha cell", "Alpha"),
    ("Beta cell", "Beta"),
    ("Delta cell", "Delta"),
    ("Epsilon cell", "Epsil"),
    ("Gamma (PP) cell", "Gamma"),
    ("Podocyte", "Podocyte"),
    ("Proximal Convoluted Tubule S1_S2", "PCT_S1S2"),
    ("Proximal Convoluted Tubule S3", "PCT_S3"),
    ("Proximal Straight Tubule S3", "PST_S3"),
    ("Thick Ascending Limb", "TAL"),
    ("Distal Convoluted Tubule", "DCT"),
    ("Collecting Duct Principal cell", "CD-PC"),
    ("Intercalated cell", "IC"),
    ("Keratinocyte", "Keratin"),
    ("Langerhans cell", "Langer"),
    ("Melanocyte", "Melano"),
    ("Merkel cell", "Merkel"),
    ("Sebocyte", "Sebo"),
    ("Trichocyte", "Trich"),
    ("NK cell", "NK"),
    ("B cell (Breg)", "Breg"),
    ("B cell (Follicular)", "Bf"),
    ("B cell (MZ)", "BMZ"),
    ("B cell(Memory)", "Bmem"),
    ("DC (Classical)", "cDC"),
    ("DC (Inflammatory)", "iDC"),
    ("DC (Plasmacytoid)", "pDC"),
    ("ILC1", "ILC1"),
    ("ILC2", "ILC2"),
    ("ILC3 (NCR+)", "ILC3(+)"),
    ("ILC3 (NCR-)", "ILC3(-)"),
    ("ILCreg", "ILCreg"),
    ("LTI", "LTI"),
    ("Macrophage (M1)", "Mac_M1"),
    ("Macrophage (M2A)", "Mac_M2a"),
    ("Macrophage (M2B)", "Mac_M2b"),
    ("Macrophage (M2C)", "Mac_M2c"),
    ("Macrophage (M2D)", "Mac_M2d"),
    ("T cell (Cytotoxic)", "T_Cyto"),
    ("T cell (Naive)", "T_Naive"),
    ("T cell (Tfh)", "Tfh"),
    ("T cell (Th1)", "Th1"),
    ("T cell (Th17)", "Th17"),
    ("T cell (Th2)", "Th2"),
    ("T cell (Th22)", "Th22"),
    ("T cell (Th9)", "Th9"),
    ("T cell (Treg)", "Treg"),
    ("MDSC (Granulocytic)", "MDSC_G"),
    ("MDSC (Monocytic)", "MDSC_M"),
    ("Endothelial tip cell", "Endo tip"),
    ("Lymphatic Endothelial cell", "Endo Lymp"),
    ("Luminal epithelial cell", "Epi (Lum)"),
    ("Mammary epithelial cell", "Epi (Mam)"),
]

MAJOR = [
    "Epithelial cell",
    "T cell",
    "Smooth muscle cell",
    "Fibroblast",
    "Myeloid cell",
    "Endothelial cell",
    "B cell",
]

MINOR = [
    "Epithelial cell",
    "T cell CD4+",
    "T cell CD8+",
    "Smooth muscle cell",
    "Fibroblast",
    "ILC",
    "Dendritic cell",
    "Monocyte",
    "Endothelial cell",
    "Macrophage",
    "B cell",
    "Plasma cell",
    "NK cell",
    "Aneuploid Epithelial cell",
    "Diploid Epithelial cell",
]

SUBSET = [
    "B cell (Breg)",
    "B cell (Follicular)",
    "B cell (MZ)",
    "B cell(Memory)",
    "DC (Classical)",
    "DC (Inflammatory)",
    "DC (Plasmacytoid)",
    "Monocyte",
    "Endothelial cell",
    "Epithelial cell",
    "Fibroblast",
    "ILC1",
    "ILC2",
    "ILC3 (NCR+)",
    "ILC3 (NCR-)",
    "ILCreg",
    "LTI",
    "Macrophage (M1)",
    "Macrophage (M2A)",
    "Macrophage (M2B)",
    "Macrophage (M2C)",
    "Macrophage (M2D)",
    "NK cell",
    "Plasma cell",
    "Smooth muscle cell",
    "T cell (Cytotoxic)",
    "T cell (Naive)",
    "T cell (Tfh)",
    "T cell (Th1)",
    "T cell (Th17)",
    "T cell (Th2)",
    "T cell (Th22)",
    "T cell (Th9)",
    "T cell (Treg)",
    "MDSC (Granulocytic)",
    "MDSC (Monocytic)",
    "Endothelial tip cell",
    "Lymphatic Endothelial cell",
    "Luminal epithelial cell",
    "Mammary epithelial cell",
]


@pytest.mark.parametrize(
    "text, limit, lines",
    [
        (
            "The quick brown fox jumps over the lazy dog",
            20,
            ["The quick brown fox ", "jumps over the lazy ", "dog"],
        ),
        # The last line may run one past the limit; the first two words may not.
        (
            "aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd",
            20,
            ["aaaaaaaaaa ", "bbbbbbbbbb ", "cccccccccc dddddddddd"],
        ),
        # A long word is not cut; the break comes before it.
        ("ab " + "x" * 30, 20, ["ab ", "x" * 30]),
        ("x" * 30, 20, ["x" * 30]),
        # Non-ASCII text is counted in characters, not bytes.
        ("\u00e9" * 12 + " " + "\u00e9" * 12, 20, ["\u00e9" * 12 + " ", "\u00e9" * 12]),
        ("aaaa bbbb ", 3, ["aaaa ", "bbbb ", ""]),
    ],
)
def test_split_text_breaks_after_spaces(text, limit, lines):
    assert tolvar.split_text(text, limit).split("\n") == lines
    assert tolvar.split_text(text, N_max=limit).replace("\n", "") == text


def test_split_text_short_text_is_the_same_object():
    s = "x" * 20
    assert tolvar.split_text(s) is s
    long_word = "y" * 25
    assert tolvar.split_text(long_word) is long_word
    assert tolvar.split_text("") == ""


def test_split_text_other_sequences_and_limits():
    # Fractional limits compare as numbers.
    assert tolvar.split_text("ab cd ef", 5.5) == "ab cd \nef"
    assert tolvar.split_text("ab cd ef", 4.5) == "ab \ncd ef"
    # A list of characters is wrapped like a text, with list pieces.
    with pytest.raises(TypeError):
        tolvar.split_text(list("ab cd ef gh"), 4)
    assert tolvar.split_text(list("ab"), 4) == ["a", "b"]
    with pytest.raises(TypeError):
        tolvar.split_text("some text here", "20")
    with pytest.raises(TypeError):
        tolvar.split_text(12345)


def test_flat_table_is_the_master_list_in_order():
    uni = tolvar.get_abbreviations_uni()
    assert list(uni.items()) == MASTER
    assert len(uni) == 97


def test_levels_have_their_own_orders():
    levels = tolvar.get_abbreviations()
    assert list(levels) == ["celltype_major", "celltype_minor", "celltype_subset"]
    master = dict(MASTER)
    assert list(levels["celltype_major"].items()) == [(k, master[k]) for k in MAJOR]
    assert list(levels["celltype_minor"].items()) == [(k, master[k]) for k in MINOR]
    subset = levels["celltype_subset"]
    assert list(subset) == SUBSET
    differing = {k: v for k, v in subset.items() if master[k] != v}
    assert differing == {"Luminal epithelial cell": "Epi lum", "Mammary epithelial cell": "Epi mam"}
    assert tolvar.get_abbreviations_uni()["Luminal epithelial cell"] == "Epi (Lum)"


def test_tables_are_fresh_on_every_call():
    levels = tolvar.get_abbreviations()
    levels["celltype_major"]["T cell"] = "changed"
    del levels["celltype_minor"]
    uni = tolvar.get_abbreviations_uni()
    uni.clear()
    assert tolvar.get_abbreviations()["celltype_major"]["T cell"] == "T cell"
    assert "celltype_minor" in tolvar.get_abbreviations()
    assert len(tolvar.get_abbreviations_uni()) == 97
    assert tolvar.get_abbreviations() is not tolvar.get_abbreviations()


def test_get_axes_picks_row_major_panels():
    fig, axes = plt.subplots(2, 3)
    try:
        assert tolvar.get_axes(axes, 2, 3, 4) is axes[1][1]
        assert tolvar.get_axes(axes, 2, 3, 0) is axes[0][0]
        assert tolvar.get_axes(nr=2, nc=3, j=5, axes=axes) is axes[1][2]
    finally:
        plt.close(fig)
    fig, axes = plt.subplots(1, 3)
    try:
        assert tolvar.get_axes(axes, 1, 3, 2) is axes[2]
    finally:
        plt.close(fig)
    # A single column squeezed to one dimension cannot take two subscripts.
    fig, axes = plt.subplots(3, 1)
    try:
        with pytest.raises(TypeError):
            tolvar.get_axes(axes, 3, 1, 1)
    finally:
        plt.close(fig)


def test_get_axes_uses_the_module_numpy(monkeypatch):
    calls = []

    class FakeNp:
        @staticmethod
        def floor(x):
            calls.append(x)
            return 0

    monkeypatch.setattr(tolvar, "np", FakeNp)
    grid = [["a", "b"], ["c", "d"]]
    assert tolvar.get_axes(grid, 2, 2, 3) == "b"
    assert calls == [1.5]
