// Declared parameters of the entries that bind arguments, and the binder.
//
// Binding fills one borrowed slot per declared parameter, in a fixed array on
// the caller's stack, and allocates nothing on success: keyword names are
// compared as UTF-8 bytes against the declared names, and every error message
// is built in a cold function only when binding fails.
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

#include "pyfacade/error_value.hpp"

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

// Vectorcall form: `nargsf` may carry PY_VECTORCALL_ARGUMENTS_OFFSET; keyword
// values follow the positional ones in `args`. `slots` must have exactly
// signature.slot_count() entries; they receive borrowed references or null.
Outcome<void> bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                            std::span<PyObject*> slots);

// Tuple-and-dict form, as a tp_new slot receives its arguments (kwargs may be null).
Outcome<void> bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots);

}  // namespace brenvalis::pyfacade
