// The three classes the module exposes. Each type object is created on first
// request, once per process, and kept for the life of the process.
#pragma once

#include <Python.h>

#include "pyfacade/error_value.hpp"

namespace brenvalis::pyfacade {

// Borrowed type objects, or the error that creating one raised.
Outcome<PyObject*> formulas_registry_type();
Outcome<PyObject*> quark_registry_type();
Outcome<PyObject*> ckm_matrix_type();

}  // namespace brenvalis::pyfacade
