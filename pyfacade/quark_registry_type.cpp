// PyQuarkRegistry: wraps an empty quark registry (the six quarks are reached
// through py_list_quarks), so its length is always 0.
#include <Python.h>

#include "core/quark_registry.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/entries.hpp"
#include "pyfacade/instance.hpp"

namespace brenvalis::pyfacade {
namespace {

using Registry = core::QuarkRegistry;

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(docstrings::quark_registry)},
    {Py_tp_dealloc, as_slot(dealloc_instance<Registry>)},
    {Py_tp_new, as_slot(new_slot<Registry, signatures::quark_registry_new, &Registry::new_>)},
    {Py_mp_length, as_slot(length_slot<Registry, quark_registry_type>)},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PyQuarkRegistry", static_cast<int>(sizeof(Instance<Registry>)), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

Outcome<PyObject*> quark_registry_type() { return type_from_slot(process_state().quark_registry_type, spec); }

}  // namespace brenvalis::pyfacade
