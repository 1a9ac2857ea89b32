// Marker genes per group from ranked per-group DEG tables.
#include <cstdint>

#include "common/pyglue.hpp"
#include "tolvar/op.hpp"
#include "tolvar/markers_doc.hpp"

namespace quend::tolvar {

O get_markers_from_deg(O df_dct, O ref_col, O N_mkrs, O nz_pct_test_min, O nz_pct_ref_max, O rem_common) {
    nb::dict tables = nb::cast<nb::dict>(df_dct);
    for (auto item : tables) {
        if (!glue::contains(item.second.attr("columns"), ref_col)) {
            glue::print(nb::str("ERROR: %s not found in column name of DEG results.") % ref_col);
            return nb::none();
        }
    }

    nb::dict result;
    nb::object top = nb::slice(nb::none(), N_mkrs, nb::none());
    for (auto item : tables) {
        nb::object group = item.first.attr("split")("_")[0];
        nb::object df = nb::borrow(item.second);
        nb::object test_ok = glue::compare(df["nz_pct_test"], nz_pct_test_min, Py_GE);
        nb::object keep = test_ok & glue::compare(df["nz_pct_ref"], nz_pct_ref_max, Py_LE);
        nb::list by = nb::list();
        by.append(ref_col);
        nb::object ranked = df.attr("loc")[keep].attr("sort_values")(by, nb::arg("ascending") = false);
        result[group] = ranked.attr("index")[top].attr("tolist")();
    }

    if (!glue::truthy(rem_common)) return result;
    // A gene listed for two or more groups is no group's marker; the others
    // keep their ranking order.
    nb::dict n_groups;
    for (auto item : result) {
        nb::dict seen;
        for (nb::handle g : nb::borrow<nb::list>(item.second)) {
            if (seen.contains(g)) continue;
            seen[g] = true;
            n_groups[g] = n_groups.contains(g) ? nb::cast<std::int64_t>(n_groups[g]) + 1 : 1;
        }
    }
    for (auto item : result) {
        nb::list kept;
        nb::dict seen;
        for (nb::handle g : nb::borrow<nb::list>(item.second)) {
            if (seen.contains(g) || nb::cast<std::int64_t>(n_groups[g]) > 1) continue;
            seen[g] = true;
            kept.append(g);
        }
        result[item.first] = kept;
    }
    return result;
}

void bind_get_markers_from_deg(nb::module_& m) {
    glue::def(m, &get_markers_from_deg,
              "def get_markers_from_deg(df_dct`: dict[str, pandas.DataFrame]`, ref_col`: str`='score', N_mkrs`: "
              "int`=30, nz_pct_test_min`: float`=0.5, nz_pct_ref_max`: float`=0.1, rem_common`: bool`=True)` -> "
              "dict[str, list[str]] | None`",
              doc::get_markers_from_deg);
}

}  // namespace quend::tolvar
