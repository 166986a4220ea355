// Everything the extension keeps for the life of the process, in one place.
//
// Each item is written once and only read afterwards:
//  - owner_interpreter: -1 until the first import; then set by a single
//    compare-and-swap and never changed, so a second interpreter is refused.
//  - module: filled by the first successful import, under the interpreter lock.
//  - the three type objects: created on first request, under the interpreter lock.
//  - json_name, loads_name: interned at the first import, before anything uses them.
//  - panic_exception: created on the first internal failure; if two creations
//    ever raced, the first one stored wins and the other is released.
// Objects in these slots are never released. They must outlive every user of
// the module, and a release from a static destructor would run after the
// interpreter has been finalised.
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

}  // namespace brenvalis::pyfacade
