// An embedding host that finalises the interpreter and starts it again, in one
// process, around the extension built beside it (found through PYTHONPATH,
// and imported as the top-level module `_tolvane_core`).
//
// A restarted main interpreter has the same id as the one before it, while
// everything the old one created is gone; each round imports the module into
// a fresh interpreter and exercises each kind of object the module keeps for
// its owner: the module, the three classes, the interned names behind
// `json.loads`, and the exception class of an internal failure. The checks
// are Python code, so the host itself holds no object references across a
// finalisation. Exit status 0 only if every round passed.
#include <Python.h>

#include <cstdio>

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

// Run with every exit-callback slot of the runtime already taken, so the
// module cannot arrange its reset: the import must be refused, again on a
// second attempt in the same interpreter, leaving nothing half-claimed.
constexpr const char* kImportRefused = R"(
for attempt in range(2):
    try:
        import _tolvane_core
    except ImportError as error:
        assert "Py_AtExit" in str(error), str(error)
    else:
        raise AssertionError(f"import {attempt} was not refused")
)";

void nothing() {}

struct Round {
    const char* what;
    bool exit_slots_taken;
    const char* checks;
};

constexpr Round kRounds[] = {
    {"first interpreter", false, kImportWorks},
    {"restarted interpreter", false, kImportWorks},
    {"restarted, every exit slot taken", true, kImportRefused},
    {"restarted after a refused import", false, kImportWorks},
};

}  // namespace

int main() {
    int failures = 0;
    for (const Round& round : kRounds) {
        Py_Initialize();
        if (round.exit_slots_taken) {
            while (Py_AtExit(&nothing) == 0) {
            }
        }
        const bool passed = PyRun_SimpleString(round.checks) == 0;
        const bool finalised = Py_FinalizeEx() == 0;
        std::printf("%s: %s\n", round.what, passed && finalised ? "ok" : "FAILED");
        std::fflush(stdout);
        failures += passed && finalised ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
