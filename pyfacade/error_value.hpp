// A Python exception that an entry is about to raise.
//
// Errors are values inside the facade, the same way registry errors are values
// in the core: a body returns Outcome<T> and only the boundary guard turns the
// error into the interpreter's current exception. Most errors are held lazily
// (type plus message text) so that the exception object and its str are built
// only when the error is really raised.
#pragma once

#include <Python.h>

#include <expected>
#include <memory>
#include <string>

#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

class ErrorValue {
public:
    // `type` is borrowed; the error keeps its own reference.
    static ErrorValue with_message(PyObject* type, std::string message);
    static ErrorValue with_argument(PyObject* type, PyRef argument);
    static ErrorValue without_argument(PyObject* type);
    static ErrorValue from_exception(PyRef exception);

    // After an interpreter call reported failure: takes the pending exception,
    // or a SystemError when the interpreter failed without setting one.
    static ErrorValue fetch();

    // Sets the error as the interpreter's current exception.
    void raise() && { raise_detail(*detail_); }

    // The exception object itself (created now if it was held lazily); null
    // only if creating it failed, and then that failure's exception is
    // returned instead.
    PyRef into_exception() &&;

private:
    // Everything an error holds lives behind one pointer, made only when there
    // is an error: an Outcome is then two words, and a success moves and drops
    // it at the cost of a null pointer.
    struct Detail;

    // Frees an error's detail out of line. Tearing it down (two references
    // and a text) is long: inline, every Outcome's destructor would carry it,
    // and Clang then keeps those destructors out of line even where nothing
    // failed. Called with the pointer, as raise_detail is with the detail,
    // it never needs the error's own address, so a compiler may keep an
    // Outcome in registers where nothing fails.
    struct DetailDeleter {
        void operator()(Detail* detail) const noexcept;
    };
    using DetailPtr = std::unique_ptr<Detail, DetailDeleter>;

    explicit ErrorValue(DetailPtr detail) : detail_(std::move(detail)) {}
    static ErrorValue make(PyRef type, PyRef object, std::string message, bool has_message);

    static void raise_detail(Detail& detail);

    DetailPtr detail_;
};

// std::expected and std::unique_ptr destroy their contents in noexcept
// destructors, through which the forced unwind of a thread ending at exit
// cannot pass (see guard.hpp). So an Outcome's value or error is always handed
// on, released to the interpreter or raised, and never dropped while it could
// hold the last reference to a caller's object (whose release may run Python
// code); such references are dropped from plain PyRefs.
template <class T>
using Outcome = std::expected<T, ErrorValue>;

// Hands a failed outcome's error on to the caller, whatever its value type:
// `if (!bound) return propagate(bound);`
template <class T>
std::unexpected<ErrorValue> propagate(Outcome<T>& failed) {
    return std::unexpected(std::move(failed.error()));
}

inline std::unexpected<ErrorValue> error(PyObject* type, std::string message) {
    return std::unexpected(ErrorValue::with_message(type, std::move(message)));
}

inline std::unexpected<ErrorValue> fetched_error() { return std::unexpected(ErrorValue::fetch()); }

}  // namespace brenvalis::pyfacade
