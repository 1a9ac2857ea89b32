// Gene-set analysis tables cut at a -log(p) threshold.
#include "common/pyglue.hpp"
#include "tolvar/op.hpp"
#include "tolvar/gsa_filter_doc.hpp"

namespace quend::tolvar {

O filter_gsa_result(O dct, O neg_log_p_cutoff) {
    nb::dict result;
    nb::object all = nb::slice(nb::none(), nb::none(), nb::none());
    for (auto item : nb::cast<nb::dict>(dct)) {
        nb::object df = nb::borrow(item.second);
        nb::object keep = quend::glue::compare(df["-log(p-val)"], neg_log_p_cutoff, Py_GE);
        result[item.first] = df.attr("loc")[nb::make_tuple(keep, all)];
    }
    return result;
}

void bind_filter_gsa_result(nb::module_& m) {
    glue::def(m, &filter_gsa_result,
              "def filter_gsa_result(dct`: dict[collections.abc.Hashable, pandas.DataFrame]`, neg_log_p_cutoff`: "
              "float`)` -> dict[collections.abc.Hashable, pandas.DataFrame]`",
              doc::filter_gsa_result);
}

}  // namespace quend::tolvar
