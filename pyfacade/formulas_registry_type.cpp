// PyFormulasRegistry: a registry built once at construction and then read.
#include <Python.h>

#include <expected>
#include <string_view>

#include "core/formulas_registry.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/entries.hpp"
#include "pyfacade/instance.hpp"
#include "pyfacade/module_functions.hpp"

namespace brenvalis::pyfacade {
namespace {

using Registry = core::FormulasRegistry;

// The lookup hands out a copy of the record; its value is all `get` reports.
// A miss becomes its KeyError here, so that the value travels on alone
// rather than beside a registry error that the caller would have to test
// and destroy.
// (Forced inline: see the shells in entries.hpp.)
[[gnu::always_inline]] inline Outcome<double> get_impl(const Registry& registry, std::string_view name) {
    std::expected<core::ConstantRecord, core::RegistryError> record = registry.get(name);
    if (!record) [[unlikely]] {
        return std::unexpected(key_error(record.error()));
    }
    return record->value;
}

std::string_view version_impl() { return kVersion; }

PyMethodDef methods[] = {
    {"get", as_method(fastcall_method<Registry, formulas_registry_type, signatures::formulas_registry_get, get_impl>),
     METH_FASTCALL | METH_KEYWORDS, docstrings::get},
    {"version", noargs_function<version_impl>, METH_NOARGS | METH_STATIC, docstrings::version},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(docstrings::formulas_registry)},
    {Py_tp_dealloc, as_slot(dealloc_instance<Registry>)},
    {Py_tp_new, as_slot(new_slot<Registry, signatures::formulas_registry_new, &Registry::new_>)},
    {Py_mp_length, as_slot(length_slot<Registry, formulas_registry_type>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PyFormulasRegistry", static_cast<int>(sizeof(Instance<Registry>)), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

Outcome<PyObject*> formulas_registry_type() { return type_from_slot(process_state().formulas_registry_type, spec); }

}  // namespace brenvalis::pyfacade
