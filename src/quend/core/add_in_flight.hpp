#pragma once
// One block's add on a second thread while the caller reads the next block.
// A reader that holds a lock while it reads (h5py holds the GIL) and a
// kernel that needs none then overlap. One add runs at a time and each
// starts once the one before has ended, so adds keep their order and the
// result is the same as in sequence. The caller keeps a block's buffers
// until its add has ended: the next `start`, `wait`, or the destructor.
// An add's error is thrown by the next `start` or `wait`, whichever comes
// first; a start that throws leaves its own add unstarted.
#include <functional>
#include <future>

namespace quend {

class AddInFlight {
public:
    AddInFlight() = default;
    AddInFlight(const AddInFlight&) = delete;
    AddInFlight& operator=(const AddInFlight&) = delete;
    // Waits for an add still running (a caller that fails between two
    // blocks releases their buffers only after that); its error is dropped,
    // the caller is already failing.
    ~AddInFlight();
    // Waits for the add before, then runs `add` on a second thread.
    void start(std::function<void()> add);
    // Waits for the add in flight, if any.
    void wait();

private:
    std::future<void> run_;
};

}  // namespace quend
