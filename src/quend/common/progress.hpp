#pragma once
// The engine's one place for progress display, shown when
// orvalen.settings.progress is True. A display that fails (a closed
// sys.stdout, a write that raises) never fails or discards a computation:
// its errors are dropped, with one warning per call, and it goes quiet.
// Each bar is labelled with the function and the path, as
// "get_gene_expression (backed)".
#include "common/nb.hpp"

#include <cstddef>
#include <memory>
#include <string>

namespace quend::glue {

namespace nb = nanobind;

// orvalen.settings.progress (a bool, checked when set).
bool progress_on();

// The display of one call: a stream that forwards to the current
// sys.stdout and drops its errors, and the warning given once.
class Display {
public:
    explicit Display(std::string label);
    const std::string& label() const { return label_; }
    // A file-like object (write, flush) for bars that take one.
    nb::object stream() const;
    // Runs `f`; an ordinary error from it is dropped (one warning) and the
    // display goes quiet.
    template <typename F>
    void guard(F&& f) {
        if (*failed_) return;
        try {
            f();
        } catch (nb::python_error& e) {
            dropped(e);
        }
    }
    bool failed() const { return *failed_; }

private:
    void dropped(nb::python_error& e);
    std::string label_;
    std::shared_ptr<bool> failed_;
};

// A bar over `total` steps counted in `unit` (plural, as users read it:
// "cells", "genes"): tqdm when installed, else a text bar that names the
// unit too. Does nothing unless progress is on.
class ProgressBar {
public:
    ProgressBar(const std::string& label, std::size_t total, std::string unit = "cells");
    ~ProgressBar();
    void advance(std::size_t steps);
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

private:
    void draw();
    std::unique_ptr<Display> display_;
    nb::object tqdm_;
    std::string unit_;
    std::size_t total_, done_ = 0;
    int shown_ = -1;
};

// Dask's own bar around a computation: `compute()` runs under
// dask.diagnostics.ProgressBar, or after distributed.progress(futures) when
// `futures` is given. The bar ends with a newline.
class DaskBar {
public:
    explicit DaskBar(const std::string& label);
    ~DaskBar();
    // Under a Client: blocks until `futures` are done, drawing the bar.
    void wait(nb::handle futures);
    // Without one: the local scheduler's bar around `compute`.
    template <typename F>
    nb::object around(F&& compute) {
        enter();
        nb::object out;
        try {
            out = compute();
        } catch (nb::python_error& e) {
            leave(e.type(), e.value(), e.traceback());
            throw;
        }
        leave(nb::none(), nb::none(), nb::none());
        return out;
    }
    DaskBar(const DaskBar&) = delete;
    DaskBar& operator=(const DaskBar&) = delete;

private:
    void enter();
    void leave(nb::handle type, nb::handle value, nb::handle trace);
    std::unique_ptr<Display> display_;
    nb::object bar_;
};

}  // namespace quend::glue
