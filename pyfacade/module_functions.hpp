// The module-level functions and the version text they share with the classes.
#pragma once

#include <Python.h>

#include <string_view>

namespace brenvalis::pyfacade {

// The version lives in pyproject.toml alone; the build passes it in.
#ifndef BRENVALIS_VERSION
#error "BRENVALIS_VERSION is not defined: build the extension through CMakeLists.txt, which passes the version"
#endif
inline constexpr std::string_view kVersion = BRENVALIS_VERSION;

// Method definitions, in the order the functions are added to the module.
// They live for the whole process: function objects keep pointers into them.
extern PyMethodDef py_list_constants_def;
extern PyMethodDef py_list_quarks_def;
extern PyMethodDef py_get_constant_def;

}  // namespace brenvalis::pyfacade
