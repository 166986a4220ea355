// The layout and lifetime of an instance that wraps one core value.
//
// The core value sits inside the object, right after the interpreter's header
// and a flag. It is constructed in place right after allocation and destroyed
// before the memory is freed; the reference to the type goes last, because
// freeing needs the type. Instances hold no Python references, so the types
// are not GC-tracked and take no part in cycle collection.
//
// An instance may exist whose value was never built: the classes keep the
// interpreter's default flags, so they are mutable, and a caller can replace
// `__new__` with one that calls `object.__new__`, which hands out zero-filled
// memory. The flag reads false there (it is set only after construction), so
// methods and lengths refuse such an instance with a TypeError and
// deallocation destroys nothing.
//
// A method or length slot holds its own reference to the receiver while it
// runs, so the value cannot be destroyed under a running call even if the
// call's Python code (a user __float__, say) were to drop the caller's last
// reference. The values are immutable, so nothing else is needed for any
// number of calls to share one instance.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
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
    bool built;  // false until `value` is constructed, and forever in zero-filled memory
    Value value;
};

// "PyQuarkRegistry object has no value: ...", for an instance never built.
ErrorValue unbuilt_instance_error(PyObject* self);

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
    instance->built = true;
    return object;
}

template <class Value>
void dealloc_instance(PyObject* self) {
    guard_dealloc([self] {
        PyTypeObject* type = Py_TYPE(self);
        auto* instance = reinterpret_cast<Instance<Value>*>(self);
        if (instance->built) {
            std::destroy_at(&instance->value);
        }
        auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_object(self);
        Py_DECREF(type);
    });
}

// The receiver of a method or length slot, held for the length of one call.
template <class Value>
class Receiver {
public:
    static Outcome<Receiver> take(PyObject* self, Outcome<PyObject*> (*type_of)()) {
        Outcome<PyObject*> type = type_of();
        if (!type) {
            return std::unexpected(std::move(type.error()));
        }
        if (!PyType_IsSubtype(Py_TYPE(self), reinterpret_cast<PyTypeObject*>(*type))) [[unlikely]] {
            return std::unexpected(conversion_error(self, reinterpret_cast<PyTypeObject*>(*type)->tp_name));
        }
        if (!reinterpret_cast<Instance<Value>*>(self)->built) [[unlikely]] {
            return std::unexpected(unbuilt_instance_error(self));
        }
        return Receiver(PyRef::borrow(self));
    }

    const Value& value() const noexcept { return reinterpret_cast<Instance<Value>*>(self_.get())->value; }

private:
    explicit Receiver(PyRef self) : self_(std::move(self)) {}

    PyRef self_;
};

// Runs `body` on the receiver's value while the call holds the receiver.
template <class Value, class Body>
auto with_receiver(PyObject* self, Outcome<PyObject*> (*type_of)(), Body&& body)
    -> decltype(body(std::declval<const Value&>())) {
    Outcome<Receiver<Value>> receiver = Receiver<Value>::take(self, type_of);
    if (!receiver) {
        return std::unexpected(std::move(receiver.error()));
    }
    return std::forward<Body>(body)(receiver->value());
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
