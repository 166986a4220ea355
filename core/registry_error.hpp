// The error type of the formulas registry.
//
// Registry operations return a value or exactly one RegistryError; nothing in
// the core throws for an expected outcome. Only the lookup produces an error
// (NotFound); the other kinds exist so that the type and its messages are
// complete, and nothing in this library creates them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

namespace brenvalis::core {

class RegistryError {
public:
    enum class Kind : std::uint8_t {
        NotFound = 0,
        DerivationNotImplemented = 1,
        LoadFailed = 2,
        InvalidSchema = 3,
        CyclicDerivation = 4,
        ExpressionParse = 5,
    };

    static RegistryError not_found(std::string_view name);
    static RegistryError derivation_not_implemented(std::string_view name);
    static RegistryError load_failed(std::string_view path, std::error_code source);
    static RegistryError invalid_schema(std::string_view path);
    static RegistryError cyclic_derivation(std::string_view name);
    static RegistryError expression_parse(std::string_view subject, std::string_view message);

    Kind kind() const noexcept { return static_cast<Kind>(detail_.index()); }

    // The carried texts go into the template exactly as given: no quoting,
    // escaping or truncation, so a name with a backtick or a newline shows up
    // in the message as the caller wrote it.
    std::string message() const;
    void append_message(std::string& out) const;

private:
    struct NotFound {
        std::string name;
    };
    struct DerivationNotImplemented {
        std::string name;
    };
    struct LoadFailed {
        std::string path;
        std::error_code source;
    };
    struct InvalidSchema {
        std::string path;
    };
    struct CyclicDerivation {
        std::string name;
    };
    struct ExpressionParse {
        std::string subject;
        std::string message;
    };

    // The alternatives are listed in kind order, so index() is the kind code.
    using Detail =
        std::variant<NotFound, DerivationNotImplemented, LoadFailed, InvalidSchema, CyclicDerivation, ExpressionParse>;

    explicit RegistryError(Detail detail) : detail_(std::move(detail)) {}

    Detail detail_;
};

}  // namespace brenvalis::core
