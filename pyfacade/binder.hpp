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
#include <string_view>

#include "pyfacade/call_signature.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/error_value.hpp"

namespace brenvalis::pyfacade {

// One borrowed slot per declared parameter, filled by the binder.
template <const CallSignature& Signature>
using BoundSlots = std::array<PyObject*, Signature.slot_count()>;

// The vectorcall form in full: positional arguments, then each keyword
// matched against the declared names; `slots` has signature.slot_count()
// entries. (A plain pointer: with a span the arguments no longer fit the
// registers, and every entry shell would set up a frame for the call it
// rarely makes.)
Outcome<void> bind_fastcall_matching(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames, PyObject** slots);

// Vectorcall form: `nargsf` may carry PY_VECTORCALL_ARGUMENTS_OFFSET; keyword
// values follow the positional ones in `args`. `slots` must have exactly
// signature.slot_count() entries; they receive borrowed references or null.
//
// Every declared parameter is positional-or-keyword and required, so a call
// that passes each of them by position and no keyword binds without any
// check that could fail, and so does a one-parameter call that passes its
// parameter by name; those, the common calls, are settled here inline.
inline Outcome<void> bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames, std::span<PyObject*> slots) {
    if (signature.within_binder_support()) [[likely]] {
        const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
        if (kwnames == nullptr) [[likely]] {
            if (static_cast<std::size_t>(nargs) == slots.size()) {
                for (std::size_t i = 0; i < slots.size(); ++i) {
                    slots[i] = args[i];
                }
                return {};
            }
        } else if (nargs == 0 && slots.size() == 1 && PyTuple_GET_SIZE(kwnames) == 1) {
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, 0);
            Py_ssize_t size = 0;
            const char* data = PyUnicode_Check(keyword) ? utf8_view(keyword, &size) : nullptr;
            if (data != nullptr && std::string_view(data, static_cast<std::size_t>(size)) == signature.positional[0]) {
                slots[0] = args[0];
                return {};
            }
            if (data == nullptr) {
                PyErr_Clear();  // the matcher looks again and reports the name as unexpected
            }
        }
    }
    return bind_fastcall_matching(signature, args, nargsf, kwnames, slots.data());
}

// Tuple-and-dict form, as a tp_new slot receives its arguments (kwargs may be null).
Outcome<void> bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots);

}  // namespace brenvalis::pyfacade
