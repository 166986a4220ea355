// Everything the extension keeps for its owning interpreter, in one place.
//
// Each item is written once per owner and only read afterwards:
//  - owner_interpreter: -1 until an import claims the module; then set by a
//    single compare-and-swap and kept until the runtime is finalised, so any
//    other interpreter is refused. A claim whose reset (below) cannot be
//    arranged is withdrawn at once, by the import that made it.
//  - module: filled by the owner's first successful import, under the
//    interpreter lock.
//  - the three type objects: created on first request, under the interpreter lock.
//  - json_name, loads_name: interned at the owner's first import, before
//    anything uses them.
//  - panic_exception: created on the first internal failure; if two creations
//    ever raced, the first one stored wins and the other is released.
// Objects in these slots are never released: they must outlive every user of
// the module, and a release from a static destructor would run after the
// interpreter has been finalised.
//
// The one way back: when the runtime is finalised (Py_FinalizeEx), every
// item returns to its initial state (owner -1, every slot empty), so that an
// interpreter started afterwards in the same process, which may carry the
// same id, builds everything afresh instead of being handed the dead
// interpreter's objects. The reset runs after the interpreter is gone, so it
// only forgets the objects; they are leaked, never released.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "pyfacade/py_ref.hpp"

namespace brenvalis::pyfacade {

class ProcessSlot {
public:
    // Borrowed; null while the slot is empty.
    PyObject* get() const noexcept { return obj_.load(std::memory_order_acquire); }

    // Stores `candidate` if the slot is empty. Returns the object the slot
    // holds afterwards (borrowed); a losing candidate is released.
    PyObject* set_once(PyRef candidate) noexcept {
        PyObject* expected = nullptr;
        PyObject* raw = candidate.get();
        if (obj_.compare_exchange_strong(expected, raw, std::memory_order_acq_rel)) {
            (void)candidate.release();  // now owned by the slot for the life of the process
            return raw;
        }
        return expected;
    }

    // Empties the slot without releasing its object. Only for the reset after
    // finalisation, when the object belongs to an interpreter that is gone.
    void forget() noexcept { obj_.store(nullptr, std::memory_order_release); }

private:
    std::atomic<PyObject*> obj_{nullptr};
};

struct ProcessState {
    std::atomic<std::int64_t> owner_interpreter{-1};
    ProcessSlot module;
    ProcessSlot formulas_registry_type;
    ProcessSlot quark_registry_type;
    ProcessSlot ckm_matrix_type;
    ProcessSlot panic_exception;
    // Interned names for the per-call `json.loads` lookup, made at first import.
    ProcessSlot json_name;
    ProcessSlot loads_name;
};

ProcessState& process_state() noexcept;

// Arranges the reset of the whole state for when the runtime is finalised
// (Py_AtExit). The runtime forgets its exit callbacks as it runs them, so
// each import that claims the module for a new owner must call this again.
// False when the runtime has no free callback slot.
bool reset_process_state_at_finalization() noexcept;

}  // namespace brenvalis::pyfacade
