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
// A method or length slot borrows its receiver: the interpreter's calling
// convention has the caller own it for the whole call, so it outlives the
// call whatever the call's Python code (a user __float__, say) does. The
// values are immutable, so nothing else is needed for any number of calls to
// share one instance.
#pragma once

#include <Python.h>

#include <memory>
#include <type_traits>
#include <utility>

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

// A TypeError whose message is `format` with the type's __name__ in place of
// its one %U.
ErrorValue type_error_naming(PyTypeObject* type, const char* format);

// "PyQuarkRegistry object has no value: ...", for an instance never built.
inline ErrorValue unbuilt_instance_error(PyObject* self) {
    return type_error_naming(Py_TYPE(self),
                             "%U object has no value: it was created without the class's own constructor");
}

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

// The value of the receiver of a method or length slot, when the receiver is
// an instance of this very class that its constructor built; null otherwise,
// and receiver_value then looks closer. An object whose deallocation is this
// class's is laid out as Instance<Value>, which settles the type check with
// one comparison. Forced inline, like the binder's common case: it is a few
// loads and two tests on every method call.
template <class Value>
[[gnu::always_inline]] inline const Value* built_receiver(PyObject* self) {
    const auto* instance = reinterpret_cast<const Instance<Value>*>(self);
    if (Py_TYPE(self)->tp_dealloc == &dealloc_instance<Value> && instance->built) [[likely]] {
        return &instance->value;
    }
    return nullptr;
}

// The value of any receiver, for the calls built_receiver leaves open:
// anything that is not laid out as this class's instance goes through the
// full subtype test (which the interpreter's own receiver check makes sure
// passes), and an instance never built is refused.
template <class Value>
[[gnu::noinline]] Outcome<const Value*> receiver_value(PyObject* self, Outcome<PyObject*> (*type_of)()) {
    if (Py_TYPE(self)->tp_dealloc != &dealloc_instance<Value>) {
        Outcome<PyObject*> type = type_of();
        if (!type) {
            return propagate(type);
        }
        if (!PyType_IsSubtype(Py_TYPE(self), reinterpret_cast<PyTypeObject*>(*type))) {
            return std::unexpected(conversion_error(self, reinterpret_cast<PyTypeObject*>(*type)->tp_name));
        }
    }
    const auto* instance = reinterpret_cast<const Instance<Value>*>(self);
    if (!instance->built) {
        return std::unexpected(unbuilt_instance_error(self));
    }
    return &instance->value;
}

// The type object of a class, created from its spec on first request.
Outcome<PyObject*> type_from_slot(ProcessSlot& slot, PyType_Spec& spec);

// For code that runs after import and so can count on the type existing: a
// failure here is an internal failure, after the interpreter's exception has
// been printed.
PyTypeObject* existing_type(Outcome<PyObject*> (*type_of)(), const char* class_name);

}  // namespace brenvalis::pyfacade
