// Internal failures: the unexpected kind (a broken invariant, an error the
// code treats as impossible), as opposed to expected errors, which are values.
//
// An internal failure is a C++ exception carrying its message and where it was
// raised. Every function the interpreter can call runs its body inside the
// boundary guard, the only place that catches these; so no failure raised
// anywhere in the core can unwind into the interpreter.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace brenvalis::core {

class InternalFailure : public std::exception {
public:
    InternalFailure(std::string message, std::source_location where) : message_(std::move(message)), where_(where) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

[[noreturn]] void fail(std::string_view message, std::source_location where = std::source_location::current());

// For invariants: cheap when they hold, an internal failure when they do not.
inline void require(bool condition, std::string_view message,
                    std::source_location where = std::source_location::current()) {
    if (!condition) [[unlikely]] {
        fail(message, where);
    }
}

}  // namespace brenvalis::core
