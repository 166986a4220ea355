#include "pyfacade/instance.hpp"

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

[[gnu::cold]] ErrorValue unbuilt_instance_error(PyObject* self) {
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(self)));
    if (!name) {
        return ErrorValue::fetch();
    }
    PyRef message = PyRef::steal(
        PyUnicode_FromFormat("%U object has no value: it was created without the class's own constructor", name.get()));
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
