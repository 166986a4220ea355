// Declared parameters of the entries that bind arguments: one constant
// signature per entry, which the binder (binder.hpp) matches the caller's
// arguments against and whose names the binder's messages use.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace brenvalis::pyfacade {

struct KeywordOnlyParameter {
    std::string_view name;
    bool required;
};

struct CallSignature {
    const char* owner;  // class name, or nullptr for a module function
    const char* function;
    std::span<const std::string_view> positional;
    std::size_t positional_only;
    std::size_t required;
    std::span<const KeywordOnlyParameter> keyword_only;

    constexpr std::size_t slot_count() const { return positional.size() + keyword_only.size(); }

    // The binder handles what the module's entries declare: positional-or-
    // keyword parameters, all of them required. A signature beyond that (a
    // positional-only or keyword-only parameter, an optional one) would need
    // the binder extended first; the static_asserts below keep that from
    // slipping through unnoticed.
    constexpr bool within_binder_support() const {
        return positional_only == 0 && keyword_only.empty() && required == positional.size();
    }
};

namespace signatures {

// Parameter names are string literals, so each view ends in a NUL that the
// conversion messages rely on.
inline constexpr std::string_view kName[] = {"name"};
inline constexpr std::string_view kTol[] = {"tol"};

inline constexpr CallSignature py_get_constant{nullptr, "py_get_constant", kName, 0, 1, {}};
inline constexpr CallSignature formulas_registry_get{"PyFormulasRegistry", "get", kName, 0, 1, {}};
inline constexpr CallSignature ckm_matrix_is_unitary{"PyCKMMatrix", "is_unitary", kTol, 0, 1, {}};
inline constexpr CallSignature formulas_registry_new{"PyFormulasRegistry", "__new__", {}, 0, 0, {}};
inline constexpr CallSignature quark_registry_new{"PyQuarkRegistry", "__new__", {}, 0, 0, {}};

static_assert(py_get_constant.within_binder_support());
static_assert(formulas_registry_get.within_binder_support());
static_assert(ckm_matrix_is_unitary.within_binder_support());
static_assert(formulas_registry_new.within_binder_support());
static_assert(quark_registry_new.within_binder_support());

}  // namespace signatures

}  // namespace brenvalis::pyfacade
