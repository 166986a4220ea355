// The boundary guard: every function the interpreter can call enters here.
//
// Each entry hands its body to one of the guard functions below, which hold
// the only try/catch of the facade. A body returns an Outcome: a value becomes
// the interpreter's result, an ErrorValue is raised, and an internal failure
// (a C++ exception) is reported on standard error and raised as
// PanicException. A failure that happens while a failure is being handled
// cannot be turned into anything sane: the process aborts with a diagnostic
// instead of unwinding into C.
//
// One unwind is not a failure and passes untouched: the forced unwind with
// which glibc's pthread_exit ends a thread. The interpreter (3.12, 3.13) ends
// a daemon thread that way when it asks for the interpreter lock after
// finalisation has begun, and that can happen inside any entry that runs
// Python code part-way (json.loads, a __float__, a keyword's __str__). The
// thread no longer holds the lock then, so nothing on the way out may touch a
// Python object (PyRef sees to its references), and no frame it crosses may
// be noexcept, or the unwind would end the whole process instead of the
// thread. That is why the entries and the guard are not noexcept.
//
// Nor may a handler on its way catch it. A catch-all handler does, under
// both C++ runtimes the module is built with, and only libstdc++ can throw
// it on again: libc++abi's rethrow starts it anew as an ordinary exception,
// which finds no handler and terminates the process. So the guard's handlers
// name std::exception, which every failure the module raises and everything
// its C++ runtime throws derive from, and the thread-exit unwind, which is
// no std::exception under either runtime, passes them by as it passes a
// destructor.
#pragma once

#include <Python.h>

#include <cstdint>
#include <exception>
#include <utility>

#include "pyfacade/error_value.hpp"
#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

namespace detail {

// How many guarded entries this thread is inside. The interpreter calls every
// entry with its lock held, so this also records that the thread holds it.
extern constinit thread_local std::uint32_t guard_depth;

// The thread's counter is looked up once per entry: in a module loaded with
// dlopen each lookup is a call into the dynamic loader. GCC and Clang treat a
// thread-local's address as cheap to recompute and would look it up again on
// the way out; passing the pointer through an empty asm statement makes it
// an opaque value that they keep instead.
class DepthScope {
public:
    DepthScope() noexcept : depth_(&guard_depth) {
#if defined(__GNUC__)
        asm("" : "+r"(depth_));
#endif
        ++*depth_;
    }
    ~DepthScope() { --*depth_; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;

private:
    std::uint32_t* depth_;
};

// Called from the guard's handler: turns the in-flight C++ exception into a
// raised PanicException (after the failure report), or aborts if that fails
// too.
void raise_internal_failure();

// A length that does not fit the signed size: OverflowError with no argument.
void raise_length_overflow();

}  // namespace detail

// Entries that return an object (functions, methods, __new__, module init).
template <class Body>
PyObject* guard_object(Body&& body) {
    detail::DepthScope depth;
    try {
        Outcome<PyRef> outcome = std::forward<Body>(body)();
        if (outcome) {
            return outcome->release();
        }
        std::move(outcome.error()).raise();
    } catch (const std::exception&) {
        detail::raise_internal_failure();
    }
    return nullptr;
}

// Mapping-length slots: -1 with an exception set on failure.
template <class Body>
Py_ssize_t guard_length(Body&& body) {
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
    } catch (const std::exception&) {
        detail::raise_internal_failure();
    }
    return -1;
}

// Deallocation has no caller to hand an exception to: a failure is reported
// through the interpreter's unraisable-exception hook and the process goes on.
// An exception that was already pending when dealloc started is kept.
void report_unraisable_internal_failure();

template <class Body>
void guard_dealloc(Body&& body) {
    detail::DepthScope depth;
    try {
        std::forward<Body>(body)();
    } catch (const std::exception&) {
        report_unraisable_internal_failure();
    }
}

// Result objects the interpreter failed to create. The pending exception is
// printed (which clears it) and the entry ends with the internal failure
// "Python API call failed". Inline: every result of every entry passes here.
[[noreturn]] void fail_result_creation();

inline PyRef checked_result(PyObject* new_reference) {
    if (new_reference == nullptr) [[unlikely]] {
        fail_result_creation();
    }
    return PyRef::steal(new_reference);
}

}  // namespace brenvalis::pyfacade
