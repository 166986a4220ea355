// The layout and lifetime of an instance that wraps one core value.
//
// The core value sits inside the object, right after the interpreter's header.
// It is constructed in place right after allocation and destroyed before the
// memory is freed; the reference to the type goes last, because freeing needs
// the type. Instances hold no Python references, so the types are not
// GC-tracked and take no part in cycle collection.
//
// While a method or the length slot runs, the instance is "in shared use": its
// counter is one higher and the method holds its own reference, so the value
// cannot be destroyed under a running method even if the method's code were
// to drop the caller's last reference. Nothing ever takes exclusive use (the
// values are immutable), so the counter never refuses anyone.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "core/internal_failure.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/error_value.hpp"
#include "pyfacade/guard.hpp"
#include "pyfacade/process_state.hpp"
#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

template <class Value>
struct Instance {
    PyObject_HEAD
    Value value;
    std::uint64_t shared_uses;
};

inline constexpr std::uint64_t kExclusiveUse = std::numeric_limits<std::uint64_t>::max();

// A new instance of `type` holding `value`. On allocation failure the value is
// dropped and the interpreter's exception is returned.
template <class Value>
Outcome<PyRef> new_instance(PyTypeObject* type, Value&& value) {
    static_assert(std::is_nothrow_move_constructible_v<std::remove_cvref_t<Value>>,
                  "construction after allocation must not fail, or dealloc would destroy a value never built");
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef object = PyRef::steal((alloc != nullptr ? alloc : PyType_GenericAlloc)(type, 0));
    if (!object) {
        return fetched_error();
    }
    auto* instance = reinterpret_cast<Instance<std::remove_cvref_t<Value>>*>(object.get());
    std::construct_at(&instance->value, std::forward<Value>(value));
    instance->shared_uses = 0;
    return object;
}

template <class Value>
void dealloc_instance(PyObject* self) {
    guard_dealloc([self] {
        PyTypeObject* type = Py_TYPE(self);
        std::destroy_at(&reinterpret_cast<Instance<Value>*>(self)->value);
        auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_object(self);
        Py_DECREF(type);
    });
}

// Shared use of a receiver for the length of one call.
template <class Value>
class SharedUse {
public:
    static Outcome<SharedUse> take(PyObject* self, Outcome<PyObject*> (*type_of)()) {
        Outcome<PyObject*> type = type_of();
        if (!type) {
            return std::unexpected(std::move(type.error()));
        }
        if (!PyType_IsSubtype(Py_TYPE(self), reinterpret_cast<PyTypeObject*>(*type))) [[unlikely]] {
            return std::unexpected(conversion_error(self, reinterpret_cast<PyTypeObject*>(*type)->tp_name));
        }
        auto* instance = reinterpret_cast<Instance<Value>*>(self);
        core::require(instance->shared_uses != kExclusiveUse, "object is in exclusive use");
        ++instance->shared_uses;
        return SharedUse(PyRef::borrow(self));
    }

    SharedUse(SharedUse&& other) noexcept = default;
    SharedUse& operator=(SharedUse&&) = delete;
    ~SharedUse() {
        if (self_) {
            --instance()->shared_uses;
        }
    }

    const Value& value() const noexcept { return instance()->value; }

private:
    explicit SharedUse(PyRef self) : self_(std::move(self)) {}
    Instance<Value>* instance() const noexcept { return reinterpret_cast<Instance<Value>*>(self_.get()); }

    PyRef self_;
};

// Runs `body` on the receiver's value while the receiver is in shared use.
template <class Value, class Body>
auto with_receiver(PyObject* self, Outcome<PyObject*> (*type_of)(), Body&& body)
    -> decltype(body(std::declval<const Value&>())) {
    Outcome<SharedUse<Value>> use = SharedUse<Value>::take(self, type_of);
    if (!use) {
        return std::unexpected(std::move(use.error()));
    }
    return std::forward<Body>(body)(use->value());
}

// The tp_new of a class built from nothing: refuses any argument through the
// binder, then makes its value and the instance around it.
template <class Value, const CallSignature& Signature, Value (*Make)()>
PyObject* new_without_arguments(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_object([&]() -> Outcome<PyRef> {
        std::array<PyObject*, Signature.slot_count()> slots;
        if (Outcome<void> bound = bind_tuple_dict(Signature, args, kwargs, slots); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        return new_instance(type, Make());
    });
}

// The mapping-length slot of a class whose value counts its entries.
template <class Value, Outcome<PyObject*> (*TypeOf)()>
Py_ssize_t length_of(PyObject* self) {
    return guard_length([self] {
        return with_receiver<Value>(self, TypeOf,
                                    [](const Value& value) -> Outcome<std::uint64_t> { return value.len(); });
    });
}

// The type object of a class, created from its spec on first request.
Outcome<PyObject*> type_from_slot(ProcessSlot& slot, PyType_Spec& spec);

// For code that runs after import and so can count on the type existing: a
// failure here is an internal failure, after the interpreter's exception has
// been printed.
PyTypeObject* existing_type(Outcome<PyObject*> (*type_of)(), const char* class_name);

}  // namespace brenvalis::pyfacade
