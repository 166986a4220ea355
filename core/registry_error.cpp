#include "core/registry_error.hpp"

#include <type_traits>

namespace brenvalis::core {

RegistryError RegistryError::not_found(std::string_view name) { return RegistryError(NotFound{std::string(name)}); }
RegistryError RegistryError::derivation_not_implemented(std::string_view name) {
    return RegistryError(DerivationNotImplemented{std::string(name)});
}
RegistryError RegistryError::load_failed(std::string_view path, std::error_code source) {
    return RegistryError(LoadFailed{std::string(path), source});
}
RegistryError RegistryError::invalid_schema(std::string_view path) {
    return RegistryError(InvalidSchema{std::string(path)});
}
RegistryError RegistryError::cyclic_derivation(std::string_view name) {
    return RegistryError(CyclicDerivation{std::string(name)});
}
RegistryError RegistryError::expression_parse(std::string_view subject, std::string_view message) {
    return RegistryError(ExpressionParse{std::string(subject), std::string(message)});
}

void RegistryError::append_message(std::string& out) const {
    std::visit(
        [&out](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, NotFound>) {
                out.append("constant `").append(e.name).append("` not found in registry");
            } else if constexpr (std::is_same_v<E, DerivationNotImplemented>) {
                out.append("derivation of `").append(e.name).append("` is not yet implemented in tolvane_core");
            } else if constexpr (std::is_same_v<E, LoadFailed>) {
                out.append("failed to load constants from `").append(e.path).append("`: ").append(e.source.message());
            } else if constexpr (std::is_same_v<E, InvalidSchema>) {
                out.append("invalid JSON schema in `").append(e.path).append("`");
            } else if constexpr (std::is_same_v<E, CyclicDerivation>) {
                out.append("cyclic derivation involving `").append(e.name).append("`");
            } else {
                static_assert(std::is_same_v<E, ExpressionParse>);
                out.append("expression parse error in `").append(e.subject).append("`: ").append(e.message);
            }
        },
        detail_);
}

std::string RegistryError::message() const {
    std::string out;
    append_message(out);
    return out;
}

}  // namespace brenvalis::core
