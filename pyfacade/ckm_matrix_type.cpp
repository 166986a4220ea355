// PyCKMMatrix: built only by from_topology(); the constructor refuses.
#include <Python.h>

#include <array>
#include <string>

#include "core/ckm_matrix.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/classes.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/instance.hpp"

namespace brenvalis::pyfacade {
namespace {

using Matrix = core::CKMMatrix;

[[gnu::cold]] ErrorValue no_constructor(PyTypeObject* type) {
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) {
        return ErrorValue::fetch();
    }
    PyRef message = PyRef::steal(PyUnicode_FromFormat("No constructor defined for %U", name.get()));
    if (!message) {
        return ErrorValue::fetch();
    }
    return ErrorValue::with_argument(PyExc_TypeError, std::move(message));
}

// Arguments are not looked at: there is no way to construct one directly.
PyObject* ckm_new(PyTypeObject* type, PyObject*, PyObject*) {
    return guard_object([&]() -> Outcome<PyRef> { return std::unexpected(no_constructor(type)); });
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

PyObject* ckm_from_topology(PyObject*, PyObject*) {
    return guard_object([]() -> Outcome<PyRef> {
        PyTypeObject* type = existing_type(&ckm_matrix_type, "PyCKMMatrix");
        Outcome<PyRef> made = new_instance(type, Matrix::from_topology());
        if (!made) {
            // Allocating a 100-byte object is not expected to fail; when it
            // does, the interpreter is in no state to continue normally.
            core::fail("an operation expected to succeed returned an error: " +
                       describe_pending(std::move(made.error())));
        }
        return made;
    });
}

PyObject* ckm_is_unitary(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guard_object([&]() -> Outcome<PyRef> {
        std::array<PyObject*, signatures::ckm_matrix_is_unitary.slot_count()> slots;
        if (Outcome<void> bound = bind_fastcall(signatures::ckm_matrix_is_unitary, args, nargsf, kwnames, slots);
            !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        return with_receiver<Matrix>(self, &ckm_matrix_type, [&](const Matrix& matrix) -> Outcome<PyRef> {
            Outcome<double> tol = double_argument(slots[0], "tol");
            if (!tol) {
                return std::unexpected(std::move(tol.error()));
            }
            return PyRef::borrow(matrix.is_unitary(*tol) ? Py_True : Py_False);
        });
    });
}

PyObject* ckm_jarlskog(PyObject* self, PyObject*) {
    return guard_object([self] {
        return with_receiver<Matrix>(self, &ckm_matrix_type, [](const Matrix& matrix) -> Outcome<PyRef> {
            return new_float(matrix.jarlskog());
        });
    });
}

PyMethodDef methods[] = {
    {"from_topology", ckm_from_topology, METH_NOARGS | METH_STATIC, docstrings::from_topology},
    {"is_unitary", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ckm_is_unitary)),
     METH_FASTCALL | METH_KEYWORDS, docstrings::is_unitary},
    {"jarlskog", ckm_jarlskog, METH_NOARGS, docstrings::jarlskog},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(docstrings::ckm_matrix)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Matrix>)},
    {Py_tp_new, reinterpret_cast<void*>(ckm_new)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.PyCKMMatrix", static_cast<int>(sizeof(Instance<Matrix>)), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

Outcome<PyObject*> ckm_matrix_type() { return type_from_slot(process_state().ckm_matrix_type, spec); }

}  // namespace brenvalis::pyfacade
