// The binder: matches a caller's arguments against a CallSignature.
//
// Binding fills one borrowed slot per declared parameter, in a fixed array on
// the caller's stack, and allocates nothing on success: keyword names are
// compared as UTF-8 bytes against the declared names, and every error message
// is built in a cold function only when binding fails.
#pragma once

#include <Python.h>

#include <array>
#include <span>

#include "pyfacade/call_signature.hpp"
#include "pyfacade/error_value.hpp"

namespace brenvalis::pyfacade {

// One borrowed slot per declared parameter, filled by the binder.
template <const CallSignature& Signature>
using BoundSlots = std::array<PyObject*, Signature.slot_count()>;

// Vectorcall form: `nargsf` may carry PY_VECTORCALL_ARGUMENTS_OFFSET; keyword
// values follow the positional ones in `args`. `slots` must have exactly
// signature.slot_count() entries; they receive borrowed references or null.
Outcome<void> bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                            std::span<PyObject*> slots);

// Tuple-and-dict form, as a tp_new slot receives its arguments (kwargs may be null).
Outcome<void> bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots);

}  // namespace brenvalis::pyfacade
