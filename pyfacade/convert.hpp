// Turning bound arguments into core values, and core values into results.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry_error.hpp"
#include "pyfacade/error_value.hpp"
#include "pyfacade/guard.hpp"
#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

// "'{type}' object cannot be converted to '{target}'", {type} being the
// __qualname__ of obj's type.
ErrorValue conversion_error(PyObject* obj, const char* target);

// The UTF-8 bytes of a str through the interpreter's view, valid while the
// str lives; null with the interpreter's UnicodeEncodeError pending when it
// holds lone surrogates. For a compact ASCII str the interpreter's view is the
// str's own characters, so they are read here without a call.
inline const char* utf8_view(PyObject* str, Py_ssize_t* size) {
    if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]] {
        *size = PyUnicode_GET_LENGTH(str);
        return static_cast<const char*>(PyUnicode_DATA(str));
    }
    return PyUnicode_AsUTF8AndSize(str, size);
}

// The common cases of the two conversions below, taken inline and without an
// Outcome: a compact ASCII str's own characters, an exact float's value.
// False leaves the argument to the full conversion, which settles every
// other case and reports every failure.
[[gnu::always_inline]] inline bool quick_text_argument(PyObject* obj, std::string_view& text) {
    if (!PyUnicode_Check(obj) || !PyUnicode_IS_COMPACT_ASCII(obj)) {
        return false;
    }
    text = std::string_view(static_cast<const char*>(PyUnicode_DATA(obj)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj)));
    return true;
}

[[gnu::always_inline]] inline bool quick_double_argument(PyObject* obj, double& value) {
    if (!PyFloat_CheckExact(obj)) {
        return false;
    }
    value = PyFloat_AS_DOUBLE(obj);
    return true;
}

// The failures of the two conversions below, off their hot paths.
ErrorValue text_argument_error(PyObject* obj, const char* param);
ErrorValue double_argument_error(const char* param);

// A str (or str subclass) as UTF-8, through the interpreter's UTF-8 view: no
// copy, valid while `obj` lives. A str with lone surrogates fails with the
// interpreter's own UnicodeEncodeError; any other object with the wrapped
// conversion TypeError for parameter `param`.
inline Outcome<std::string_view> text_argument(PyObject* obj, const char* param) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_Check(obj) ? utf8_view(obj, &size) : nullptr;
    if (data == nullptr) [[unlikely]] {
        return std::unexpected(text_argument_error(obj, param));
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

// A binary64: a float's value directly, anything else through the
// interpreter's float conversion (__float__, or __index__ for ints).
inline Outcome<double> double_argument(PyObject* obj, const char* param) {
    if (PyFloat_CheckExact(obj)) [[likely]] {
        return PyFloat_AS_DOUBLE(obj);
    }
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred() != nullptr) [[unlikely]] {
        return std::unexpected(double_argument_error(param));
    }
    return value;
}

// A conversion error for parameter `param`: an exact TypeError becomes
// TypeError("argument '{param}': {str(error)}") carrying the original's
// __cause__; anything else passes unchanged.
ErrorValue wrap_argument_error(const char* param, ErrorValue error);

// Every registry error reaches Python as KeyError(message).
ErrorValue key_error(const core::RegistryError& error);

// Result objects. A null from the interpreter here is an internal failure
// ("Python API call failed") after the pending exception has been printed.
PyRef new_str(std::string_view text);
inline PyRef new_float(double value) { return checked_result(PyFloat_FromDouble(value)); }
PyRef new_str_list(const std::vector<std::string>& items);

}  // namespace brenvalis::pyfacade
