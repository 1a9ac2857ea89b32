// The data-set registry. Key names, alias groups and their order are part of
// the interface and live here; the hosted identifiers and the download address
// are deployment data, read from orvalen/ingrath_registry.json at import.
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/pyglue.hpp"
#include "ingrath/registry.hpp"

namespace quend::ingrath {

namespace {

using Groups = std::vector<std::vector<const char*>>;

// Keys on one line share one identifier; the first key names the group in
// the data file.
const Groups kSampleGroups = {
    {"Breast", "BC", "BRCA"}, {"Colitis-hs"}, {"Colitis-mm"},       {"Colon", "CRC", "Intestine"},
    {"Lung", "NSCLC"},        {"Melanoma"},   {"Pancreas", "PDAC"},
};

const Groups kProcessedGroups = {
    {"Lung", "NSCLC"}, {"Colon", "CRC"},   {"Breast", "BC", "BRCA"}, {"Pancreas", "PDAC"},
    {"Colitis-mm"},    {"Colitis-hs"},     {"Colitis-mm-full"},      {"Brain"},
    {"Liver(normal)"}, {"Kidney(normal)"},
};

constexpr const char* kDataFile = "ingrath_registry.json";
// How the shipped data file marks its identifiers as placeholders.
constexpr const char* kPlaceholder = "PLACEHOLDER-";
// The address read at import; a caller who points `_download_url` at a
// mirror may serve the placeholder names from there.
std::string shipped_url;

[[noreturn]] void bad_data(const std::string& what) {
    glue::raise(PyExc_RuntimeError, std::string("orvalen/") + kDataFile + ": " + what);
}

nb::dict build_table(nb::handle data, const char* table, const Groups& groups) {
    if (!PyDict_Check(data.ptr()) || !PyDict_Contains(data.ptr(), nb::str(table).ptr()))
        bad_data(std::string("missing table \"") + table + "\"");
    nb::object ids = data[table];
    if (!PyDict_Check(ids.ptr())) bad_data(std::string("table \"") + table + "\" must map names to identifiers");
    nb::dict out;
    for (const auto& group : groups) {
        nb::str primary(group.front());
        if (!PyDict_Contains(ids.ptr(), primary.ptr()))
            bad_data(std::string("table \"") + table + "\" has no identifier for \"" + group.front() + "\"");
        nb::object id = ids[primary];
        if (!PyUnicode_Check(id.ptr()))
            bad_data(std::string("identifier of \"") + group.front() + "\" in \"" + table + "\" must be text");
        for (const char* key : group) out[key] = id;
    }
    for (nb::handle name : ids) {
        bool known = false;
        for (const auto& group : groups) known = known || glue::to_str(name) == group.front();
        if (!known)
            bad_data(std::string("table \"") + table + "\" names no data set " + glue::repr(name) +
                     " (list each data set once, under the first name of its group)");
    }
    return out;
}

}  // namespace

Registry load_registry() {
    nb::object text = nb::module_::import_("importlib.resources")
                          .attr("files")("orvalen")
                          .attr("joinpath")(kDataFile)
                          .attr("read_text")(nb::arg("encoding") = "utf-8");
    nb::object data = nb::module_::import_("json").attr("loads")(text);
    Registry reg;
    reg.sample_data_fid_dict_gz = build_table(data, "sample_data_fid_dict_gz", kSampleGroups);
    reg.sample_data_fid_dict = build_table(data, "sample_data_fid_dict", kSampleGroups);
    reg.processed_sample_data_fid_dict = build_table(data, "processed_sample_data_fid_dict", kProcessedGroups);
    if (!PyDict_Contains(data.ptr(), nb::str("download_url").ptr()) ||
        !PyUnicode_Check(nb::object(data["download_url"]).ptr()))
        bad_data("\"download_url\" must be the text that the file identifier is appended to");
    reg.download_url = data["download_url"];
    shipped_url = glue::to_str(reg.download_url);
    return reg;
}

void note_placeholder(nb::handle file_id) {
    if (!PyUnicode_Check(file_id.ptr()) || glue::to_str(file_id).rfind(kPlaceholder, 0) != 0) return;
    nb::object url = glue::ns("_download_url");
    if (!PyUnicode_Check(url.ptr()) || glue::to_str(url) != shipped_url) return;
    // Without this line a fresh install's loader fails without a word.
    glue::print(std::string("This installation has no hosted identifiers (orvalen/") + kDataFile +
                " holds placeholders); set them as described in docs/deployment.md.");
}

}  // namespace quend::ingrath
