"""Eight threads calling every entry on shared instances, switching constantly.

The module never releases the interpreter lock, but the interpreter may hand
it to another thread between any two bytecodes, and with a switch interval of
a microsecond it does so all the time. Every result is checked in the thread
that got it, and shared instances must come out with the reference counts
they went in with.
"""

import subprocess
import sys
import textwrap
import threading
import traceback

import pytest

from conftest import NAMES, QUARKS, SHEETS, run_python
from brenvalis._tolvane_core import (
    PyCKMMatrix,
    PyFormulasRegistry,
    PyQuarkRegistry,
    py_get_constant,
    py_list_constants,
    py_list_quarks,
)

THREADS = 8
ROUNDS = 60
EXIT_RACE_RUNS = 12



@pytest.fixture
def fast_switching():
    before = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        yield
    finally:
        sys.setswitchinterval(before)


def expect_error(exception, message, function, *args, **kwargs):
    try:
        function(*args, **kwargs)
    except exception as error:
        assert type(error) is exception
        assert error.args == (message,), error.args
        return
    raise AssertionError(f"{function.__name__}{args} did not raise {exception.__name__}")


def run_threads(work):
    """Runs work(index) on THREADS threads that start together; returns the failures."""
    barrier = threading.Barrier(THREADS)
    failures = []

    def thread_main(index):
        try:
            barrier.wait()
            work(index)
        except BaseException:  # noqa: BLE001 - every failure is reported, not just Exceptions
            failures.append(f"thread {index}:\n{traceback.format_exc()}")

    threads = [threading.Thread(target=thread_main, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return failures


def test_every_entry_on_shared_instances(fast_switching):
    registry, quarks, matrix = PyFormulasRegistry(), PyQuarkRegistry(), PyCKMMatrix.from_topology()
    shared = [registry, quarks, matrix, PyFormulasRegistry, PyQuarkRegistry, PyCKMMatrix]
    counts_before = [sys.getrefcount(obj) for obj in shared]
    calls = [0] * THREADS

    def work(index):
        for round_ in range(ROUNDS):
            name = NAMES[(index + round_) % len(NAMES)]
            missing = f"{name}_{index}"
            sheet = py_get_constant(name)
            assert sheet == SHEETS[name] and sheet is not SHEETS[name]
            assert py_get_constant(name=name) == SHEETS[name]
            assert registry.get(name) == SHEETS[name]["value"]
            assert registry.get(name=name) == SHEETS[name]["value"]
            expect_error(KeyError, f"constant `{missing}` not found in registry", registry.get, missing)
            expect_error(KeyError, f"constant `{missing}` not found in registry", py_get_constant, missing)
            expect_error(TypeError, "argument 'name': 'int' object cannot be converted to 'PyString'",
                         registry.get, index)
            expect_error(TypeError, "PyFormulasRegistry.get() got multiple values for argument 'name'",
                         registry.get, name, name=name)
            assert py_list_constants() == NAMES
            assert py_list_quarks() == QUARKS
            assert len(registry) == 17 and bool(registry)
            assert len(quarks) == 0 and not quarks
            assert registry.version() == PyFormulasRegistry.version() == "2.3.0"
            assert len(PyFormulasRegistry()) == 17
            assert len(PyQuarkRegistry()) == 0
            expect_error(TypeError, "No constructor defined for PyCKMMatrix", PyCKMMatrix)
            made = PyCKMMatrix.from_topology()
            assert made is not matrix and made.jarlskog() == 0.0
            assert matrix.is_unitary(round_ * 1e-3) is True
            assert matrix.is_unitary(tol=-1e-12) is False
            assert matrix.is_unitary(float("nan")) is False
            assert matrix.jarlskog() == 0.0
            expect_error(TypeError, "PyCKMMatrix.is_unitary() missing 1 required positional argument: 'tol'",
                         matrix.is_unitary)
            calls[index] += 1

    assert run_threads(work) == []
    assert calls == [ROUNDS] * THREADS
    assert [sys.getrefcount(obj) for obj in shared] == counts_before


def test_first_panics_race_for_one_exception_class():
    # In a fresh process nothing has created PanicException yet, so eight
    # threads failing at once race to create it; all must get the same class,
    # and each failure is reported once on standard error.
    code = textwrap.dedent(
        f"""
        import sys, threading
        from brenvalis._tolvane_core import py_get_constant
        sys.setswitchinterval(1e-6)
        barrier = threading.Barrier({THREADS})
        classes = []
        def fail():
            barrier.wait()
            for _ in range(5):
                try:
                    py_get_constant("")
                except BaseException as e:
                    classes.append((type(e), e.args))
        threads = [threading.Thread(target=fail) for _ in range({THREADS})]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(len(classes), len({{cls for cls, _ in classes}}), {{args for _, args in classes}})
        print(classes[0][0].__name__, classes[0][0].__bases__)
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        f"{THREADS * 5} 1 {{('py_get_constant: name must be non-empty',)}}",
        "PanicException (<class 'BaseException'>,)",
    ]
    reports = [line for line in result.stderr.splitlines() if "internal failure" in line]
    assert len(reports) == THREADS * 5


# Programs whose daemon threads are inside the module, running Python code
# part-way through an entry, when the interpreter exits. On 3.12 and 3.13 such
# a thread is ended by a forced unwind when it next asks for the interpreter
# lock; nothing on its way out may touch a Python object or report a failure.
EXIT_RACE_SETUP = textwrap.dedent(
    """
    import json, sys, threading, time
    import brenvalis._tolvane_core as m
    sys.setswitchinterval(1e-5)

    class Tol:
        def __float__(self):
            return float(sum(range(50)) - 1225)

    class Index:
        def __index__(self):
            return len([x for x in range(50)]) - 50

    class Dying:
        def __del__(self):
            sum(range(100))

    class FailingTol:
        def __float__(self):
            dying = Dying()  # noqa: F841 - released with the error's traceback
            raise TypeError("no float")

    class Keyword(str):
        def __str__(self):
            return "-".join(["kw"] * 20)

    def spin(call):
        def loop():
            while True:
                try:
                    call()
                except (KeyError, TypeError):
                    pass
        return loop
    """
)

# Each case: extra set-up, then the calls that its daemon threads repeat, one
# thread per call.
EXIT_RACE_CASES = {
    "json import and loads": ("", ["m.py_get_constant('b3')", "m.py_get_constant(name='phi')"] * 2),
    "replaced loads": (
        "real_loads = json.loads\njson.loads = lambda text: real_loads(text.replace('b3', 'b' * 30))",
        ["m.py_get_constant('b3')"] * 3,
    ),
    # Each loads call drops sys.modules' reference to the json stand-in the
    # entry holds, so the entry's reference is the last one: releasing it
    # runs __del__, which must not happen on a thread without the lock.
    "json stand-in held only by the entry": (
        textwrap.dedent(
            """
            class JsonStandIn:
                def __init__(self):
                    self.loads = loads
                def __del__(self):
                    sum(range(20))
            def loads(text):
                sys.modules["json"] = JsonStandIn()
                return json.loads(text) if sum(range(500)) else None
            sys.modules["json"] = JsonStandIn()
            """
        ),
        ["m.py_get_constant('b3')"] * 6,
    ),
    "__float__ and __index__ of tol": ("", ["matrix.is_unitary(Tol())", "matrix.is_unitary(tol=Index())"] * 2),
    "__del__ run by releasing a conversion error": ("", ["matrix.is_unitary(FailingTol())"] * 6),
    "__str__ of an unexpected keyword": (
        "", ["registry.get(**{Keyword('key'): 'b3'})", "m.py_get_constant(**{Keyword('k'): 1})"] * 2
    ),
    "every entry at once": ("", [
        "m.py_get_constant('b3')", "matrix.is_unitary(Tol())", "registry.get(**{Keyword('key'): 'b3'})",
        "m.py_list_constants()", "registry.get('B3')", "len(m.PyFormulasRegistry())", "m.PyCKMMatrix.from_topology()",
    ]),
}


@pytest.mark.parametrize("setup, calls", EXIT_RACE_CASES.values(), ids=EXIT_RACE_CASES.keys())
def test_interpreter_exit_with_daemon_threads_inside_the_module(setup, calls):
    lines = [EXIT_RACE_SETUP, "registry = m.PyFormulasRegistry()", "matrix = m.PyCKMMatrix.from_topology()", setup]
    for call in calls:
        lines.append(f"threading.Thread(target=spin(lambda: {call}), daemon=True).start()")
    lines.append("time.sleep(0.02)")
    code = "\n".join(lines)
    runs = [subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            for _ in range(EXIT_RACE_RUNS)]
    outcomes = [(run.communicate(timeout=120), run.returncode) for run in runs]
    failed = [(status, err.decode(errors="replace")[-2000:]) for (out, err), status in outcomes
              if status != 0 or out or err]
    assert failed == [], f"{len(failed)} of {EXIT_RACE_RUNS} runs failed; first: {failed[0]}"
