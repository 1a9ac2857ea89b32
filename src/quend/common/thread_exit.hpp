#pragma once
// Threads still inside a call when the interpreter exits (a daemon thread
// tallying as the script ends). CPython ends such a thread when it next
// wants the GIL, with pthread_exit, whose forced unwind aborts the process
// when it meets a noexcept frame (a destructor releasing the GIL) and crashes
// it in nanobind's catch-all handler. Such a thread parks instead until the
// process is gone, so the script's own exit status stands.
#include "common/nb.hpp"

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include <utility>

namespace quend::glue {

// Never returns: the process is exiting and this thread has nothing left to do.
[[noreturn]] void park_thread();

// The GIL released around a kernel call; taken back unless the interpreter
// is exiting by then.
class KernelRelease {
public:
    KernelRelease();
    ~KernelRelease();
    KernelRelease(const KernelRelease&) = delete;
    KernelRelease& operator=(const KernelRelease&) = delete;

private:
    PyThreadState* state_;
};

// Runs `f` (a bound function's body); a thread ended by the interpreter's
// exit inside it parks at this frame.
template <typename F>
decltype(auto) parked_at_exit(F&& f) {
#if defined(__GLIBCXX__)
    try {
        return f();
    } catch (abi::__forced_unwind&) {
        park_thread();
    }
#else
    return f();
#endif
}

// `fn` as bound to Python: its body run through parked_at_exit.
template <typename R, typename... A>
auto parking(R (*fn)(A...)) {
    return [fn](A... a) -> R { return parked_at_exit([&]() -> R { return fn(std::forward<A>(a)...); }); };
}

}  // namespace quend::glue
