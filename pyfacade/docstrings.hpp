// Every docstring the module shows, in one place.
//
// Callables carry the interpreter's "sig\n--\n\n" prefix, from which it derives
// __text_signature__ (and so inspect.signature) and strips it from __doc__.
#pragma once

namespace brenvalis::pyfacade::docstrings {

inline constexpr const char* module =
    "Native accelerated core of brenvalis, the binding layer's module entry point. "
    "Wired as `brenvalis._tolvane_core`.";

inline constexpr const char* py_list_constants =
    "py_list_constants()\n--\n\n"
    "Accelerated twin of `brenvalis.list_constants`.\n"
    "\n"
    "Returns all known constant names from the FormulasRegistry.";

inline constexpr const char* py_list_quarks =
    "py_list_quarks()\n--\n\n"
    "Accelerated twin of `brenvalis.list_quarks`.\n"
    "\n"
    "Returns all SM quark names from the QuarkRegistry.";

inline constexpr const char* py_get_constant =
    "py_get_constant(name)\n--\n\n"
    "Accelerated twin of `brenvalis.Get` for the constants branch.\n"
    "\n"
    "Returns a JSON-serialised dict with `name`, `value`, `units`,\n"
    "`uncertainty`, and `status` fields \u2014 matching the Python constant\n"
    "datasheet schema so callers don't need to branch.\n"
    "\n"
    "Raises `PyKeyError` when `name` is not in the registry.";

inline constexpr const char* formulas_registry =
    "PyFormulasRegistry()\n--\n\n"
    "Python wrapper for [`FormulasRegistry`].";

inline constexpr const char* quark_registry =
    "PyQuarkRegistry()\n--\n\n"
    "Python wrapper for [`QuarkRegistry`].";

inline constexpr const char* ckm_matrix = "Python wrapper for [`CKMMatrix`].";

inline constexpr const char* get =
    "get($self, name)\n--\n\n"
    "Retrieve the numeric value for `name`.";

inline constexpr const char* version =
    "version()\n--\n\n"
    "Library-version round-trip helper.";

inline constexpr const char* from_topology =
    "from_topology()\n--\n\n"
    "Build the CKM matrix from the underlying topology.";

inline constexpr const char* is_unitary =
    "is_unitary($self, tol)\n--\n\n"
    "`True` when the matrix is unitary within `tol`.";

inline constexpr const char* jarlskog =
    "jarlskog($self)\n--\n\n"
    "CP-violation Jarlskog invariant J.";

inline constexpr const char* panic_exception =
    "Raised when the native core of brenvalis fails unexpectedly while called from Python.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that\n"
    "ordinary `except Exception` handlers let it pass and it usually travels up the\n"
    "whole stack and ends the interpreter.";

}  // namespace brenvalis::pyfacade::docstrings
