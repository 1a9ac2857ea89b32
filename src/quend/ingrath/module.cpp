// orvalen.ingrath: registry of hosted data sets, download, extraction, loaders.
#include "common/nb.hpp"

#include "common/lazy_names.hpp"
#include "common/main_interpreter.hpp"
#include "common/pyglue.hpp"
#include "ingrath/module_doc.hpp"
#include "ingrath/registry.hpp"

namespace nb = nanobind;

// Each operation file binds its own functions; the calls below fix the public order.
namespace quend::ingrath {
void bind_download_from_google_drive(nb::module_& m);
void bind_decompress_gz(nb::module_& m);
void bind_decompress_zip(nb::module_& m);
void bind_decompress_zip_and_move(nb::module_& m);
void bind_decompress_tar_gz(nb::module_& m);
void bind_load_h5ad(nb::module_& m);
void bind_load_anndata(nb::module_& m);
void bind_load_sample_data(nb::module_& m);
void bind_load_velmar_processed_anndata(nb::module_& m);
void bind_load_velmar_processed_sample_data(nb::module_& m);
}  // namespace quend::ingrath

NB_MODULE(ingrath, m) {
    quend::glue::require_main_interpreter("orvalen.ingrath");
    quend::glue::set_module(m);
    m.doc() = quend::ingrath::doc::module;
    auto import = [](const char* name) { return nb::module_::import_(name); };
    using namespace quend::ingrath;

    // Read the deployment data first so a broken data file fails the import
    // before anything is bound.
    Registry reg = load_registry();

    // gdown and anndata are imported on first use, so importing stays fast.
    quend::glue::enable_lazy_names(m);
    quend::glue::lazy(m, "gdown", "gdown");
    m.attr("gzip") = import("gzip");
    m.attr("shutil") = import("shutil");
    m.attr("os") = import("os");
    m.attr("tarfile") = import("tarfile");
    quend::glue::lazy(m, "anndata", "anndata");
    m.attr("zipfile") = import("zipfile");

    bind_download_from_google_drive(m);
    bind_decompress_gz(m);
    bind_decompress_zip(m);
    bind_decompress_zip_and_move(m);
    bind_decompress_tar_gz(m);

    m.attr("sample_data_fid_dict_gz") = reg.sample_data_fid_dict_gz;
    m.attr("sample_data_fid_dict") = reg.sample_data_fid_dict;

    bind_load_h5ad(m);
    bind_load_anndata(m);
    bind_load_sample_data(m);

    m.attr("processed_sample_data_fid_dict") = reg.processed_sample_data_fid_dict;

    bind_load_velmar_processed_anndata(m);
    bind_load_velmar_processed_sample_data(m);

    // Read at every download, so a mirror or a test can point it elsewhere.
    m.attr("_download_url") = reg.download_url;
    // Extraction limits, read at every call: an archive with more members, or
    // declaring more bytes (never more than the free disk space), is refused
    // before anything is written.
    m.attr("_max_extract_members") = 10000;
    m.attr("_max_extract_bytes") = nb::int_(64LL << 30);
}
