#include "pyfacade/module_functions.hpp"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/formulas_registry.hpp"
#include "core/internal_failure.hpp"
#include "core/quark_registry.hpp"
#include "pyfacade/call_signature.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/docstrings.hpp"
#include "pyfacade/entries.hpp"
#include "pyfacade/json_text.hpp"
#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {
namespace {

// Each listing builds its registry, takes the sorted names and drops the
// registry before the list is made.
std::vector<std::string> list_constants_impl() { return core::FormulasRegistry::new_().sorted_names(); }

std::vector<std::string> list_quarks_impl() { return core::QuarkRegistry::standard().sorted_names(); }

// (Forced inline: see the shells in entries.hpp.)
[[gnu::always_inline]] inline Outcome<PyRef> get_constant_impl(std::string_view name) {
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

}  // namespace

PyMethodDef py_list_constants_def = {"py_list_constants", noargs_function<list_constants_impl>, METH_NOARGS,
                                     docstrings::py_list_constants};
PyMethodDef py_list_quarks_def = {"py_list_quarks", noargs_function<list_quarks_impl>, METH_NOARGS,
                                  docstrings::py_list_quarks};
PyMethodDef py_get_constant_def = {"py_get_constant",
                                   as_method(fastcall_function<signatures::py_get_constant, get_constant_impl>),
                                   METH_FASTCALL | METH_KEYWORDS, docstrings::py_get_constant};

}  // namespace brenvalis::pyfacade
