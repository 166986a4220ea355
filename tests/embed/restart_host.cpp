// An embedding host that finalises the interpreter and starts it again, in one
// process, around the extension built beside it (found through PYTHONPATH,
// and imported as the top-level module `_tolvane_core`).
//
// A restarted main interpreter has the same id as the one before it, while
// everything the old one created is gone; each round imports the module into
// a fresh interpreter and exercises each kind of object the module keeps for
// its owner: the module, the three classes, the interned names behind
// `json.loads`, and the exception class of an internal failure. Other rounds
// refuse the import (no exit-callback slot left for the reset, or a
// sub-interpreter owns the module), and the round after each must again get
// a working module. The checks are Python code, so the host itself holds no
// object references across a finalisation. Exit status 0 only if every round
// passed.
#include <Python.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kImportWorks = R"(
import sys
import _tolvane_core as core

names = core.py_list_constants()
assert len(names) == 17 and names[0] == "b3", names
assert core.py_get_constant("b3")["value"] == 24.0
assert core.PyFormulasRegistry().get("phi") == 1.618033988749895
assert len(core.PyQuarkRegistry()) == 0
assert core.PyCKMMatrix.from_topology().is_unitary(0.0) is True
assert core.py_list_quarks() == ["bottom", "charm", "down", "strange", "top", "up"]
try:
    core.py_get_constant("")
except BaseException as error:
    assert type(error).__name__ == "PanicException" and not isinstance(error, Exception), repr(error)
else:
    raise AssertionError("the empty name raised nothing")
del sys.modules["_tolvane_core"]
import _tolvane_core as again
assert again is core
)";

// The import must be refused with a message that contains `reason`, and
// again on a second attempt in the same interpreter: a refusal must leave no
// half-made claim behind for a retry to use.
constexpr const char* kImportRefused = R"(
for attempt in range(2):
    try:
        import _tolvane_core
    except ImportError as error:
        assert reason in str(error), str(error)
    else:
        raise AssertionError(f"import {attempt} was not refused")
)";

void nothing() {}

// Which interpreter a single-phase init function runs in when a legacy
// sub-interpreter imports first: up to 3.12 the sub-interpreter itself, which
// so becomes the owner; from 3.13 on the main interpreter first, which so
// becomes the owner before the sub-interpreter's own run of it is refused.
constexpr bool kSubinterpreterOwns = PY_VERSION_HEX < 0x030D0000;

struct Round {
    const char* what;
    // Every exit-callback slot of the runtime taken first, so that the
    // module cannot arrange its reset.
    bool exit_slots_taken;
    // Run first in a legacy sub-interpreter that then ends, if not null.
    const char* subinterpreter_checks;
    const char* checks;
    const char* reason;  // for kImportRefused
};

constexpr Round kRounds[] = {
    {"first interpreter", false, nullptr, kImportWorks, ""},
    {"restarted interpreter", false, nullptr, kImportWorks, ""},
    {"every exit slot taken", true, nullptr, kImportRefused, "Py_AtExit"},
    {"restarted after a refused import", false, nullptr, kImportWorks, ""},
    {"a sub-interpreter imported first", false, kSubinterpreterOwns ? kImportWorks : kImportRefused,
     kSubinterpreterOwns ? kImportRefused : kImportWorks, "sub-interpreters"},
    {"restarted after a sub-interpreter imported", false, nullptr, kImportWorks, ""},
};

bool run_checks(const Round& round, const char* checks) {
    const std::string set_reason = std::string("reason = '") + round.reason + "'";
    return PyRun_SimpleString(set_reason.c_str()) == 0 && PyRun_SimpleString(checks) == 0;
}

bool run_in_subinterpreter(const Round& round) {
    PyThreadState* main_thread = PyThreadState_Get();
    PyThreadState* sub = Py_NewInterpreter();
    if (sub == nullptr) {
        return false;
    }
    const bool passed = run_checks(round, round.subinterpreter_checks);
    Py_EndInterpreter(sub);
    PyThreadState_Swap(main_thread);
    return passed;
}

}  // namespace

int main() {
    int failures = 0;
    for (const Round& round : kRounds) {
        Py_Initialize();
        if (round.exit_slots_taken) {
            while (Py_AtExit(&nothing) == 0) {
            }
        }
        const bool passed =
            (round.subinterpreter_checks == nullptr || run_in_subinterpreter(round)) && run_checks(round, round.checks);
        const bool finalised = Py_FinalizeEx() == 0;
        std::printf("%s: %s\n", round.what, passed && finalised ? "ok" : "FAILED");
        std::fflush(stdout);
        failures += passed && finalised ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
