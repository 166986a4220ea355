// The import entry and the filling of the module object.
//
// Single-phase initialisation: the first import in the process creates the
// module and keeps it; later imports in the same interpreter get that very
// object back (so attributes a caller set on it survive), and an import in any
// other interpreter is refused, because the module's objects and type objects
// belong to the interpreter that created them. Finalising the runtime ends
// that ownership: an interpreter initialised afterwards builds a new module.
#include <Python.h>

#include <array>
#include <string>

#include "core/internal_failure.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/guard.hpp"
#include "pyfacade/module_functions.hpp"
#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_tolvane_core",
    docstrings::module,
    0,        // no per-module state
    nullptr,  // functions are added by the body once the module exists
    nullptr,  // no slots: single-phase initialisation
    nullptr,
    nullptr,
    nullptr,
};

constexpr int kModuleApiVersion = 1013;

// The module's __all__ list, created if the module has none yet.
Outcome<PyRef> all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (all) {
        if (!PyList_Check(all.get())) {
            return std::unexpected(conversion_error(all.get(), "PyList"));
        }
        return all;
    }
    ErrorValue failure = ErrorValue::fetch();
    PyRef exception = std::move(failure).into_exception();
    if (!PyErr_GivenExceptionMatches(exception.get(), PyExc_AttributeError)) {
        return std::unexpected(ErrorValue::from_exception(std::move(exception)));
    }
    PyRef fresh = PyRef::steal(PyList_New(0));
    if (!fresh) {
        return fetched_error();
    }
    if (PyObject_SetAttrString(module, "__all__", fresh.get()) < 0) {
        return fetched_error();
    }
    return fresh;
}

// Every name goes into __all__ first and then onto the module, so __all__
// always lists the attributes in the order they were added.
Outcome<void> add(PyObject* module, PyObject* name, PyObject* value) {
    Outcome<PyRef> all = all_list(module);
    if (!all) {
        return std::unexpected(std::move(all.error()));
    }
    if (PyList_Append(all->get(), name) < 0) {
        PyErr_Clear();
        core::fail("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) < 0) {
        return fetched_error();
    }
    return {};
}

Outcome<void> add_named(PyObject* module, const char* name, PyObject* value) {
    PyRef key = PyRef::steal(PyUnicode_FromString(name));
    if (!key) {
        return fetched_error();
    }
    return add(module, key.get(), value);
}

Outcome<void> add_function(PyObject* module, PyObject* module_name, PyMethodDef* def) {
    PyRef function = PyRef::steal(PyCMethod_New(def, module, module_name, nullptr));
    if (!function) {
        return fetched_error();
    }
    PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) {
        return fetched_error();
    }
    if (!PyUnicode_Check(name.get())) {
        return std::unexpected(conversion_error(name.get(), "PyString"));
    }
    return add(module, name.get(), function.get());
}

Outcome<void> fill_module(PyObject* module) {
    using TypeGetter = Outcome<PyObject*> (*)();
    const std::array<std::pair<const char*, TypeGetter>, 3> classes{{
        {"PyFormulasRegistry", &formulas_registry_type},
        {"PyQuarkRegistry", &quark_registry_type},
        {"PyCKMMatrix", &ckm_matrix_type},
    }};
    for (const auto& [name, get_type] : classes) {
        Outcome<PyObject*> type = get_type();
        if (!type) {
            return std::unexpected(std::move(type.error()));
        }
        if (Outcome<void> added = add_named(module, name, *type); !added) {
            return added;
        }
    }

    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return fetched_error();
    }
    for (PyMethodDef* def : {&py_list_constants_def, &py_list_quarks_def, &py_get_constant_def}) {
        if (Outcome<void> added = add_function(module, module_name.get(), def); !added) {
            return added;
        }
    }

    PyRef version =
        PyRef::steal(PyUnicode_FromStringAndSize(kVersion.data(), static_cast<Py_ssize_t>(kVersion.size())));
    if (!version) {
        return fetched_error();
    }
    return add_named(module, "__version__", version.get());
}

Outcome<PyRef> init_module() {
    ProcessState& state = process_state();

    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return fetched_error();
    }
    std::int64_t owner = -1;
    if (state.owner_interpreter.compare_exchange_strong(owner, id)) {
        // Without the reset, an interpreter initialised after this one is
        // finalised could get the same id and be handed this one's dead
        // objects. If the reset cannot be arranged (a host has taken every
        // exit-callback slot of the runtime), the import is refused now, while
        // the refusal can still be reported, and the claim is withdrawn so that
        // nothing is left half-owned.
        if (!reset_process_state_at_finalization()) {
            state.owner_interpreter.store(-1);
            return error(PyExc_ImportError,
                         "brenvalis._tolvane_core cannot arrange its clean-up at interpreter finalization: "
                         "Py_AtExit has no free slot");
        }
    } else if (owner != id) {
        return error(PyExc_ImportError,
                     "brenvalis._tolvane_core does not support sub-interpreters: it is already loaded in another "
                     "interpreter of this process");
    }

    if (PyObject* existing = state.module.get()) {
        return PyRef::borrow(existing);
    }

    for (auto [slot, text] : {std::pair{&state.json_name, "json"}, std::pair{&state.loads_name, "loads"}}) {
        if (slot->get() == nullptr) {
            PyRef name = PyRef::steal(PyUnicode_InternFromString(text));
            if (!name) {
                return fetched_error();
            }
            slot->set_once(std::move(name));
        }
    }

    PyRef module = PyRef::steal(PyModule_Create2(&module_def, kModuleApiVersion));
    if (!module) {
        return fetched_error();
    }
    if (Outcome<void> filled = fill_module(module.get()); !filled) {
        return std::unexpected(std::move(filled.error()));  // the partly filled module is dropped here
    }
    return PyRef::borrow(state.module.set_once(std::move(module)));
}

}  // namespace
}  // namespace brenvalis::pyfacade

PyMODINIT_FUNC PyInit__tolvane_core(void) {
    return brenvalis::pyfacade::guard_object([] { return brenvalis::pyfacade::init_module(); });
}
