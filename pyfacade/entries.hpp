// The shells of the functions the interpreter calls.
//
// Every entry is one instantiation of a template below, named in a method or
// slot table together with its signature and its typed body (the `_impl`):
//
//     {"get", as_method(fastcall_method<Registry, formulas_registry_type,
//                                       signatures::formulas_registry_get, get_impl>), ...}
//
// The shell does the same work for every entry, in this order: enter the
// guard; bind the arguments against the signature; take the receiver; convert
// each bound argument to the type the body declares for it, in declared
// order; call the body; turn what it returns into the interpreter's result.
// The body never sees args, nargs or kwnames, and states its parameters and
// result as C++ types:
//
//     std::string_view  a text argument (str, read through its UTF-8 view)
//     double            a binary64 argument (float, or __float__/__index__)
//
//     double -> float, bool -> True/False, std::string_view -> str,
//     std::vector<std::string> -> list of str, std::uint64_t -> a length,
//     PyRef -> itself; inside std::expected<T, core::RegistryError> (a
//     KeyError) or Outcome<T> (any error) as well.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/registry_error.hpp"
#include "pyfacade/binder.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/error_value.hpp"
#include "pyfacade/guard.hpp"
#include "pyfacade/instance.hpp"
#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

// ---- Arguments: from a bound object to the type a body declares. ----

template <class T>
struct Argument;

// Each has the inline common case (`quick`, false when it does not apply)
// and the full conversion.
template <>
struct Argument<std::string_view> {
    static bool quick(PyObject* obj, std::string_view& value) { return quick_text_argument(obj, value); }
    static Outcome<std::string_view> convert(PyObject* obj, const char* param) { return text_argument(obj, param); }
};

template <>
struct Argument<double> {
    static bool quick(PyObject* obj, double& value) { return quick_double_argument(obj, value); }
    static Outcome<double> convert(PyObject* obj, const char* param) { return double_argument(obj, param); }
};

// ---- Results: from what a body returns to the interpreter's result. ----

inline Outcome<PyRef> to_result(PyRef&& object) { return std::move(object); }
inline Outcome<PyRef> to_result(double value) { return new_float(value); }
inline Outcome<PyRef> to_result(bool value) { return PyRef::immortal(value ? Py_True : Py_False); }
inline Outcome<PyRef> to_result(std::string_view text) { return new_str(text); }
inline Outcome<PyRef> to_result(const std::vector<std::string>& items) { return new_str_list(items); }

template <class T>
Outcome<PyRef> to_result(std::expected<T, core::RegistryError>&& result) {
    if (!result) [[unlikely]] {
        return std::unexpected(key_error(result.error()));
    }
    return to_result(std::move(*result));
}

template <class T>
Outcome<PyRef> to_result(Outcome<T>&& result) {
    if (!result) {
        return propagate(result);
    }
    return to_result(std::move(*result));
}

namespace detail {

template <class Function>
struct Parameters;

template <class Result, class... Params>
struct Parameters<Result (*)(Params...)> {
    using Types = std::tuple<std::remove_cvref_t<Params>...>;
};

template <auto Impl>
using ParameterTypes = typename Parameters<decltype(Impl)>::Types;

// Converts the bound arguments one at a time, in declared order, and calls
// the body with whatever it was given first (the receiver's value) followed
// by the converted arguments. The first conversion that fails ends the call.
//
// Forced inline, so that the conversions' common cases and the body land in
// the entry itself: nothing of the way from the arguments to the result is
// left to a call.
template <const CallSignature& Signature, auto Impl, class... Ready>
[[gnu::always_inline]] inline Outcome<PyRef> convert_and_call(std::span<PyObject* const> slots, Ready&&... ready) {
    using Params = ParameterTypes<Impl>;
    constexpr std::size_t done = sizeof...(Ready);
    constexpr std::size_t leading = std::tuple_size_v<Params> - Signature.slot_count();
    static_assert(std::tuple_size_v<Params> >= Signature.slot_count(), "the body takes fewer arguments than bound");
    if constexpr (done == std::tuple_size_v<Params>) {
        return to_result(Impl(std::forward<Ready>(ready)...));
    } else {
        constexpr std::size_t slot = done - leading;
        using Param = std::tuple_element_t<done, Params>;
        Param value{};
        if (!Argument<Param>::quick(slots[slot], value)) [[unlikely]] {
            Outcome<Param> converted = Argument<Param>::convert(slots[slot], Signature.positional[slot].data());
            if (!converted) {
                return propagate(converted);
            }
            value = *converted;
        }
        return convert_and_call<Signature, Impl>(slots, std::forward<Ready>(ready)..., value);
    }
}

}  // namespace detail

// ---- Entry shells. ----

using TypeGetter = Outcome<PyObject*> (*)();

// METH_NOARGS module function or static method: `Impl()`.
template <auto Impl>
PyObject* noargs_function(PyObject*, PyObject*) {
    return guard_object([] { return to_result(Impl()); });
}

