// Label helpers: wrapping, cell-type abbreviations, picking a panel of a grid.
#include <cstddef>
#include <string_view>
#include <vector>

#include "common/pyglue.hpp"
#include "core/text_wrap.hpp"
#include "tolvar/op.hpp"
#include "tolvar/labels_doc.hpp"

namespace quend::tolvar {

using quend::glue::ns;

namespace {

struct Abbrev {
    const char* name;
    const char* abbr;
};

// Master order: the insertion order of the flat table.
constexpr Abbrev kMaster[] = {
    {"Epithelial cell", "Epi"},
    {"Aneuploid Epithelial cell", "Epi (Aneup)"},
    {"Diploid Epithelial cell", "Epi (Dip)"},
    {"Lung Epithelial cell", "Lung.Epi"},
    {"Aneuploid Lung Epithelial cell", "Lung.Epi (Aneup)"},
    {"Diploid Lung Epithelial cell", "Lung.Epi (Dip)"},
    {"Renal Epithelial cell", "Renal.Epi"},
    {"Aneuploid Renal Epithelial cell", "Renal.Epi (Aneup)"},
    {"Diploid Renal Epithelial cell", "Renal.Epi (Dip)"},
    {"Intestinal Epithelial cell", "Ent.Epi"},
    {"Aneuploid Intestinal Epithelial cell", "Ent.Epi (Aneup)"},
    {"Diploid Intestinal Epithelial cell", "Ent.Epi (Dip)"},
    {"Ductal cell", "Ductal"},
    {"Aneuploid Ductal cell", "Duct (Aneup)"},
    {"Diploid Ductal cell", "Duct (Dip)"},
    {"T cell", "T cell"},
    {"Smooth muscle cell", "SMC"},
    {"Fibroblast", "Fib"},
    {"Myeloid cell", "Myeloid"},
    {"Endothelial cell", "Endo"},
    {"B cell", "B cell"},
    {"T cell CD4+", "T CD4+"},
    {"T cell CD8+", "T CD8+"},
    {"ILC", "ILC"},
    {"Dendritic cell", "DC"},
    {"Monocyte", "Mono"},
    {"Macrophage", "Mac"},
    {"Plasma cell", "Plasma"},
    {"Enterocyte", "Enterocyte"},
    {"Enteric glial cell", "Ent.Glia"},
    {"Enterochromaffin cell", "Ent.Chrom"},
    {"Enteroendocrine cell", "Ent.Endoc"},
    {"Goblet cell", "Goblet"},
    {"Crypt cell", "Crypt"},
    {"Paneth cell", "Paneth"},
    {"Tuft cell", "Tuft"},
    {"Microfold cell", "mFold"},
    {"Alveolar type 2", "AT2"},
    {"Alveolar type 1", "AT1"},
    {"Cilliated cell", "Cilli"},
    {"Secretory club", "Sec.Club"},
    {"Basal cell", "Basal"},
    {"Acinar cell", "Acinar"},
    {"Stellate cell", "Stellate"},
    {"Alpha cell", "Alpha"},
    {"Beta cell", "Beta"},
    {"Delta cell", "Delta"},
    {"Epsilon cell", "Epsil"},
    {"Gamma (PP) cell", "Gamma"},
    {"Podocyte", "Podocyte"},
    {"Proximal Convoluted Tubule S1_S2", "PCT_S1S2"},
    {"Proximal Convoluted Tubule S3", "PCT_S3"},
    {"Proximal Straight Tubule S3", "PST_S3"},
    {"Thick Ascending Limb", "TAL"},
    {"Distal Convoluted Tubule", "DCT"},
    {"Collecting Duct Principal cell", "CD-PC"},
    {"Intercalated cell", "IC"},
    {"Keratinocyte", "Keratin"},
    {"Langerhans cell", "Langer"},
    {"Melanocyte", "Melano"},
    {"Merkel cell", "Merkel"},
    {"Sebocyte", "Sebo"},
    {"Trichocyte", "Trich"},
    {"NK cell", "NK"},
    {"B cell (Breg)", "Breg"},
    {"B cell (Follicular)", "Bf"},
    {"B cell (MZ)", "BMZ"},
    {"B cell(Memory)", "Bmem"},
    {"DC (Classical)", "cDC"},
    {"DC (Inflammatory)", "iDC"},
    {"DC (Plasmacytoid)", "pDC"},
    {"ILC1", "ILC1"},
    {"ILC2", "ILC2"},
    {"ILC3 (NCR+)", "ILC3(+)"},
    {"ILC3 (NCR-)", "ILC3(-)"},
    {"ILCreg", "ILCreg"},
    {"LTI", "LTI"},
    {"Macrophage (M1)", "Mac_M1"},
    {"Macrophage (M2A)", "Mac_M2a"},
    {"Macrophage (M2B)", "Mac_M2b"},
    {"Macrophage (M2C)", "Mac_M2c"},
    {"Macrophage (M2D)", "Mac_M2d"},
    {"T cell (Cytotoxic)", "T_Cyto"},
    {"T cell (Naive)", "T_Naive"},
    {"T cell (Tfh)", "Tfh"},
    {"T cell (Th1)", "Th1"},
    {"T cell (Th17)", "Th17"},
    {"T cell (Th2)", "Th2"},
    {"T cell (Th22)", "Th22"},
    {"T cell (Th9)", "Th9"},
    {"T cell (Treg)", "Treg"},
    {"MDSC (Granulocytic)", "MDSC_G"},
    {"MDSC (Monocytic)", "MDSC_M"},
    {"Endothelial tip cell", "Endo tip"},
    {"Lymphatic Endothelial cell", "Endo Lymp"},
    {"Luminal epithelial cell", "Epi (Lum)"},
    {"Mammary epithelial cell", "Epi (Mam)"},
};
static_assert(sizeof(kMaster) / sizeof(kMaster[0]) == 97, "the flat table holds 97 pairs");

const char* const kMajor[] = {"Epithelial cell",  "T cell", "Smooth muscle cell", "Fibroblast", "Myeloid cell",
                              "Endothelial cell", "B cell"};

const char* const kMinor[] = {"Epithelial cell",
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
                              "Diploid Epithelial cell"};

const char* const kSubset[] = {"B cell (Breg)",
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
                               "Mammary epithelial cell"};

// The subset level keeps its own spelling for these two.
const Abbrev kSubsetOverrides[] = {{"Luminal epithelial cell", "Epi lum"}, {"Mammary epithelial cell", "Epi mam"}};

const char* master_abbr(std::string_view name) {
    for (const Abbrev& a : kMaster)
        if (name == a.name) return a.abbr;
    return nullptr;  // unreachable: every level key is in the master list
}

template <std::size_t N>
nb::dict level_dict(const char* const (&keys)[N], bool subset) {
    nb::dict d;
    for (const char* key : keys) {
        const char* abbr = master_abbr(key);
        if (subset)
            for (const Abbrev& o : kSubsetOverrides)
                if (std::string_view(key) == o.name) abbr = o.abbr;
        d[key] = abbr;
    }
    return d;
}

// Ascending indices of the elements equal to " ".
std::vector<std::size_t> space_positions(const nb::handle& s, std::size_t n) {
    std::vector<std::size_t> spaces;
    if (PyUnicode_Check(s.ptr())) {
        const int kind = PyUnicode_KIND(s.ptr());
        const void* data = PyUnicode_DATA(s.ptr());
        for (std::size_t i = 0; i < n; ++i)
            if (PyUnicode_READ(kind, data, i) == ' ') spaces.push_back(i);
        return spaces;
    }
    // Any other sequence: its elements decide what equals a space.
    nb::str space(" ");
    for (std::size_t i = 0; i < n; ++i)
        if (s[nb::int_(i)].equal(space)) spaces.push_back(i);
    return spaces;
}

}  // namespace

O get_abbreviations() {
    nb::dict levels;
    levels["celltype_major"] = level_dict(kMajor, false);
    levels["celltype_minor"] = level_dict(kMinor, false);
    levels["celltype_subset"] = level_dict(kSubset, true);
    return levels;
}

O get_abbreviations_uni() {
    nb::dict d;
    for (const Abbrev& a : kMaster) d[a.name] = a.abbr;
    return d;
}

O split_text(O s, O N_max) {
    const std::size_t n = nb::len(s);
    if (!nb::int_(n).operator>(N_max)) return s;
    const double limit = nb::cast<double>(nb::float_(N_max));
    std::vector<std::size_t> breaks = quend::wrap_breaks(space_positions(s, n), n, limit);
    O s2 = s;
    nb::str newline("\n");
    for (auto it = breaks.rbegin(); it != breaks.rend(); ++it) {
        nb::int_ p(*it);
        O head = s2[nb::slice(nb::none(), p, nb::none())];
        O tail = s2[nb::slice(p, nb::none(), nb::none())];
        s2 = head + newline + tail;
    }
    return s2;
}

O get_axes(O axes, O nr, O nc, O j) {
    if (nr.operator>(nb::int_(1))) {
        O jr = quend::glue::builtin("int")(ns("np").attr("floor")(j / nc));
        O jc = j % nc;
        return axes[jr][jc];
    }
    return axes[j];
}

void bind_get_abbreviations(nb::module_& m) {
    glue::def(m, &get_abbreviations, "def get_abbreviations()` -> dict[str, dict[str, str]]`", doc::get_abbreviations);
}

void bind_get_abbreviations_uni(nb::module_& m) {
    glue::def(m, &get_abbreviations_uni, "def get_abbreviations_uni()` -> dict[str, str]`", doc::get_abbreviations_uni);
}

void bind_split_text(nb::module_& m) {
    glue::def(m, &split_text, "def split_text(s`: str`, N_max`: int`=20)` -> str`", doc::split_text);
}

void bind_get_axes(nb::module_& m) {
    glue::def(m, &get_axes, "def get_axes(axes`: typing.Any`, nr`: int`, nc`: int`, j`: int`)` -> typing.Any`",
              doc::get_axes);
}

}  // namespace quend::tolvar
