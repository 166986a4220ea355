"""Allocation failures: each allocation of a call made to fail, one at a time.

_testcapi.set_nomemory(k, k + 1) makes exactly the (k+1)-th allocation of
the interpreter's allocators fail. Sweeping k over every allocation of a call
drives the module through each of its "the interpreter could not make an
object" paths, which nothing else can reach. Whatever fails, the caller must
get a Python exception of a documented kind (or the right value, when the
failed allocation was one the interpreter could do without); never a crash,
never a wrong answer. Each sweep runs in a fresh interpreter, so a failure
cannot disturb the test process.

The sweep over k ends once many allocations in a row were made to fail
without any effect: the call no longer allocates that many times.
"""

import json
import textwrap

import pytest

from conftest import run_python

testcapi = pytest.importorskip("_testcapi")
if not hasattr(testcapi, "set_nomemory"):
    pytest.skip("this interpreter cannot make allocations fail", allow_module_level=True)

PANIC = "PanicException"
# Calls whose results come from the interpreter's caches (small ints, the
# float free list, True and False), so there is no allocation to fail.
ALLOCATES_NOTHING = {"REG.get('v_higgs_mev')", "len(REG)", "MATRIX.is_unitary(0.25)", "MATRIX.jarlskog()"}
NO_RESULT_OBJECT = "Python API call failed"

SWEEP = textwrap.dedent(
    """
    import _testcapi

    def attempt(call, k, failures=1):
        # Nothing may allocate between set_nomemory and the call, or between
        # the call and remove_mem_hooks, or the failure would hit this code.
        # The entry is called straight from this frame: a Python frame that
        # an exception unwinds needs a frame object, and CPython 3.12 drops
        # the propagating exception when it cannot allocate one.
        function, args, kwargs = call
        _testcapi.set_nomemory(k, k + failures)
        try:
            result = function(*args, **kwargs)
        except BaseException as error:
            _testcapi.remove_mem_hooks()
            return ["raised", type(error).__name__, [str(a) for a in error.args]]
        _testcapi.remove_mem_hooks()
        shown = repr(result) if type(result) in (str, float, bool, int, list, dict) else None
        length = len(result) if hasattr(type(result), "__len__") else None
        return ["returned", type(result).__name__, shown, length]

    def sweep(call, clean, failures=1, quiet_run=60, limit=5000):
        outcomes, quiet, k = [], 0, 0
        while quiet < quiet_run and k < limit:
            outcome = attempt(call, k, failures)
            outcomes.append(outcome)
            quiet = quiet + 1 if outcome == clean else 0
            k += 1
        return outcomes
    """
)


def run_sweeps(body: str) -> dict:
    result = run_python(SWEEP + textwrap.dedent(body))
    assert result.returncode == 0, result.stderr[-3000:]
    return json.loads(result.stdout.splitlines()[-1])


