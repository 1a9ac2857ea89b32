// Interactions shared by all samples, per-sample interaction counts, and the
// parts of an interaction identifier.
#include "common/nb.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "tolvar/cci_util.hpp"
#include "tolvar/op.hpp"
#include "tolvar/cci_shared_doc.hpp"

namespace quend::tolvar {

using quend::glue::ns;

namespace cci {

nb::object intp_array(const std::vector<std::size_t>& pos) {
    glue::NewArray<std::intptr_t> a = glue::new_vector<std::intptr_t>(pos.size());
    for (std::size_t k = 0; k < pos.size(); ++k) a.data[k] = static_cast<std::intptr_t>(pos[k]);
    return a.array;
}

std::vector<Sample> samples_of(const nb::handle& df_dct) {
    // Still the attribute error a non-dictionary always gave, saying what is expected.
    if (!nb::hasattr(df_dct, "keys"))
        quend::glue::raise(PyExc_AttributeError,
                           "expected a dictionary of CCI result tables (sample name -> DataFrame); '" +
                               quend::glue::py_type_name(df_dct) + "' object has no attribute 'keys'");
    std::vector<Sample> out;
    nb::object keys = df_dct.attr("keys")();
    for (nb::handle key : keys) out.push_back({nb::borrow(key), df_dct[key]});
    return out;
}

namespace {

// Pieces 0 and 1 of s.split(sep).
bool first_two(std::string_view s, std::string_view sep, std::string_view& a, std::string_view& b) {
    const std::size_t p = s.find(sep);
    if (p == std::string_view::npos) return false;
    a = s.substr(0, p);
    const std::size_t start = p + sep.size();
    const std::size_t q = s.find(sep, start);
    b = q == std::string_view::npos ? s.substr(start) : s.substr(start, q - start);
    return true;
}

[[noreturn]] void raise_index_error() { glue::raise(PyExc_IndexError, "list index out of range"); }

}  // namespace

bool split_interaction_id(std::string_view id, IdParts& out) {
    std::string_view* p = out.part;
    return first_two(id, "--", p[0], p[1]) && first_two(p[0], "_", p[2], p[3]) && first_two(p[1], "|", p[4], p[5]);
}

nb::tuple id_parts(const nb::handle& idx) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_Check(idx.ptr()) ? PyUnicode_AsUTF8AndSize(idx.ptr(), &len) : nullptr;
    if (utf8) {
        IdParts parts;
        if (!split_interaction_id(std::string_view(utf8, static_cast<std::size_t>(len)), parts)) raise_index_error();
        nb::object s[6];
        for (int k = 0; k < 6; ++k) s[k] = nb::str(parts.part[k].data(), parts.part[k].size());
        return nb::make_tuple(s[0], s[1], s[2], s[3], s[4], s[5]);
    }
    PyErr_Clear();  // not text we can read as UTF-8: let the object's own split decide
    nb::object pieces = idx.attr("split")("--");
    nb::object gp = pieces[0], cp = pieces[1];
    nb::object genes = gp.attr("split")("_"), cells = cp.attr("split")("|");
    return nb::make_tuple(gp, cp, genes[0], genes[1], cells[0], cells[1]);
}

void raise_duplicate_labels() { glue::raise(PyExc_ValueError, "cannot reindex on an axis with duplicate labels"); }

}  // namespace cci

O cci_remove_common(O df_dct) {
    const auto samples = cci::samples_of(df_dct);
    nb::dict out;
    if (samples.empty()) return out;
    // Labels of the first sample that every other sample has too.
    nb::object common = samples[0].table.attr("index");
    for (std::size_t k = 1; k < samples.size(); ++k)
        common = common[common.attr("isin")(samples[k].table.attr("index"))];
    // Rows in the table's own order; a repeated label keeps all its rows.
    for (const auto& s : samples) {
        nb::object keep = s.table.attr("index").attr("isin")(common).attr("__invert__")();
        out[s.key] = s.table.attr("loc")[keep];
    }
    return out;
}

