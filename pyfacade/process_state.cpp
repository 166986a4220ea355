#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {

ProcessState& process_state() noexcept {
    // Constant-initialised (atomics and null pointers), so there is no
    // initialisation order to worry about and no destructor at exit.
    static constinit ProcessState state;
    return state;
}

namespace {

// Runs from Py_FinalizeEx after the interpreter has been torn down: no Python
// API, no reference counting, only plain stores.
void reset_process_state() noexcept {
    static_assert(sizeof(ProcessState) == sizeof(std::atomic<std::int64_t>) + 7 * sizeof(ProcessSlot),
                  "every slot of ProcessState must be forgotten here, or a restarted interpreter gets a dead object");
    ProcessState& state = process_state();
    for (ProcessSlot* slot : {&state.module, &state.formulas_registry_type, &state.quark_registry_type,
                              &state.ckm_matrix_type, &state.panic_exception, &state.json_name, &state.loads_name}) {
        slot->forget();
    }
    state.owner_interpreter.store(-1);
}

}  // namespace

bool reset_process_state_at_finalization() noexcept { return Py_AtExit(&reset_process_state) == 0; }

}  // namespace brenvalis::pyfacade
