// The binder: matches a caller's arguments against a CallSignature.
//
// Binding yields one borrowed slot per declared parameter: in the common
// calls the caller's own argument array, as it stands, and otherwise a fixed
// array on the entry's stack that the matcher fills. It allocates nothing on
// success: keyword names are compared as UTF-8 bytes against the declared
// names, and every error message is built in a cold function only when
// binding fails.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstring>
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
// entries, which receive borrowed references or null. (A plain pointer: with
// a span the arguments no longer fit the registers, and every entry shell
// would set up a frame for the call it rarely makes.)
Outcome<void> bind_fastcall_matching(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames, PyObject** slots);

// Vectorcall form, the common calls: whether the caller's own `args` array
// holds the bound arguments as they stand, so that the first
// signature.slot_count() entries of `args` can be read as the slots, with
// nothing copied. When it does not, bind_fastcall_matching binds the call
// into slots of the callee's own and reports every error. `nargsf` may
// carry PY_VECTORCALL_ARGUMENTS_OFFSET; keyword values follow the positional
// ones in `args`. It only reads the arguments: it calls nothing, and cannot
// fail.
//
// Every declared parameter is positional-or-keyword and required, so a call
// that passes each of them by position and no keyword binds without any
// check that could fail, and so does a one-parameter call that passes its
// parameter by name, whose value then sits where a positional one would;
// those are the calls settled here. Forced inline, with the signature a
// template argument: the slot count and the parameter's name are then
// constants and the name test a compare of a few bytes, and nothing of it is
// left for an inliner's cost model to refuse (Clang would otherwise keep a
// general form out of line and the keyword branch behind its cold-call
// threshold).
template <const CallSignature& Signature>
[[gnu::always_inline]] inline bool binds_in_place(Py_ssize_t nargsf, PyObject* kwnames) {
    if constexpr (!Signature.within_binder_support()) {
        return false;
    } else {
        const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
        if (kwnames == nullptr) {
            return static_cast<std::size_t>(nargs) == Signature.slot_count();
        }
        if constexpr (Signature.slot_count() == 1) {
            constexpr std::string_view name = Signature.positional[0];
            if (nargs != 0 || PyTuple_GET_SIZE(kwnames) != 1) {
                return false;
            }
            // A name that is not a compact ASCII str (whose characters are
            // its UTF-8 bytes) is left to the matcher.
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, 0);
            return PyUnicode_Check(keyword) && PyUnicode_IS_COMPACT_ASCII(keyword) &&
                   static_cast<std::size_t>(PyUnicode_GET_LENGTH(keyword)) == name.size() &&
                   std::memcmp(PyUnicode_DATA(keyword), name.data(), name.size()) == 0;
        } else {
            return false;
        }
    }
}

// Tuple-and-dict form, as a tp_new slot receives its arguments (kwargs may be null).
Outcome<void> bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots);

}  // namespace brenvalis::pyfacade
