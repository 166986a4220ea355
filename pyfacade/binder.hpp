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

// The vectorcall form in full: positional arguments, then each keyword
// matched against the declared names.
Outcome<void> bind_fastcall_matching(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames, std::span<PyObject*> slots);

// Vectorcall form: `nargsf` may carry PY_VECTORCALL_ARGUMENTS_OFFSET; keyword
// values follow the positional ones in `args`. `slots` must have exactly
// signature.slot_count() entries; they receive borrowed references or null.
//
// Every declared parameter is positional-or-keyword and required, so a call
// that passes each of them by position and no keyword binds without any
// check that could fail; that, the common call, is settled here inline.
inline Outcome<void> bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames, std::span<PyObject*> slots) {
    if (kwnames == nullptr && static_cast<std::size_t>(PyVectorcall_NARGS(nargsf)) == slots.size() &&
        signature.within_binder_support()) [[likely]] {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            slots[i] = args[i];
        }
        return {};
    }
    return bind_fastcall_matching(signature, args, nargsf, kwnames, slots);
}

// Tuple-and-dict form, as a tp_new slot receives its arguments (kwargs may be null).
Outcome<void> bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots);

}  // namespace brenvalis::pyfacade
