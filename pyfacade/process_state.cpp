#include "pyfacade/process_state.hpp"

namespace brenvalis::pyfacade {

ProcessState& process_state() noexcept {
    // Constant-initialised (atomics and null pointers), so there is no
    // initialisation order to worry about and no destructor at exit.
    static constinit ProcessState state;
    return state;
}

}  // namespace brenvalis::pyfacade