def test_every_entry_survives_each_failed_allocation():
    outcomes = run_sweeps(
        """
        import json
        from brenvalis._tolvane_core import *
        REG = PyFormulasRegistry()
        MATRIX = PyCKMMatrix.from_topology()
        try:
            py_get_constant("")  # PanicException exists before the sweeps start
        except BaseException:
            pass
        calls = {
            "py_list_constants()": (py_list_constants, (), {}),
            "py_list_quarks()": (py_list_quarks, (), {}),
            "py_get_constant('b3')": (py_get_constant, ("b3",), {}),
            "py_get_constant('B3')": (py_get_constant, ("B3",), {}),
            "py_get_constant(5)": (py_get_constant, (5,), {}),
            "py_get_constant(surrogate)": (py_get_constant, ("\\ud800",), {}),
            "REG.get('v_higgs_mev')": (REG.get, ("v_higgs_mev",), {}),
            "REG.get('B3')": (REG.get, ("B3",), {}),
            "REG.get(kx=1)": (REG.get, (), {"kx": 1}),
            "REG.get('b3', name=1)": (REG.get, ("b3",), {"name": 1}),
            "REG.get(1, 2)": (REG.get, (1, 2), {}),
            "REG.get()": (REG.get, (), {}),
            "REG.version()": (REG.version, (), {}),
            "len(REG)": (len, (REG,), {}),
            "PyFormulasRegistry()": (PyFormulasRegistry, (), {}),
            "PyQuarkRegistry()": (PyQuarkRegistry, (), {}),
            "PyFormulasRegistry(1)": (PyFormulasRegistry, (1,), {}),
            "PyCKMMatrix()": (PyCKMMatrix, (), {}),
            "PyCKMMatrix.from_topology()": (PyCKMMatrix.from_topology, (), {}),
            "MATRIX.is_unitary(0.25)": (MATRIX.is_unitary, (0.25,), {}),
            "MATRIX.is_unitary('x')": (MATRIX.is_unitary, ("x",), {}),
            "MATRIX.jarlskog()": (MATRIX.jarlskog, (), {}),
        }
        results = {}
        for name, call in calls.items():
            clean = attempt(call, 10**9)
            # One failed allocation, then two in a row: the second hits the
            # code that handles the first.
            results[name] = {"clean": clean, "sweep": sweep(call, clean) + sweep(call, clean, failures=2)}
        print(json.dumps(results))
        """
    )
    assert len(outcomes) == 22
    memory_error = ["raised", "MemoryError", []]
    for name, runs in outcomes.items():
        clean = runs["clean"]
        allowed = [clean, memory_error]
        if clean[0] == "returned" and not name.startswith(("len", "MATRIX.is_unitary", "PyFormulasRegistry(",
                                                             "PyQuarkRegistry(")):
            # The result object (a str, a float, a list or a str in it) could not be made.
            allowed.append(["raised", PANIC, [NO_RESULT_OBJECT]])
        if name == "PyCKMMatrix.from_topology()":
            # The text of the exception may fail to be made as well.
            allowed += [["raised", PANIC, [f"an operation expected to succeed returned an error: {text}"]]
                        for text in ("MemoryError()", "<unprintable exception>")]
        if name == "py_get_constant(5)":
            # The type's name is itself an object that may fail to be made.
            allowed.append(["raised", "TypeError", ["argument 'name': '<failed to extract type name>' object "
                                                    "cannot be converted to 'PyString'"]])
        seen = {json.dumps(outcome) for outcome in runs["sweep"]}
        unexpected = seen - {json.dumps(outcome) for outcome in allowed}
        assert not unexpected, (name, clean, unexpected)
        assert runs["sweep"][-1] == clean
        if name not in ALLOCATES_NOTHING:
            assert seen != {json.dumps(clean)}, f"no failure reached {name}"
    from_topology = {json.dumps(outcome) for outcome in outcomes["PyCKMMatrix.from_topology()"]["sweep"]}
    for text in ("MemoryError()", "<unprintable exception>"):
        expected = ["raised", PANIC, [f"an operation expected to succeed returned an error: {text}"]]
        assert json.dumps(expected) in from_topology, from_topology


