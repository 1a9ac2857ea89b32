#include "common/thread_exit.hpp"

#include <chrono>
#include <thread>

namespace quend::glue {

namespace {

bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace

void park_thread() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

KernelRelease::KernelRelease() : state_(PyEval_SaveThread()) {}

// Finalisation may also begin between the check and the take: CPython then
// ends the thread from inside PyEval_RestoreThread, and the handler parks it
// before the unwind reaches this noexcept destructor.
KernelRelease::~KernelRelease() {
    if (finalizing()) park_thread();
    parked_at_exit([&] { PyEval_RestoreThread(state_); });
}

}  // namespace quend::glue
