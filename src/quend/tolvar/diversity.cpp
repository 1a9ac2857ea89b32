// Sample diversity of clusters: Shannon entropy (bits) of each cluster's
// cells over samples, tabulated per cluster and written per cell into obs.
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/adata_fields.hpp"
#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "core/entropy.hpp"
#include "core/group_counts.hpp"
#include "tolvar/op.hpp"
#include "tolvar/diversity_doc.hpp"

namespace quend::tolvar {

namespace {

using quend::glue::LabelCodes;

struct ClusterStats {
    LabelCodes clusters;              // codes: row of the cluster's first label with that text
    std::vector<std::size_t> source;  // per table row: row whose cells it reports
    std::vector<std::int64_t> size;   // cells per row
    std::vector<double> entropy;
    std::vector<std::int64_t> n_samples;
};

// Clusters are matched on the text form of their labels, on both sides, so
// numeric and text labels behave alike.
ClusterStats cluster_stats(nb::handle obs, nb::handle sample_col, nb::handle cluster_col, const char* function) {
    using namespace quend::glue;
    nb::object clusters_col = obs_column(obs, cluster_col);
    nb::object samples_col = obs_column(obs, sample_col);
    ClusterStats s;
    s.clusters = sorted_label_codes(clusters_col);
    warn_if_no_group(s.clusters, cluster_col, function);
    const std::size_t k = s.clusters.n_labels();
    std::unordered_map<std::string, std::size_t> first_row;
    std::vector<std::int64_t> rank(k);
    s.source.resize(k);
    for (std::size_t r = 0; r < k; ++r) {
        const std::string text = to_str(s.clusters.labels[r]);
        auto it = first_row.emplace(text, r).first;
        s.source[r] = it->second;
        rank[r] = static_cast<std::int64_t>(it->second);
    }
    auto codes = nb::cast<quend::glue::MutVec<std::int64_t>>(s.clusters.codes);
    remap_codes(codes.data(), s.clusters.n, rank);

    LabelCodes samples = sorted_label_codes(samples_col);
    const std::vector<EntropyResult> per_row = grouped_entropy_bits(s.clusters.data, samples.data, s.clusters.n, k);
    s.size = code_counts(s.clusters.data, s.clusters.n, k);
    s.entropy.resize(k);
    s.n_samples.resize(k);
    for (std::size_t r = 0; r < k; ++r) {
        const EntropyResult& e = per_row[s.source[r]];
        s.entropy[r] = e.bits;
        s.n_samples[r] = e.n_nonzero;
    }
    return s;
}

nb::object column(const std::vector<std::int64_t>& v) { return quend::glue::numpy_int_vector(v); }
nb::object column(const std::vector<double>& v) { return quend::glue::numpy_vector(v); }

// Per cell, the text of its cluster's rounded index (halves to even); cells
// without a cluster label keep 0.
void write_obs(nb::handle obs, nb::handle sdi_col, const ClusterStats& s, const std::vector<double>& index) {
    nb::object np = quend::glue::ns("np");
    const std::size_t k = s.source.size();
    nb::list texts;
    for (std::size_t r = 0; r < k; ++r) {
        const double v = std::nearbyint(index[s.source[r]]);
        texts.append(nb::str(std::isfinite(v) ? std::to_string(static_cast<long long>(v)).c_str() : "nan"));
    }
    texts.append(nb::str("0"));
    std::vector<std::int64_t> pick(s.clusters.data, s.clusters.data + s.clusters.n);
    for (auto& c : pick)
        if (c < 0) c = static_cast<std::int64_t>(k);
    nb::object text_arr = np.attr("array")(texts, nb::arg("dtype") = "object");
    nb::object values = text_arr.attr("take")(quend::glue::numpy_int_vector(pick));
    // Called from C the frame has fewer references than in Python code, which
    // pandas would take for a chained assignment on a temporary.
    nb::object hold_a = nb::borrow(obs), hold_b = nb::borrow(obs);
    if (PyObject_SetItem(obs.ptr(), sdi_col.ptr(), values.ptr()) != 0) throw nb::python_error();
}

nb::object ref_values(nb::handle obs, nb::handle col) {
    nb::object np = quend::glue::ns("np");
    return quend::glue::obs_column(obs, col).attr("to_numpy")(nb::arg("dtype") = np.attr("float64"),
                                                              nb::arg("na_value") = np.attr("nan"));
}

// A truncated percentage as a whole number; a sum that is infinite (or too
// large for one) has none, so the column is named instead.
std::int64_t whole_percent(double part, double n, nb::handle column) {
    const double pct = std::trunc(100.0 * part / n);
    if (!(std::fabs(pct) < 9.2e18))
        quend::glue::raise(PyExc_ValueError, "obs column " + quend::glue::repr(column) +
                                                 " must hold finite reference flags (0/1 or booleans); its sum over a "
                                                 "cluster is " +
                                                 quend::glue::to_str(nb::float_(part)));
    return static_cast<std::int64_t>(pct);
}

std::vector<double> per_row_sums(const ClusterStats& s, nb::handle flags_f64) {
    auto a = nb::cast<quend::glue::ConstVec<double>>(quend::glue::ns("np").attr("ascontiguousarray")(flags_f64));
    return code_sums(s.clusters.data, a.data(), s.clusters.n, s.source.size());
}

}  // namespace

O compute_sample_div_index_v2(O adata, O sample_col, O cluster_col, O sdi_col) {
    nb::object pd = quend::glue::ns("pd");
    nb::object obs = adata.attr("obs");
    ClusterStats s = cluster_stats(obs, sample_col, cluster_col, "compute_sample_div_index_v2");
    const std::size_t k = s.source.size();
    std::vector<std::int64_t> ns_(k);
    std::vector<double> h(k);
    for (std::size_t r = 0; r < k; ++r) {
        ns_[r] = s.n_samples[s.source[r]];
        h[r] = s.entropy[s.source[r]];
    }
    nb::object np = quend::glue::ns("np");
    nb::dict cols;
    cols["Tumor_pct"] = np.attr("full")(k, np.attr("nan"));
    cols["N_samples"] = column(ns_);
    cols["sample_diversity_index"] = np.attr("full")(k, np.attr("nan"));
    cols[sdi_col] = column(h);
    nb::object df = pd.attr("DataFrame")(cols, nb::arg("index") = pd.attr("Index")(s.clusters.labels));
    write_obs(obs, sdi_col, s, s.entropy);
    return df;
}

O compute_sample_div_index(O adata, O sample_col, O cluster_col, O tumor_dec, O ref_ind_col, O sdi_col, O tumor_name) {
    nb::object pd = quend::glue::ns("pd");
    nb::object np = quend::glue::ns("np");
    nb::object obs = adata.attr("obs");
    // Every column is read and converted before obs is touched.
    nb::object tumor_col = quend::glue::obs_column(obs, tumor_dec);
    nb::object ref = ref_values(obs, ref_ind_col);
    ClusterStats s = cluster_stats(obs, sample_col, cluster_col, "compute_sample_div_index");
    nb::object is_tumor = nb::steal(PyObject_RichCompare(tumor_col.ptr(), tumor_name.ptr(), Py_EQ));
    if (!is_tumor.is_valid()) throw nb::python_error();
    is_tumor = np.attr("asarray")(is_tumor, nb::arg("dtype") = np.attr("float64"));
    const std::vector<double> n_tumor = per_row_sums(s, is_tumor);
    const std::vector<double> n_ref = per_row_sums(s, ref);

    const std::size_t k = s.source.size();
    std::vector<std::int64_t> tumor_pct(k), ref_pct(k), ns_(k);
    std::vector<double> h(k);
    nb::list tumor;
    for (std::size_t r = 0; r < k; ++r) {
        const std::size_t src = s.source[r];
        const double n = static_cast<double>(s.size[src]);
        tumor_pct[r] = static_cast<std::int64_t>(std::trunc(100.0 * n_tumor[src] / n));
        ref_pct[r] = whole_percent(n_ref[src], n, ref_ind_col);
        ns_[r] = s.n_samples[src];
        h[r] = s.entropy[src];
        tumor.append(nb::bool_(tumor_pct[r] >= 50));
    }
    nb::dict cols;
    cols["Tumor_pct"] = column(tumor_pct);
    cols["N_samples"] = column(ns_);
    cols["sample_diversity_index"] = column(h);
    cols["Ref_pct"] = column(ref_pct);
    cols["Tumor"] = np.attr("array")(tumor, nb::arg("dtype") = "bool");
    nb::object df = pd.attr("DataFrame")(cols, nb::arg("index") = pd.attr("Index")(s.clusters.labels));
    write_obs(obs, sdi_col, s, s.entropy);
    return df;
}

void bind_compute_sample_div_index_v2(nb::module_& m) {
    glue::def(m, &compute_sample_div_index_v2,
              "def compute_sample_div_index_v2(adata`: anndata.AnnData`, sample_col`: str`='sample', cluster_col`: "
              "str`='cnv_cluster', sdi_col`: str`='cluster_diversity_index')` -> pandas.DataFrame`",
              doc::compute_sample_div_index_v2);
}

void bind_compute_sample_div_index(nb::module_& m) {
    glue::def(m, &compute_sample_div_index,
              "def compute_sample_div_index(adata`: anndata.AnnData`, sample_col`: str`='sample', cluster_col`: "
              "str`='cnv_cluster', tumor_dec`: str`='ploidy_dec', ref_ind_col`: str`='cnv_ref_ind', sdi_col`: "
              "str`='sample_diversity_index', tumor_name`: str`='Aneuploid')` -> pandas.DataFrame`",
              doc::compute_sample_div_index);
}

}  // namespace quend::tolvar