def test_import_survives_each_failed_allocation_and_can_be_retried():
    # The module is created by the first import in a process, so every k gets
    # a fresh process: a fork of one that has not loaded it yet. The import
    # entry is called straight through ctypes, so that only its own work is
    # swept: CPython 3.13.0's import machinery itself crashes when some of its
    # bookkeeping allocations fail.
    outcomes = run_sweeps(
        """
        import ctypes, glob, json, os, sys, sysconfig
        # Found without importing the package, whose __init__ would load it.
        path, = glob.glob(os.path.join(sysconfig.get_paths()["platlib"], "brenvalis", "_tolvane_core.*.so"))
        assert "brenvalis" not in sys.modules
        init = ctypes.PyDLL(path).PyInit__tolvane_core
        init.restype = ctypes.py_object
        ALL = ["PyFormulasRegistry", "PyQuarkRegistry", "PyCKMMatrix", "py_list_constants",
               "py_list_quarks", "py_get_constant", "__version__"]

        def import_twice(k):
            first = attempt((init, (), {}), k)
            try:
                module = init()
                second = [module.__all__ == ALL, module.py_list_quarks()[0], module.py_get_constant("b3")["value"],
                          len(module.PyFormulasRegistry())]
            except BaseException as error:
                second = ["raised", repr(error)]
            return (first if first[0] == "raised" else ["returned"]), second

        def in_child(k):
            sys.stdout.flush()
            read_end, write_end = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(read_end)
                os.write(write_end, json.dumps(import_twice(k)).encode())
                os.close(write_end)
                sys.exit(0)  # a normal exit, so that coverage counters are written
            os.close(write_end)
            data = b""
            while chunk := os.read(read_end, 65536):
                data += chunk
            os.close(read_end)
            _, status = os.waitpid(pid, 0)
            return [json.loads(data or "null"), os.waitstatus_to_exitcode(status)]

        clean, quiet, k, results = None, 0, 0, []
        while quiet < 60 and k < 5000:
            outcome = in_child(k)
            results.append(outcome)
            clean = clean or (outcome if outcome[0] and outcome[0][0] == ["returned"] else None)
            quiet = quiet + 1 if outcome == clean else 0
            k += 1
        print(json.dumps(results))
        """
    )
    works = [True, "bottom", 24.0, 17]
    allowed_first = [
        ["returned"],
        ["raised", "MemoryError", []],
        ["raised", PANIC, ["could not append __name__ to __all__"]],
        # Type creation in CPython 3.12 can fail without setting an exception
        # (the copy of the type's name); the module reports that as it must.
        ["raised", "SystemError", ["attempted to fetch exception but none was set"]],
    ]
    failures = 0
    for k, (pair, status) in enumerate(outcomes):
        assert status == 0, (k, pair)
        first, second = pair
        assert first in allowed_first, (k, first)
        # Whatever the first import left behind, the next one gives a whole module.
        assert second == works, (k, first, second)
        failures += first != ["returned"]
    assert failures >= 20  # the sweep did reach the module's own allocations
    assert outcomes[-1] == [[["returned"], works], 0]


def test_first_panic_when_its_exception_class_cannot_be_made():
    # PanicException is created at the first internal failure of a process.
    # If that creation fails, there is no sane exception left to raise: the
    # process must stop with the boundary's diagnostic, never crash silently
    # or raise something else.
    outcomes = run_sweeps(
        """
        import json, os, sys
        from brenvalis._tolvane_core import py_get_constant

        def in_child(k):
            sys.stdout.flush()
            sys.stderr.flush()
            read_end, write_end = os.pipe()
            err_read, err_write = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(read_end)
                os.close(err_read)
                os.dup2(err_write, 2)
                outcome = attempt((py_get_constant, ("",), {}), k)
                os.write(write_end, json.dumps(outcome).encode())
                sys.exit(0)
            os.close(write_end)
            os.close(err_write)
            data = b""
            while chunk := os.read(read_end, 65536):
                data += chunk
            os.close(read_end)
            err = b""
            while chunk := os.read(err_read, 65536):
                err += chunk
            os.close(err_read)
            _, status = os.waitpid(pid, 0)
            return [json.loads(data or "null"), os.waitstatus_to_exitcode(status), err.decode(errors="replace")]

        clean = ["raised", "PanicException", ["py_get_constant: name must be non-empty"]]
        quiet, k, results = 0, 0, []
        while quiet < 60 and k < 5000:
            outcome = in_child(k)
            results.append(outcome)
            quiet = quiet + 1 if outcome[0] == clean else 0
            k += 1
        print(json.dumps(results))
        """
    )
    aborted = 0
    for k, (outcome, status, err) in enumerate(outcomes):
        if outcome is None:
            # The process stopped itself, with the diagnostic, by abort().
            assert status == -6, (k, status, err)
            assert "uncaught panic at ffi boundary: Failed to initialize new exception type." in err, (k, err)
            aborted += 1
        else:
            assert status == 0, (k, outcome, err)
            assert outcome in (["raised", PANIC, ["py_get_constant: name must be non-empty"]],
                               ["raised", "MemoryError", []]), (k, outcome)
    assert aborted >= 5
    assert outcomes[-1][0] == ["raised", PANIC, ["py_get_constant: name must be non-empty"]]
