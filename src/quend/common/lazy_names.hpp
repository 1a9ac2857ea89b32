#pragma once
// Library names that a module binds on first use instead of at import.
//
// Contract: `lazy(m, name, module, attr)` makes `m.<name>` resolve to
// `import module` (or `from module import attr`) exactly as an eager binding
// would, but the import runs when the name is first read. Reading goes through
// the module's `__getattr__`, which imports, stores the object in the module
// dict at the place the eager binding would have had (so `vars(m)` keeps its
// order) and returns it; later reads are plain dict hits. A value the user
// assigns lives in the dict and wins. `__dir__` lists pending names too.
//
// A library that is already imported, or that cannot be found without
// importing it, is bound at once, so a missing library fails (or is reported)
// at load exactly as before. Finding never executes the library's code.
#include "common/nb.hpp"

#include <initializer_list>

namespace quend::glue {

// Installs `__getattr__` and `__dir__` on the module; call once, first.
void enable_lazy_names(nb::module_& m);

// Binds `name` now or on first use (see above). `attr` may be null.
void lazy(nb::module_& m, const char* name, const char* module, const char* attr = nullptr);

// Several names, in the order given.
struct LazyName {
    const char* name;
    const char* module;
    const char* attr = nullptr;
};
void lazy(nb::module_& m, std::initializer_list<LazyName> names);

// `import module` / `from module import attr` as the statements do: a name
// missing from the module is an ImportError.
nb::object import_from(const char* module, const char* attr);

// Whether `module` is imported already or can be found without running any
// package code. Errors raised by import hooks propagate.
bool findable(const char* module);

}  // namespace quend::glue
