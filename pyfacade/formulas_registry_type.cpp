// PyFormulasRegistry: a registry built once at construction and then read.
#include <Python.h>

#include <array>

#include "core/formulas_registry.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/instance.hpp"
#include "pyfacade/module_functions.hpp"

namespace brenvalis::pyfacade {
namespace {

using Registry = core::FormulasRegistry;

// ---- Typed bodies. ----

Outcome<PyRef> get_impl(const Registry& registry, std::string_view name) {
    std::expected<core::ConstantRecord, core::RegistryError> record = registry.get(name);
    if (!record) {
        return std::unexpected(key_error(record.error()));
    }
    return new_float(record->value);
}

// ---- Slots and methods. ----

PyObject* formulas_get(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guard_object([&]() -> Outcome<PyRef> {
        std::array<PyObject*, signatures::formulas_registry_get.slot_count()> slots;
        if (Outcome<void> bound = bind_fastcall(signatures::formulas_registry_get, args, nargsf, kwnames, slots);
            !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        return with_receiver<Registry>(self, &formulas_registry_type, [&](const Registry& registry) -> Outcome<PyRef> {
            Outcome<std::string_view> name = text_argument(slots[0], "name");
            if (!name) {
                return std::unexpected(std::move(name.error()));
            }
            return get_impl(registry, *name);
        });
    });
}

PyObject* formulas_version(PyObject*, PyObject*) {
    return guard_object([]() -> Outcome<PyRef> { return new_str(kVersion); });
}

PyMethodDef methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(formulas_get)), METH_FASTCALL | METH_KEYWORDS,
     docstrings::get},
    {"version", formulas_version, METH_NOARGS | METH_STATIC, docstrings::version},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(docstrings::formulas_registry)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Registry>)},
    {Py_tp_new,
     reinterpret_cast<void*>(new_without_arguments<Registry, signatures::formulas_registry_new, &Registry::new_>)},
    {Py_mp_length, reinterpret_cast<void*>(length_of<Registry, &formulas_registry_type>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PyFormulasRegistry", static_cast<int>(sizeof(Instance<Registry>)), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

Outcome<PyObject*> formulas_registry_type() { return type_from_slot(process_state().formulas_registry_type, spec); }

}  // namespace brenvalis::pyfacade
