#include "common/thread_exit.hpp"

#include <chrono>
#include <thread>

namespace quend::glue {

#if !defined(__GLIBCXX__)
namespace {

bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace
#endif

void park_thread() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

KernelRelease::KernelRelease() : state_(PyEval_SaveThread()) {}

// CPython ends a thread other than the finalising one from inside
// PyEval_RestoreThread; with libstdc++ that forced unwind is stopped by
// parked_at_exit before it reaches this noexcept destructor, while the
// finalising thread itself takes the GIL back as usual. Where it cannot be
// caught by type, a thread parks once it sees the interpreter finalising.
KernelRelease::~KernelRelease() {
#if !defined(__GLIBCXX__)
    if (finalizing()) park_thread();
#endif
    parked_at_exit([&] { PyEval_RestoreThread(state_); });
}

}  // namespace quend::glue
