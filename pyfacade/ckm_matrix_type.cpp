// PyCKMMatrix: built only by from_topology(); the constructor refuses.
#include <Python.h>

#include <string>

#include "core/ckm_matrix.hpp"
#include "core/internal_failure.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/entries.hpp"
#include "pyfacade/instance.hpp"

namespace brenvalis::pyfacade {
namespace {

using Matrix = core::CKMMatrix;

// Arguments are not looked at: there is no way to construct one directly.
PyObject* ckm_new(PyTypeObject* type, PyObject*, PyObject*) {
    return guard_object(
        [&]() -> Outcome<PyRef> { return std::unexpected(type_error_naming(type, "No constructor defined for %U")); });
}

[[gnu::cold]] std::string describe_pending(ErrorValue error) {
    PyRef exception = std::move(error).into_exception();
    PyRef text = PyRef::steal(exception ? PyObject_Repr(exception.get()) : nullptr);
    Py_ssize_t size = 0;
    const char* data = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return "<unprintable exception>";
    }
    return std::string(data, static_cast<std::size_t>(size));
}

Outcome<PyRef> from_topology_impl() {
    PyTypeObject* type = existing_type(&ckm_matrix_type, "PyCKMMatrix");
    Outcome<PyRef> made = new_instance(type, Matrix::from_topology());
    if (!made) {
        // Allocating a 100-byte object is not expected to fail; when it
        // does, the interpreter is in no state to continue normally.
        core::fail("an operation expected to succeed returned an error: " + describe_pending(std::move(made.error())));
    }
    return made;
}

// (Forced inline: see the shells in entries.hpp.)
[[gnu::always_inline]] inline bool is_unitary_impl(const Matrix& matrix, double tol) { return matrix.is_unitary(tol); }

double jarlskog_impl(const Matrix& matrix) { return matrix.jarlskog(); }

PyMethodDef methods[] = {
    {"from_topology", noargs_function<from_topology_impl>, METH_NOARGS | METH_STATIC, docstrings::from_topology},
    {"is_unitary",
     as_method(fastcall_method<Matrix, ckm_matrix_type, signatures::ckm_matrix_is_unitary, is_unitary_impl>),
     METH_FASTCALL | METH_KEYWORDS, docstrings::is_unitary},
    {"jarlskog", noargs_method<Matrix, ckm_matrix_type, jarlskog_impl>, METH_NOARGS, docstrings::jarlskog},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(docstrings::ckm_matrix)},
    {Py_tp_dealloc, as_slot(dealloc_instance<Matrix>)},
    {Py_tp_new, as_slot(ckm_new)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PyCKMMatrix", static_cast<int>(sizeof(Instance<Matrix>)), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

Outcome<PyObject*> ckm_matrix_type() { return type_from_slot(process_state().ckm_matrix_type, spec); }

}  // namespace brenvalis::pyfacade
