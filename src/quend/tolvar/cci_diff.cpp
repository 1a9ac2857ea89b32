// Welch tests of every item between sample groups, kept and ranked by
// significance.
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/pyglue.hpp"
#include "core/significance_rank.hpp"
#include "core/welch.hpp"
#include "tolvar/cci_util.hpp"
#include "tolvar/op.hpp"
#include "tolvar/cci_diff_doc.hpp"

namespace quend::tolvar {

using quend::glue::ns;
using quend::glue::truthy;

namespace {

struct Comparison {
    std::size_t a, b;  // group slots
    std::string name;
};

// pd.NA and the like, whose comparison has no truth value, count as unequal.
bool equals_itself(const nb::handle& g) {
    PyObject* r = PyObject_RichCompare(g.ptr(), g.ptr(), Py_EQ);
    if (!r) throw nb::python_error();
    const int t = PyObject_IsTrue(r);
    Py_DECREF(r);
    if (t < 0) {
        PyErr_Clear();
        return false;
    }
    return t == 1;
}

}  // namespace

O cci_get_diff_interactions(O df_cci_sample, O sample_group_map, O ref_group, O pval_cutoff) {
    nb::object pd = ns("pd"), np = ns("np");
    const double cutoff = PyFloat_AsDouble(pval_cutoff.ptr());
    if (cutoff == -1.0 && PyErr_Occurred()) throw nb::python_error();

    nb::object index = df_cci_sample.attr("index");
    nb::list labels;
    for (nb::handle s : index) labels.append(sample_group_map[s]);  // KeyError names the sample
    // Distinct labels, sorted. A label unequal to itself (NaN) can have no
    // members; it is left out before sorting, where it would only scramble
    // the order of the real groups.
    nb::list distinct;
    for (nb::handle g : nb::list(quend::glue::builtin("dict").attr("fromkeys")(labels)))
        if (equals_itself(g)) distinct.append(g);
    nb::list groups = nb::list(quend::glue::builtin("sorted")(distinct));
    nb::object group_vec = pd.attr("Series")(labels, nb::arg("index") = index);

    // Sample positions of a label; a label unequal to itself has none.
    auto members_of = [&](const nb::handle& g) {
        nb::object pos = np.attr("flatnonzero")(cci::bool_mask(cci::compare(group_vec, g, Py_EQ)));
        auto v = nb::cast<glue::ConstVec<std::intptr_t>>(pos);
        return std::vector<std::size_t>(v.data(), v.data() + v.size());
    };
    std::vector<std::vector<std::size_t>> members;  // slot -> sample positions
    std::vector<Comparison> comparisons;
    auto name_of = [&](const nb::handle& g1, const nb::handle& g2) {
        return quend::glue::to_str(g1) + "_vs_" + quend::glue::to_str(g2);
    };
    const std::size_t n_groups = nb::len(groups);
    if (ref_group.is_none()) {
        for (std::size_t i = 0; i < n_groups; ++i) members.push_back(members_of(groups[i]));
        for (std::size_t i = 0; i < n_groups; ++i) {
            if (members[i].empty()) continue;
            for (std::size_t j = 0; j < i; ++j)
                if (!members[j].empty()) comparisons.push_back({i, j, name_of(groups[i], groups[j])});
        }
    } else if (PySequence_Contains(groups.ptr(), ref_group.ptr()) == 1) {
        members.push_back(members_of(ref_group));  // slot 0
        for (std::size_t i = 0; i < n_groups; ++i) {
            nb::object g = groups[i];
            if (!truthy(cci::compare(g, ref_group, Py_NE))) continue;
            members.push_back(members_of(g));
            if (!members.back().empty() && !members[0].empty())
                comparisons.push_back({members.size() - 1, 0, name_of(g, ref_group)});
        }
    }
    if (PyErr_Occurred()) throw nb::python_error();

    const std::size_t n_items = nb::len(nb::object(df_cci_sample.attr("columns")));
    const std::size_t n_comp = comparisons.size();
    std::vector<double> p(n_items * n_comp, 1.0);
    if (n_comp > 0) {
        // samples x items, read in place when the frame is one float64 block
        nb::object values = df_cci_sample.attr("to_numpy")(nb::arg("dtype") = "float64");
        auto block = quend::glue::float64_block(values);
        StridedMatrix m;
        m.data = block.view.data;
        m.n_items = block.view.n_samples;
        m.n_samples = block.view.n_items;
        m.item_stride = block.view.sample_stride;
        m.sample_stride = block.view.item_stride;
        std::map<std::size_t, GroupStats> stats;
        auto stats_of = [&](std::size_t slot) -> const GroupStats& {
            auto it = stats.find(slot);
            if (it == stats.end()) it = stats.emplace(slot, group_stats(m, members[slot])).first;
            return it->second;
        };
        for (std::size_t c = 0; c < n_comp; ++c) {
            const WelchResult r = welch_from_stats(stats_of(comparisons[c].a), stats_of(comparisons[c].b));
            for (std::size_t i = 0; i < n_items; ++i) {
                const double v = r.pvalue[i];
                p[i * n_comp + c] = std::isnan(v) ? 1.0 : v;
            }
        }
    }

    StridedMatrix pm;
    pm.data = p.data();
    pm.n_items = n_items;
    pm.n_samples = n_comp;
    pm.item_stride = static_cast<std::ptrdiff_t>(n_comp);
    pm.sample_stride = 1;
    const std::vector<std::size_t> order = rank_by_significance(pm, cutoff);

    glue::NewArray<double> result = glue::new_matrix<double>(order.size(), n_comp);
    double* out = result.data;
    for (std::size_t k = 0; k < order.size(); ++k)
        std::copy(p.begin() + order[k] * n_comp, p.begin() + (order[k] + 1) * n_comp, out + k * n_comp);
    nb::object items = cci::without_names(df_cci_sample.attr("columns").attr("take")(cci::intp_array(order)));
    nb::list names;
    for (const auto& c : comparisons) names.append(nb::str(c.name.c_str(), c.name.size()));
    return pd.attr("DataFrame")(result.array, nb::arg("index") = items, nb::arg("columns") = names);
}

namespace {

// The older name; it calls whatever cci_get_diff_interactions is bound to at the time.
O test_group_diff(O df_sample_by_items, O sample_group_map, O ref_group, O pval_cutoff) {
    return glue::ns("cci_get_diff_interactions")(df_sample_by_items, sample_group_map, ref_group, pval_cutoff);
}

}  // namespace

void bind_cci_get_diff_interactions(nb::module_& m) {
    glue::def(m, &cci_get_diff_interactions,
              "def cci_get_diff_interactions(df_cci_sample`: pandas.DataFrame`, sample_group_map`: "
              "collections.abc.Mapping[collections.abc.Hashable, typing.Any] | pandas.Series`, ref_group`: "
              "collections.abc.Hashable | None`=None, pval_cutoff`: float`=0.05)` -> pandas.DataFrame`",
              doc::cci_get_diff_interactions);
}

void bind_test_group_diff(nb::module_& m) {
    glue::def(m, &test_group_diff,
              "def test_group_diff(df_sample_by_items`: pandas.DataFrame`, sample_group_map`: "
              "collections.abc.Mapping[collections.abc.Hashable, typing.Any] | pandas.Series`, ref_group`: "
              "collections.abc.Hashable | None`=None, pval_cutoff`: float`=0.05)` -> pandas.DataFrame`",
              doc::test_group_diff);
}

}  // namespace quend::tolvar
