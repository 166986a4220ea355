#include "pyfacade/instance.hpp"

#include <string>

#include "core/internal_failure.hpp"

namespace brenvalis::pyfacade {

Outcome<PyObject*> type_from_slot(ProcessSlot& slot, PyType_Spec& spec) {
    if (PyObject* existing = slot.get()) {
        return existing;
    }
    PyRef created = PyRef::steal(PyType_FromSpec(&spec));
    if (!created) {
        return fetched_error();
    }
    return slot.set_once(std::move(created));
}

[[gnu::cold]] ErrorValue type_error_naming(PyTypeObject* type, const char* format) {
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) {
        return ErrorValue::fetch();
    }
    PyRef message = PyRef::steal(PyUnicode_FromFormat(format, name.get()));
    if (!message) {
        return ErrorValue::fetch();
    }
    return ErrorValue::with_argument(PyExc_TypeError, std::move(message));
}

PyTypeObject* existing_type(Outcome<PyObject*> (*type_of)(), const char* class_name) {
    Outcome<PyObject*> type = type_of();
    if (!type) [[unlikely]] {
        std::move(type.error()).raise();
        PyErr_Print();
        core::fail(std::string("failed to create type object for ") + class_name);
    }
    return reinterpret_cast<PyTypeObject*>(*type);
}

}  // namespace brenvalis::pyfacade