O cci_get_ni_mat(O df_dct, O remove_common) {
    nb::object pd = ns("pd");
    nb::object tables = quend::glue::truthy(remove_common) ? ns("cci_remove_common")(df_dct) : df_dct;
    const auto samples = cci::samples_of(tables);

    // Sender and receiver cell types over all tables, first appearance, then sorted.
    nb::list seen;
    for (const auto& s : samples) {
        for (const char* col : {"cell_A", "cell_B"}) {
            nb::object u = pd.attr("unique")(s.table[col]);
            seen.extend(nb::list(u.attr("tolist")()));
        }
    }
    nb::object distinct = pd.attr("unique")(pd.attr("Series")(seen, nb::arg("dtype") = "object"));
    nb::object cells = quend::glue::builtin("sorted")(distinct.attr("tolist")());
    nb::object cell_index = pd.attr("Index")(cells, nb::arg("tupleize_cols") = false);
    const std::size_t n = nb::len(cells);

    nb::dict out;
    for (const auto& s : samples) {
        auto a = nb::cast<glue::ConstVec<std::intptr_t>>(cell_index.attr("get_indexer")(s.table["cell_A"]));
        auto b = nb::cast<glue::ConstVec<std::intptr_t>>(cell_index.attr("get_indexer")(s.table["cell_B"]));
        glue::NewArray<std::int64_t> mat = glue::new_matrix<std::int64_t>(n, n);
        std::int64_t* counts = mat.data;
        std::fill(counts, counts + n * n, 0);
        for (std::size_t r = 0; r < a.size(); ++r) {
            if (a(r) < 0 || b(r) < 0) continue;  // a cell type outside the list is not counted
            ++counts[static_cast<std::size_t>(a(r)) * n + static_cast<std::size_t>(b(r))];
        }
        // Own Index objects per frame: renaming one axis must not rename the others.
        out[s.key] = pd.attr("DataFrame")(mat.array, nb::arg("index") = cell_index.attr("copy")(),
                                          nb::arg("columns") = cell_index.attr("copy")());
    }
    return out;
}

O cpdb_get_gp_n_cp(O idx) { return cci::id_parts(idx); }

namespace {

// The older name; it calls whatever cci_get_ni_mat is bound to at the time.
O get_cci_ni_mat(O df_dct, O remove_common) { return glue::ns("cci_get_ni_mat")(df_dct, remove_common); }

}  // namespace

void bind_cci_remove_common(nb::module_& m) {
    glue::def(m, &cci_remove_common,
              "def cci_remove_common(df_dct`: dict[collections.abc.Hashable, pandas.DataFrame]`)` -> "
              "dict[collections.abc.Hashable, pandas.DataFrame]`",
              doc::cci_remove_common);
}

void bind_cci_get_ni_mat(nb::module_& m) {
    glue::def(m, &cci_get_ni_mat,
              "def cci_get_ni_mat(df_dct`: dict[collections.abc.Hashable, pandas.DataFrame]`, remove_common`: "
              "bool`=True)` -> dict[collections.abc.Hashable, pandas.DataFrame]`",
              doc::cci_get_ni_mat);
}

void bind_get_cci_ni_mat(nb::module_& m) {
    glue::def(m, &get_cci_ni_mat,
              "def get_cci_ni_mat(df_dct`: dict[collections.abc.Hashable, pandas.DataFrame]`, remove_common`: "
              "bool`=True)` -> dict[collections.abc.Hashable, pandas.DataFrame]`",
              doc::get_cci_ni_mat);
}

void bind_cpdb_get_gp_n_cp(nb::module_& m) {
    glue::def(m, &cpdb_get_gp_n_cp, "def cpdb_get_gp_n_cp(idx`: str`)` -> tuple[str, str, str, str, str, str]`",
              doc::cpdb_get_gp_n_cp);
}

}  // namespace quend::tolvar
