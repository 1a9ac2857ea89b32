#pragma once
// A path that a call creates and removes again unless the call completes: a
// partial output file or an extraction folder. The destructor runs during
// unwinding as well, an interrupt included, so a failed or interrupted call
// leaves nothing half-written behind.
#include "common/nb.hpp"

namespace quend::ingrath {

class PartialOutput {
public:
    enum class Kind { File, Tree };
    PartialOutput(nb::object path, Kind kind) : path_(std::move(path)), kind_(kind) {}
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;
    ~PartialOutput();
    // The call completed: the path stays (or is already gone).
    void keep() { kept_ = true; }

private:
    nb::object path_;
    Kind kind_;
    bool kept_ = false;
};

}  // namespace quend::ingrath
