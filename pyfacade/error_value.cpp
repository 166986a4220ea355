#include "pyfacade/error_value.hpp"

namespace brenvalis::pyfacade {

struct ErrorValue::Detail {
    PyRef type;           // null when `object` is the exception itself
    PyRef object;         // the exception, or the argument to create it with
    std::string message;  // the argument as text, when `has_message`
    bool has_message = false;
};

void ErrorValue::DetailDeleter::operator()(Detail* detail) const noexcept { std::default_delete<Detail>{}(detail); }

ErrorValue ErrorValue::make(PyRef type, PyRef object, std::string message, bool has_message) {
    return ErrorValue(DetailPtr(
        std::make_unique<Detail>(std::move(type), std::move(object), std::move(message), has_message).release()));
}

ErrorValue ErrorValue::with_message(PyObject* type, std::string message) {
    return make(PyRef::borrow(type), PyRef(), std::move(message), true);
}

ErrorValue ErrorValue::with_argument(PyObject* type, PyRef argument) {
    return make(PyRef::borrow(type), std::move(argument), std::string(), false);
}

ErrorValue ErrorValue::without_argument(PyObject* type) {
    return make(PyRef::borrow(type), PyRef(), std::string(), false);
}

ErrorValue ErrorValue::from_exception(PyRef exception) {
    return make(PyRef(), std::move(exception), std::string(), false);
}

ErrorValue ErrorValue::fetch() {
    PyRef pending = PyRef::steal(PyErr_GetRaisedException());
    if (!pending) {
        return with_message(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return from_exception(std::move(pending));
}

void ErrorValue::raise_detail(Detail& detail) {
    if (!detail.type) {
        PyErr_SetRaisedException(detail.object.release());
        return;
    }
    PyObject* type = detail.type.get();
    if (!PyExceptionClass_Check(type)) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    if (detail.has_message) {
        PyRef message = PyRef::steal(
            PyUnicode_FromStringAndSize(detail.message.data(), static_cast<Py_ssize_t>(detail.message.size())));
        if (!message) {
            return;  // the interpreter's MemoryError (or UnicodeDecodeError) is pending instead
        }
        PyErr_SetObject(type, message.get());
    } else if (detail.object) {
        PyErr_SetObject(type, detail.object.get());
    } else {
        PyErr_SetNone(type);
    }
}

PyRef ErrorValue::into_exception() && {
    if (!detail_->type) {
        return std::move(detail_->object);
    }
    std::move(*this).raise();
    return PyRef::steal(PyErr_GetRaisedException());
}

}  // namespace brenvalis::pyfacade
