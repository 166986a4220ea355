#include "pyfacade/convert.hpp"

#include "pyfacade/guard.hpp"

namespace brenvalis::pyfacade {

namespace {

[[gnu::cold]] std::string type_qualname(PyObject* obj) {
    PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (qualname) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(qualname.get(), &size)) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

}  // namespace

[[gnu::cold]] ErrorValue conversion_error(PyObject* obj, const char* target) {
    std::string message = "'" + type_qualname(obj) + "' object cannot be converted to '" + target + "'";
    return ErrorValue::with_message(PyExc_TypeError, std::move(message));
}

[[gnu::cold]] ErrorValue wrap_argument_error(const char* param, ErrorValue error) {
    PyRef original = std::move(error).into_exception();
    if (!original || Py_TYPE(original.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        return original ? ErrorValue::from_exception(std::move(original)) : ErrorValue::fetch();
    }
    PyRef text = PyRef::steal(PyObject_Str(original.get()));
    if (!text) {
        return ErrorValue::fetch();
    }
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
    if (!message) {
        return ErrorValue::fetch();
    }
    PyRef wrapped = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!wrapped) {
        return ErrorValue::fetch();
    }
    // The wrapper replaces the conversion error rather than chaining to it:
    // it inherits what caused that error, not the error itself.
    PyException_SetCause(wrapped.get(), PyException_GetCause(original.get()));
    return ErrorValue::from_exception(std::move(wrapped));
}

[[gnu::cold]] ErrorValue text_argument_error(PyObject* obj, const char* param) {
    if (!PyUnicode_Check(obj)) {
        return wrap_argument_error(param, conversion_error(obj, "PyString"));
    }
    return wrap_argument_error(param, ErrorValue::fetch());
}

[[gnu::cold]] ErrorValue double_argument_error(const char* param) {
    return wrap_argument_error(param, ErrorValue::fetch());
}

[[gnu::cold]] ErrorValue key_error(const core::RegistryError& error) {
    return ErrorValue::with_message(PyExc_KeyError, error.message());
}

PyRef new_str_list(const std::vector<std::string>& items) {
    PyRef list = checked_result(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_str(items[i]).release());
    }
    return list;
}

}  // namespace brenvalis::pyfacade
