// PyQuarkRegistry: wraps an empty quark registry (the six quarks are reached
// through py_list_quarks), so its length is always 0.
#include <Python.h>

#include <array>

#include "core/quark_registry.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/instance.hpp"

namespace brenvalis::pyfacade {
namespace {

using Registry = core::QuarkRegistry;
using Use = SharedUse<Registry>;

PyObject* quark_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard_object([&]() -> Outcome<PyRef> {
        std::array<PyObject*, signatures::quark_registry_new.slot_count()> slots;
        if (Outcome<void> bound = bind_tuple_dict(signatures::quark_registry_new, args, kwargs, slots); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        return new_instance(type, Registry::new_());
    });
}

Py_ssize_t quark_len(PyObject* self) noexcept {
    return guard_length([&]() -> Outcome<std::uint64_t> {
        Outcome<Use> use = Use::take(self, &quark_registry_type);
        if (!use) {
            return std::unexpected(std::move(use.error()));
        }
        return use->value().len();
    });
}

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(docstrings::quark_registry)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Registry>)},
    {Py_tp_new, reinterpret_cast<void*>(quark_new)},
    {Py_mp_length, reinterpret_cast<void*>(quark_len)},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PyQuarkRegistry",
    static_cast<int>(sizeof(Instance<Registry>)),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

}  // namespace

Outcome<PyObject*> quark_registry_type() { return type_from_slot(process_state().quark_registry_type, spec); }

}  // namespace brenvalis::pyfacade
