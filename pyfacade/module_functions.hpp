// The module-level functions and the version text they share with the classes.
#pragma once

#include <Python.h>

#include <string_view>

namespace brenvalis::pyfacade {

inline constexpr std::string_view kVersion = "2.3.0";

// Method definitions, in the order the functions are added to the module.
// They live for the whole process: function objects keep pointers into them.
extern PyMethodDef py_list_constants_def;
extern PyMethodDef py_list_quarks_def;
extern PyMethodDef py_get_constant_def;

}  // namespace brenvalis::pyfacade
