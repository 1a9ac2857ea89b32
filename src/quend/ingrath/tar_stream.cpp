#include "ingrath/tar_stream.hpp"

#include <string>

#include "common/errors.hpp"

namespace quend::ingrath {

TarStream guarded_tar_stream(nb::object stream) {
    auto budget = std::make_shared<HeaderBudget>();
    nb::object read = stream.attr("read");
    auto guarded_read = [budget, read](Py_ssize_t size) -> nb::object {
        if (budget->armed) {
            if (size < 0 || static_cast<std::uint64_t>(size) > kMaxHeaderBytes - budget->used)
                glue::raise(PyExc_ValueError, "archive member header takes more than " +
                                                  std::to_string(kMaxHeaderBytes) +
                                                  " bytes (a pax record or long name this large is refused)");
            budget->used += static_cast<std::uint64_t>(size);
        }
        return read(size);
    };
    nb::object reader = nb::module_::import_("types").attr("SimpleNamespace")(
        nb::arg("read") = nb::cpp_function(guarded_read, nb::arg("size") = -1), nb::arg("seek") = stream.attr("seek"),
        nb::arg("tell") = stream.attr("tell"));
    return {reader, budget};
}

}  // namespace quend::ingrath
