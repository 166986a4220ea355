#include "pyfacade/module_functions.hpp"

#include <array>
#include <string>

#include "core/formulas_registry.hpp"
#include "core/internal_failure.hpp"
#include "core/quark_registry.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/guard.hpp"
#include "pyfacade/json_text.hpp"
#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {
namespace {

// ---- Typed bodies: they never see the interpreter's calling convention. ----

Outcome<PyRef> list_constants_impl() { return new_str_list(core::FormulasRegistry::new_().sorted_names()); }

Outcome<PyRef> list_quarks_impl() { return new_str_list(core::QuarkRegistry::standard().sorted_names()); }

Outcome<PyRef> get_constant_impl(std::string_view name) {
    if (name.empty()) {
        core::fail("py_get_constant: name must be non-empty");
    }
    std::string text;
    {
        // The registry lives only for this lookup; it and the record copy are
        // gone before any Python code (json.loads) runs.
        const core::FormulasRegistry registry = core::FormulasRegistry::new_();
        std::expected<core::ConstantRecord, core::RegistryError> record = registry.get(name);
        if (!record) {
            return std::unexpected(key_error(record.error()));
        }
        text.reserve(160);
        write_datasheet(text, *record);
    }

    // Looked up on every call, so a replaced json.loads is honoured.
    const ProcessState& state = process_state();
    PyRef json = PyRef::steal(PyImport_Import(state.json_name.get()));
    if (!json) {
        return fetched_error();
    }
    PyRef text_object = new_str(text);
    std::array<PyObject*, 2> call_args{json.get(), text_object.get()};
    PyRef parsed = PyRef::steal(PyObject_VectorcallMethod(state.loads_name.get(), call_args.data(),
                                                          2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!parsed) {
        return fetched_error();
    }
    return parsed;
}

// ---- Entries the interpreter calls. ----

PyObject* py_list_constants(PyObject*, PyObject*) {
    return guard_object([] { return list_constants_impl(); });
}

PyObject* py_list_quarks(PyObject*, PyObject*) {
    return guard_object([] { return list_quarks_impl(); });
}

PyObject* py_get_constant(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guard_object([&]() -> Outcome<PyRef> {
        std::array<PyObject*, signatures::py_get_constant.slot_count()> slots;
        if (Outcome<void> bound = bind_fastcall(signatures::py_get_constant, args, nargsf, kwnames, slots); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        Outcome<std::string_view> name = text_argument(slots[0], "name");
        if (!name) {
            return std::unexpected(std::move(name.error()));
        }
        return get_constant_impl(*name);
    });
}

}  // namespace

PyMethodDef py_list_constants_def = {"py_list_constants", py_list_constants, METH_NOARGS,
                                     docstrings::py_list_constants};
PyMethodDef py_list_quarks_def = {"py_list_quarks", py_list_quarks, METH_NOARGS, docstrings::py_list_quarks};
PyMethodDef py_get_constant_def = {"py_get_constant",
                                   reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_get_constant)),
                                   METH_FASTCALL | METH_KEYWORDS, docstrings::py_get_constant};

}  // namespace brenvalis::pyfacade
