#include "pyfacade/error_value.hpp"

namespace brenvalis::pyfacade {

ErrorValue ErrorValue::with_message(PyObject* type, std::string message) {
    return ErrorValue(Lazy{PyRef::borrow(type), std::move(message)});
}

ErrorValue ErrorValue::with_argument(PyObject* type, PyRef argument) {
    return ErrorValue(Lazy{PyRef::borrow(type), std::move(argument)});
}

ErrorValue ErrorValue::without_argument(PyObject* type) { return ErrorValue(Lazy{PyRef::borrow(type), {}}); }

ErrorValue ErrorValue::from_exception(PyRef exception) { return ErrorValue(std::move(exception)); }

ErrorValue ErrorValue::fetch() {
    PyRef pending = PyRef::steal(PyErr_GetRaisedException());
    if (!pending) {
        return with_message(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return from_exception(std::move(pending));
}

void ErrorValue::raise() && {
    if (PyRef* exception = std::get_if<PyRef>(&state_)) {
        PyErr_SetRaisedException(exception->release());
        return;
    }
    Lazy& lazy = std::get<Lazy>(state_);
    PyObject* type = lazy.type.get();
    if (!PyExceptionClass_Check(type)) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    if (const std::string* text = std::get_if<std::string>(&lazy.argument)) {
        PyRef message = PyRef::steal(PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size())));
        if (!message) {
            return;  // the interpreter's MemoryError (or UnicodeDecodeError) is pending instead
        }
        PyErr_SetObject(type, message.get());
    } else if (const PyRef* argument = std::get_if<PyRef>(&lazy.argument)) {
        PyErr_SetObject(type, argument->get());
    } else {
        PyErr_SetNone(type);
    }
}

PyRef ErrorValue::into_exception() && {
    if (PyRef* exception = std::get_if<PyRef>(&state_)) {
        return std::move(*exception);
    }
    std::move(*this).raise();
    return PyRef::steal(PyErr_GetRaisedException());
}

}  // namespace brenvalis::pyfacade
