// The boundary guard: every function the interpreter can call enters here.
//
// Each entry is noexcept and hands its body to one of the guard functions
// below, which hold the only try/catch of the facade. A body returns an
// Outcome: a value becomes the interpreter's result, an ErrorValue is raised,
// and an internal failure (a C++ exception) is reported on standard error and
// raised as PanicException. A failure that happens while a failure is being
// handled cannot be turned into anything sane: the process aborts with a
// diagnostic instead of unwinding into C.
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

#include "pyfacade/error_value.hpp"
#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

namespace detail {

// How many guarded entries this thread is inside. The interpreter calls every
// entry with its lock held, so this also records that the thread holds it.
// initial-exec keeps the access to one instruction on the hot path.
extern thread_local std::uint32_t guard_depth __attribute__((tls_model("initial-exec")));

struct DepthScope {
    DepthScope() noexcept { ++guard_depth; }
    ~DepthScope() { --guard_depth; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;
};

// Called from a catch block: turns the in-flight C++ exception into a raised
// PanicException (after the failure report), or aborts if that fails too.
void raise_internal_failure() noexcept;

// A length that does not fit the signed size: OverflowError with no argument.
void raise_length_overflow() noexcept;

}  // namespace detail

// Entries that return an object (functions, methods, __new__, module init).
template <class Body>
PyObject* guard_object(Body&& body) noexcept {
    detail::DepthScope depth;
    try {
        Outcome<PyRef> outcome = std::forward<Body>(body)();
        if (outcome) {
            return outcome->release();
        }
        std::move(outcome.error()).raise();
    } catch (...) {
        detail::raise_internal_failure();
    }
    return nullptr;
}

// Mapping-length slots: -1 with an exception set on failure.
template <class Body>
Py_ssize_t guard_length(Body&& body) noexcept {
    detail::DepthScope depth;
    try {
        Outcome<std::uint64_t> outcome = std::forward<Body>(body)();
        if (outcome) {
            if (*outcome > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) {
                detail::raise_length_overflow();
                return -1;
            }
            return static_cast<Py_ssize_t>(*outcome);
        }
        std::move(outcome.error()).raise();
    } catch (...) {
        detail::raise_internal_failure();
    }
    return -1;
}

// Deallocation has no caller to hand an exception to: a failure is reported
// through the interpreter's unraisable-exception hook and the process goes on.
// An exception that was already pending when dealloc started is kept.
void report_unraisable_internal_failure() noexcept;

template <class Body>
void guard_dealloc(Body&& body) noexcept {
    detail::DepthScope depth;
    try {
        std::forward<Body>(body)();
    } catch (...) {
        report_unraisable_internal_failure();
    }
}

// Result objects the interpreter failed to create. The pending exception is
// printed (which clears it) and the entry ends with the internal failure
// "Python API call failed".
PyRef checked_result(PyObject* new_reference);

}  // namespace brenvalis::pyfacade
