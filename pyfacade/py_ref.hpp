// The one owning handle for Python object references.
//
// A raw PyObject* anywhere in the facade means a borrowed reference. An owned
// reference lives only inside a PyRef: steal() adopts a new reference that an
// interpreter call returned, borrow() takes a new reference to a borrowed
// object, release() hands a new reference back to the interpreter. There is no
// implicit conversion to PyObject*, so an owned reference cannot leak into a
// borrowed-pointer parameter by accident.
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
    ~PyRef() { Py_XDECREF(ptr_); }

    // Adopts a new reference (null allowed: the handle is then empty).
    [[nodiscard]] static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
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
    PyObject* ptr_ = nullptr;
};

}  // namespace brenvalis::pyfacade
