#include "common/progress.hpp"

#include <algorithm>
#include <utility>

#include "common/errors.hpp"
#include "common/pyglue.hpp"

namespace quend::glue {

namespace {

nb::object sys_stdout() { return nb::module_::import_("sys").attr("stdout"); }

}  // namespace

bool progress_on() {
    nb::object v = nb::module_::import_("orvalen").attr("settings").attr("progress");
    if (!PyBool_Check(v.ptr()))
        raise(PyExc_TypeError, "orvalen.settings.progress must be a bool, not " + py_type_name(v));
    return v.ptr() == Py_True;
}

Display::Display(std::string label) : label_(std::move(label)), failed_(std::make_shared<bool>(false)) {}

void Display::dropped(nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    const std::string what = to_str(e.value());
    *failed_ = true;
    // The warning itself may fail (warnings turned into errors): the
    // computation still goes on.
    on_ordinary_error(
        [&] {
            nb::module_::import_("warnings")
                .attr("warn")("the progress display of " + label_ + " failed and was turned off: " + what,
                              nb::module_::import_("builtins").attr("RuntimeWarning"), nb::arg("stacklevel") = 2);
        },
        [](nb::python_error&) {});
}

nb::object Display::stream() const {
    auto failed = failed_;
    const std::string label = label_;
    auto forward = [failed, label](const char* method, nb::args args) {
        if (*failed) return;
        Display d(label);
        d.failed_ = failed;
        d.guard([&] { sys_stdout().attr(method)(*args); });
    };
    nb::object ns = nb::module_::import_("types").attr("SimpleNamespace")();
    ns.attr("write") = nb::cpp_function([forward](nb::args a) { forward("write", a); });
    ns.attr("flush") = nb::cpp_function([forward](nb::args a) { forward("flush", a); });
    return ns;
}

ProgressBar::ProgressBar(const std::string& label, std::size_t total, std::string unit)
    : unit_(std::move(unit)), total_(total) {
    if (!progress_on()) return;
    display_ = std::make_unique<Display>(label);
    const bool has_tqdm = !nb::module_::import_("importlib.util").attr("find_spec")("tqdm").is_none();
    display_->guard([&] {
        if (has_tqdm)
            // tqdm glues the unit to the rate ("12.5kcells/s"): the blank
            // keeps them apart. Large counts read better scaled (11.8M), small
            // ones exact (97, not 97.0).
            tqdm_ = nb::module_::import_("tqdm").attr("tqdm")(
                nb::arg("total") = total, nb::arg("desc") = label, nb::arg("unit") = " " + unit_,
                nb::arg("unit_scale") = total >= 10000, nb::arg("file") = display_->stream());
    });
    if (!has_tqdm) draw();
}

ProgressBar::~ProgressBar() {
    if (!display_) return;
    // A destructor must not throw; an error in flight is kept as it is.
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    try {
        display_->guard([&] {
            if (tqdm_.is_valid())
                tqdm_.attr("close")();
            else
                display_->stream().attr("write")("\n");
        });
    } catch (nb::python_error&) {
        // Not an ordinary error (KeyboardInterrupt): the one in flight, if
        // any, is what the caller sees.
    }
    PyErr_Restore(type, value, trace);
}

void ProgressBar::advance(std::size_t steps) {
    done_ += steps;
    if (!display_ || display_->failed()) return;
    if (tqdm_.is_valid())
        display_->guard([&] { tqdm_.attr("update")(steps); });
    else
        draw();
}

void ProgressBar::draw() {
    const int pct = total_ ? static_cast<int>(100.0 * static_cast<double>(std::min(done_, total_)) / total_) : 100;
    if (pct == shown_) return;
    shown_ = pct;
    const int filled = pct * 30 / 100;
    nb::object out = display_->stream();
    out.attr("write")("\r" + display_->label() + " [" + std::string(filled, '#') + std::string(30 - filled, ' ') +
                      "] " + std::to_string(pct) + "% (" + std::to_string(std::min(done_, total_)) + "/" +
                      std::to_string(total_) + " " + unit_ + ")");
    out.attr("flush")();
}

DaskBar::DaskBar(const std::string& label) {
    if (!progress_on()) return;
    display_ = std::make_unique<Display>(label);
    nb::object out = display_->stream();
    out.attr("write")(label + "\n");
}

DaskBar::~DaskBar() {
    if (!display_) return;
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    try {
        display_->stream().attr("write")("\n");
        display_->stream().attr("flush")();
    } catch (nb::python_error&) {
        // Not an ordinary error: the one in flight, if any, is what the caller sees.
    }
    PyErr_Restore(type, value, trace);
}

void DaskBar::wait(nb::handle futures) {
    if (!display_) return;
    // distributed's console bar writes to sys.stdout itself: its errors are
    // dropped here, and the futures are waited on all the same.
    display_->guard([&] { nb::module_::import_("distributed").attr("progress")(futures); });
}

void DaskBar::enter() {
    if (!display_) return;
    display_->guard([&] {
        bar_ = nb::module_::import_("dask.diagnostics").attr("ProgressBar")(nb::arg("out") = display_->stream());
        bar_.attr("__enter__")();
    });
}

void DaskBar::leave(nb::handle type, nb::handle value, nb::handle trace) {
    if (!display_ || !bar_.is_valid()) return;
    display_->guard([&] { bar_.attr("__exit__")(type, value, trace); });
}

}  // namespace quend::glue
