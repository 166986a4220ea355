#include "pyfacade/guard.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "core/internal_failure.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {

namespace detail {
constinit thread_local std::uint32_t guard_depth = 0;
}

namespace {

constexpr const char* kGenericFailure = "internal failure in brenvalis._tolvane_core (no message)";

[[noreturn]] void abort_with(const char* what) noexcept {
    std::fprintf(stderr, "brenvalis: uncaught panic at ffi boundary: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void write_report(const std::string& message, const char* file, unsigned line) noexcept {
    std::fprintf(stderr, "brenvalis: internal failure at %s:%u: %s\n", file, line, message.c_str());
    std::fflush(stderr);
}

// The exception class an internal failure becomes, created on first use.
PyObject* panic_exception_type() {
    ProcessSlot& slot = process_state().panic_exception;
    if (PyObject* existing = slot.get()) {
        return existing;
    }
    PyRef created = PyRef::steal(PyErr_NewExceptionWithDoc("_brenvalis_runtime.PanicException",
                                                           docstrings::panic_exception, PyExc_BaseException, nullptr));
    if (!created) {
        PyErr_Clear();
        core::fail("Failed to initialize new exception type.");
    }
    return slot.set_once(std::move(created));
}

// Reports the failure and raises PanicException with its message. May throw
// (creating the class can fail); the caller treats that as fatal.
void raise_panic(const std::string& message, const char* file, unsigned line) {
    write_report(message, file, line);
    ErrorValue::with_message(panic_exception_type(), message).raise();
}

void raise_current_exception_as_panic() {
    try {
        throw;
    } catch (const core::InternalFailure& failure) {
        raise_panic(failure.message().empty() ? std::string(kGenericFailure) : failure.message(),
                    failure.where().file_name(), failure.where().line());
    } catch (const std::bad_alloc&) {
        // Running out of memory ends the process, as everywhere else in the
        // library; there is no meaningful way to continue half-built.
        abort_with("memory allocation failed");
    } catch (const std::exception& other) {
        raise_panic(*other.what() ? std::string(other.what()) : std::string(kGenericFailure), "<unknown>", 0);
    }
}

}  // namespace

namespace detail {

void raise_internal_failure() {
    try {
        raise_current_exception_as_panic();
    } catch (const std::exception& nested) {
        abort_with(nested.what());
    }
}

void raise_length_overflow() { ErrorValue::without_argument(PyExc_OverflowError).raise(); }

}  // namespace detail

void report_unraisable_internal_failure() {
    PyRef pending = PyRef::steal(PyErr_GetRaisedException());
    detail::raise_internal_failure();
    PyErr_WriteUnraisable(nullptr);
    PyErr_SetRaisedException(pending.release());
}

[[gnu::cold]] void fail_result_creation() {
    PyErr_Print();
    core::fail("Python API call failed");
}

}  // namespace brenvalis::pyfacade
