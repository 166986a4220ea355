// Turning bound arguments into core values, and core values into results.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/registry_error.hpp"
#include "pyfacade/error_value.hpp"
#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

// "'{type}' object cannot be converted to '{target}'", {type} being the
// __qualname__ of obj's type.
ErrorValue conversion_error(PyObject* obj, const char* target);

// A str (or str subclass) as UTF-8, through the interpreter's cached UTF-8 view:
// no copy, valid while `obj` lives. A str with lone surrogates fails with the
// interpreter's own UnicodeEncodeError; any other object with the wrapped
// conversion TypeError for parameter `param`.
Outcome<std::string_view> text_argument(PyObject* obj, const char* param);

// A binary64: a float's value directly, anything else through the
// interpreter's float conversion (__float__, or __index__ for ints).
Outcome<double> double_argument(PyObject* obj, const char* param);

// A conversion error for parameter `param`: an exact TypeError becomes
// TypeError("argument '{param}': {str(error)}") carrying the original's
// __cause__; anything else passes unchanged.
ErrorValue wrap_argument_error(const char* param, ErrorValue error);

// Every registry error reaches Python as KeyError(message).
ErrorValue key_error(const core::RegistryError& error);

// Result objects. A null from the interpreter here is an internal failure
// ("Python API call failed") after the pending exception has been printed.
PyRef new_str(std::string_view text);
PyRef new_float(double value);
PyRef new_str_list(const std::vector<std::string>& items);

}  // namespace brenvalis::pyfacade
