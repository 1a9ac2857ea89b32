#include "core/add_in_flight.hpp"

#include <utility>

namespace quend {

AddInFlight::~AddInFlight() {
    if (run_.valid()) run_.wait();
}

void AddInFlight::start(std::function<void()> add) {
    wait();
    run_ = std::async(std::launch::async, std::move(add));
}

void AddInFlight::wait() {
    if (!run_.valid()) return;
    // get() leaves the future empty, so an error is thrown once.
    run_.get();
}

}  // namespace quend
