#pragma once
// nanobind 2.x converts an attribute or item accessor inside a noexcept
// function, so a failing lookup passed straight into a call (f(obj["k"]))
// terminates the interpreter instead of raising. nanobind 3 turns it into the
// Python error; this caster does the same for the 2.x releases that CPython 3.9
// builds with.
// Reached only through common/nb.hpp, which includes nanobind first.
#ifndef QUEND_COMMON_NB_HPP
#error "include common/nb.hpp, not common/accessor_cast.hpp"
#endif

#if NB_VERSION_MAJOR < 3
NAMESPACE_BEGIN(NB_NAMESPACE)
NAMESPACE_BEGIN(detail)

template <typename Impl>
struct safe_accessor_caster {
    static constexpr auto Name = const_name("object");

    static handle from_cpp(const accessor<Impl>& src, rv_policy, cleanup_list*) noexcept {
        try {
            return src.inc_ref();
        } catch (python_error& e) {
            e.restore();  // callers see a null handle with the error set
            return handle();
        }
    }
};

// Full specializations: they win over the library's generic one.
#define QUEND_SAFE_ACCESSOR(IMPL) \
    template <>                   \
    struct type_caster<accessor<IMPL>, int> : safe_accessor_caster<IMPL> {};
QUEND_SAFE_ACCESSOR(str_attr)
QUEND_SAFE_ACCESSOR(obj_attr)
QUEND_SAFE_ACCESSOR(str_item)
QUEND_SAFE_ACCESSOR(obj_item)
QUEND_SAFE_ACCESSOR(num_item)
QUEND_SAFE_ACCESSOR(dict_item)
QUEND_SAFE_ACCESSOR(num_item_list)
QUEND_SAFE_ACCESSOR(num_item_tuple)
#undef QUEND_SAFE_ACCESSOR

NAMESPACE_END(detail)
NAMESPACE_END(NB_NAMESPACE)
#endif
