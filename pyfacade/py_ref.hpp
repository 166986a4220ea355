// The one owning handle for Python object references.
//
// A raw PyObject* anywhere in the facade means a borrowed reference. An owned
// reference lives only inside a PyRef: steal() adopts a new reference that an
// interpreter call returned, borrow() takes a new reference to a borrowed
// object, release() hands a new reference back to the interpreter. There is no
// implicit conversion to PyObject*, so an owned reference cannot leak into a
// borrowed-pointer parameter by accident.
//
// A handle only gives its reference back while the thread holds the
// interpreter lock. The one way a handle dies without it is the forced unwind
// of a daemon thread that the interpreter ends at exit (on 3.12 and 3.13 it
// calls pthread_exit when such a thread asks for the lock back): the objects
// then belong to an interpreter that is being torn down by another thread,
// and the reference is left alone rather than raced over. For the same
// reason the destructor may itself be unwound (a decref that runs a __del__
// can be where the thread is ended), so it is not noexcept.
#pragma once

#include <Python.h>

#include <utility>

namespace brenvalis::pyfacade {

class PyRef {
public:
    constexpr PyRef() noexcept = default;
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    ~PyRef() noexcept(false) {
        if (ptr_ != nullptr && lock_held()) [[likely]] {
            Py_DECREF(ptr_);
        }
    }

    // Adopts a new reference (null allowed: the handle is then empty).
    [[nodiscard]] static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
    // A reference to an immortal object (True, False, None): from 3.12 on the
    // interpreter never moves their counts, and its own Py_RETURN_TRUE hands
    // them out without an increment, as this does.
    [[nodiscard]] static PyRef immortal(PyObject* obj) noexcept { return PyRef(obj); }
    // Adds a reference to a borrowed object (null allowed).
    [[nodiscard]] static PyRef borrow(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return PyRef(obj);
    }

    PyObject* get() const noexcept { return ptr_; }
    // Gives up ownership: the caller now owns the new reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    void swap(PyRef& other) noexcept { std::swap(ptr_, other.ptr_); }

private:
    explicit PyRef(PyObject* obj) noexcept : ptr_(obj) {}

    // A thread holds the lock exactly when it has a thread state attached;
    // waiting for the lock (or being ended while waiting) detaches it.
    static bool lock_held() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
        return PyThreadState_GetUnchecked() != nullptr;
#else
        return _PyThreadState_UncheckedGet() != nullptr;
#endif
    }

    PyObject* ptr_ = nullptr;
};

}  // namespace brenvalis::pyfacade
