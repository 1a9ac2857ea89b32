#pragma once
// The data-set registry: the three tables the module binds at load, and the
// note a failed download adds when its identifier is only a placeholder.
#include "common/nb.hpp"

namespace quend::ingrath {

// Built from the shipped deployment data.
struct Registry {
    nb::dict sample_data_fid_dict_gz;
    nb::dict sample_data_fid_dict;
    nb::dict processed_sample_data_fid_dict;
    nb::object download_url;
};
Registry load_registry();

// After a failed download, one line saying so when `file_id` is a shipped
// placeholder rather than a hosted identifier.
void note_placeholder(nb::handle file_id);

}  // namespace quend::ingrath
