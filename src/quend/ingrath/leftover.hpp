#pragma once
// A path that a call creates and removes again unless the call completes: a
// partial output file or an extraction folder. The destructor runs during
// unwinding as well, an interrupt included, so a failed or interrupted call
// leaves nothing half-written behind.
#include "common/nb.hpp"

namespace quend::ingrath {

class Leftover {
public:
    enum class Kind { File, Tree };
    Leftover(nb::object path, Kind kind) : path_(std::move(path)), kind_(kind) {}
    Leftover(const Leftover&) = delete;
    Leftover& operator=(const Leftover&) = delete;
    ~Leftover();
    // The call completed: the path stays (or is already gone).
    void keep() { kept_ = true; }

private:
    nb::object path_;
    Kind kind_;
    bool kept_ = false;
};

}  // namespace quend::ingrath
