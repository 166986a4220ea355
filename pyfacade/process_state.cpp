#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {

ProcessState& process_state() noexcept {
    // Constant-initialised (atomics and null pointers), so there is no
    // initialisation order to worry about and no destructor at exit.
    static constinit ProcessState state;
    return state;
}

namespace {

// ProcessState's shape as reset_process_state knows it, tail padding and all
// (a 32-bit machine pads seven 4-byte slots after the 8-byte atomic). A slot
// added to ProcessState makes it larger than this on the 64-bit machines.
struct KnownProcessState {
    std::atomic<std::int64_t> owner_interpreter;
    ProcessSlot slots[7];
};

// Runs from Py_FinalizeEx after the interpreter has been torn down: no Python
// API, no reference counting, only plain stores.
void reset_process_state() noexcept {
    static_assert(sizeof(ProcessState) == sizeof(KnownProcessState),
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