// The two shells that bind arguments go two ways. A call whose arguments
// the caller's array already holds as bound (see binds_in_place), on a
// receiver that built_receiver accepts, enters the guard with just the
// receiver's value and that array. Every other call goes to the shell in
// full below, which binds through the matcher (into slots of its own) and
// checks the receiver in full, in that order, and reports what fails. The
// tests that choose the way only read the arguments and the receiver:
// nothing that could fail, raise or run Python code happens before the
// guard is entered. The short way makes, tests and destroys no Outcome, and
// keeps little alive across the guard's entry, so the entry's frame stays
// small. With the shell in full a second caller of the body, neither
// compiler inlines a body of some size into the short way by itself any
// more, so the bodies of these entries are declared always_inline.

namespace detail {

template <const CallSignature& Signature, auto Impl>
[[gnu::noinline]] PyObject* fastcall_function_in_full(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guard_object([&]() -> Outcome<PyRef> {
        BoundSlots<Signature> slots;
        if (Outcome<void> matched = bind_fastcall_matching(Signature, args, nargsf, kwnames, slots.data()); !matched) {
            return propagate(matched);
        }
        return convert_and_call<Signature, Impl>(slots);
    });
}

template <class Value, TypeGetter TypeOf, const CallSignature& Signature, auto Impl>
[[gnu::noinline]] PyObject* fastcall_method_in_full(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                                    PyObject* kwnames) {
    return guard_object([&]() -> Outcome<PyRef> {
        BoundSlots<Signature> slots;
        PyObject* const* bound = args;
        if (!binds_in_place<Signature>(nargsf, kwnames)) {
            if (Outcome<void> matched = bind_fastcall_matching(Signature, args, nargsf, kwnames, slots.data());
                !matched) {
                return propagate(matched);
            }
            bound = slots.data();
        }
        Outcome<const Value*> value = receiver_value<Value>(self, TypeOf);
        if (!value) {
            return propagate(value);
        }
        return convert_and_call<Signature, Impl>(std::span(bound, slots.size()), **value);
    });
}

}  // namespace detail

// METH_FASTCALL | METH_KEYWORDS module function: `Impl(converted arguments...)`.
template <const CallSignature& Signature, auto Impl>
PyObject* fastcall_function(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    if (!binds_in_place<Signature>(nargsf, kwnames)) [[unlikely]] {
        return detail::fastcall_function_in_full<Signature, Impl>(args, nargsf, kwnames);
    }
    return guard_object([args] {
        return detail::convert_and_call<Signature, Impl>(
            std::span<PyObject* const, Signature.slot_count()>(args, Signature.slot_count()));
    });
}

// METH_NOARGS instance method: `Impl(value)`.
template <class Value, TypeGetter TypeOf, auto Impl>
PyObject* noargs_method(PyObject* self, PyObject*) {
    return guard_object([self]() -> Outcome<PyRef> {
        const Value* value = built_receiver<Value>(self);
        if (value == nullptr) [[unlikely]] {
            Outcome<const Value*> checked = receiver_value<Value>(self, TypeOf);
            if (!checked) {
                return propagate(checked);
            }
            value = *checked;
        }
        return to_result(Impl(*value));
    });
}

// METH_FASTCALL | METH_KEYWORDS instance method: `Impl(value, converted arguments...)`.
template <class Value, TypeGetter TypeOf, const CallSignature& Signature, auto Impl>
PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    const Value* value = built_receiver<Value>(self);
    if (value == nullptr || !binds_in_place<Signature>(nargsf, kwnames)) [[unlikely]] {
        return detail::fastcall_method_in_full<Value, TypeOf, Signature, Impl>(self, args, nargsf, kwnames);
    }
    return guard_object([value, args] {
        return detail::convert_and_call<Signature, Impl>(
            std::span<PyObject* const, Signature.slot_count()>(args, Signature.slot_count()), *value);
    });
}

// Py_mp_length of a class whose value counts its entries.
template <class Value, TypeGetter TypeOf>
Py_ssize_t length_slot(PyObject* self) {
    return guard_length([self]() -> Outcome<std::uint64_t> {
        const Value* value = built_receiver<Value>(self);
        if (value == nullptr) [[unlikely]] {
            Outcome<const Value*> checked = receiver_value<Value>(self, TypeOf);
            if (!checked) {
                return propagate(checked);
            }
            value = *checked;
        }
        return value->len();
    });
}

// Py_tp_new of a class whose value is made from nothing: refuses any argument
// through the binder, then makes the value and the instance around it.
template <class Value, const CallSignature& Signature, Value (*Make)()>
PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_object([&]() -> Outcome<PyRef> {
        BoundSlots<Signature> slots;
        if (Outcome<void> bound = bind_tuple_dict(Signature, args, kwargs, slots); !bound) {
            return propagate(bound);
        }
        return new_instance(type, Make());
    });
}

// Method tables store every entry as a PyCFunction; the flags beside it say
// which calling convention it really has.
template <class Function>
PyCFunction as_method(Function* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Type slot tables store every slot function as a void*.
template <class Function>
void* as_slot(Function* function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace brenvalis::pyfacade
