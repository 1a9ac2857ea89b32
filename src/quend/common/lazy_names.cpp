#include "common/lazy_names.hpp"

#include "common/errors.hpp"
#include "common/pyglue.hpp"

#include <string>
#include <unordered_map>
#include <vector>

namespace quend::glue {

namespace {

struct Pending {
    std::string module, attr;
};

// Per extension module (each links its own copy of common/): names waiting for
// their first read, and the eager binding order of every name seen so far.
std::unordered_map<std::string, Pending> g_pending;
std::vector<std::string> g_order;
std::unordered_map<std::string, size_t> g_rank;

void note(const std::string& name) {
    if (g_rank.emplace(name, g_order.size()).second) g_order.push_back(name);
}

// Names bound since the last call take their place in the order.
void sync_order(nb::dict d) {
    for (auto item : d) note(nb::cast<std::string>(item.first));
}

// Moves `name` (just added at the end) before every key that was bound after
// it in the eager order, keeping everyone else's relative order.
void restore_place(nb::dict d, const std::string& name) {
    sync_order(d);
    const size_t rank = g_rank.at(name);
    std::vector<nb::object> later;
    for (auto item : d) {
        const std::string key = nb::cast<std::string>(item.first);
        if (key == name) break;
        if (!later.empty() || g_rank.at(key) > rank) later.push_back(nb::borrow(item.first));
    }
    for (const nb::object& key : later) {
        nb::object value = d[key];
        if (PyDict_DelItem(d.ptr(), key.ptr()) < 0) throw nb::python_error();
        d[key] = value;
    }
}

nb::object resolve(nb::module_ m, const std::string& name) {
    const Pending p = g_pending.at(name);
    nb::object value = import_from(p.module.c_str(), p.attr.empty() ? nullptr : p.attr.c_str());
    nb::dict d = nb::borrow<nb::dict>(m.attr("__dict__"));
    g_pending.erase(name);
    // Another thread, or the import itself, may have bound it meanwhile.
    if (d.contains(name.c_str())) return d[name.c_str()];
    d[name.c_str()] = value;
    restore_place(d, name);
    return value;
}

}  // namespace

nb::object import_from(const char* module, const char* attr) {
    nb::object mod = nb::module_::import_(module);
    if (!attr) return mod;
    if (nb::hasattr(mod, attr)) return mod.attr(attr);
    const std::string sub = std::string(module) + "." + attr;
    try {
        return nb::module_::import_(sub.c_str());
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_ImportError)) throw;
    }
    raise(PyExc_ImportError, std::string("cannot import name '") + attr + "' from '" + module + "'");
}

bool findable(const char* module) {
    nb::object modules = nb::module_::import_("sys").attr("modules");
    const std::string full(module);
    // Walk the dotted name: the top through the import hooks, each submodule
    // with the path finder on its parent's locations, so no package's
    // __init__ runs.
    nb::object locations = nb::none();
    for (size_t end = full.find('.');; end = full.find('.', end + 1)) {
        const std::string part = full.substr(0, end);
        nb::str key(part.c_str());
        if (contains(modules, key)) {
            locations = nb::getattr(nb::object(modules[key]), "__path__", nb::none());
        } else {
            nb::object found =
                locations.is_none()
                    ? nb::module_::import_("importlib.util").attr("find_spec")(key)
                    : nb::module_::import_("importlib.machinery").attr("PathFinder").attr("find_spec")(key, locations);
            if (found.is_none()) return false;
            locations = found.attr("submodule_search_locations");
        }
        if (end == std::string::npos) return true;
        if (locations.is_none()) return false;  // a plain module has no submodules
    }
}

void enable_lazy_names(nb::module_& m) {
    nb::handle mod = m;
    m.def(
        "__getattr__",
        [mod](const std::string& name) {
            if (!g_pending.count(name))
                raise(PyExc_AttributeError,
                      "module '" + nb::cast<std::string>(mod.attr("__name__")) + "' has no attribute '" + name + "'");
            return resolve(nb::borrow<nb::module_>(mod), name);
        },
        nb::arg("name"));
    m.def("__dir__", [mod]() {
        nb::list names;
        for (auto item : nb::borrow<nb::dict>(mod.attr("__dict__"))) names.append(item.first);
        for (const std::string& name : g_order)
            if (g_pending.count(name) && !contains(names, nb::str(name.c_str()))) names.append(nb::str(name.c_str()));
        names.sort();
        return names;
    });
}

void lazy(nb::module_& m, const char* name, const char* module, const char* attr) {
    nb::dict d = nb::borrow<nb::dict>(m.attr("__dict__"));
    nb::object modules = nb::module_::import_("sys").attr("modules");
    if (contains(modules, nb::str(module)) || !findable(module)) {
        // Already paid for, or missing: bind now so a failure shows at load.
        d[name] = import_from(module, attr);
        return;
    }
    sync_order(d);
    note(name);
    g_pending[name] = Pending{module, attr ? attr : ""};
}

void lazy(nb::module_& m, std::initializer_list<LazyName> names) {
    for (const LazyName& n : names) lazy(m, n.name, n.module, n.attr);
}

}  // namespace quend::glue
