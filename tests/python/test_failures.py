"""Internal failures: PanicException, the failure report and standard error."""

import textwrap

import pytest

from conftest import run_python
from brenvalis._tolvane_core import PyFormulasRegistry, py_get_constant


def catch_panic():
    try:
        py_get_constant("")
    except BaseException as e:  # noqa: BLE001 - PanicException is a BaseException on purpose
        return e
    raise AssertionError("no exception")


def test_empty_name_raises_panic_exception():
    first = catch_panic()
    cls = type(first)
    assert cls.__name__ == cls.__qualname__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert cls.__module__ == "_brenvalis_runtime"
    assert "BaseException" in cls.__doc__
    assert first.args == ("py_get_constant: name must be non-empty",)
    assert type(catch_panic()) is cls  # one class for the whole process
    import brenvalis._tolvane_core as core

    assert "PanicException" not in vars(core)


def test_panic_is_not_caught_by_except_exception():
    with pytest.raises(BaseException) as info:
        try:
            py_get_constant(name="")
        except Exception:  # noqa: BLE001
            pytest.fail("PanicException was caught as an Exception")
    assert type(info.value).__name__ == "PanicException"


def test_method_get_has_no_empty_name_check():
    with pytest.raises(KeyError) as info:
        PyFormulasRegistry().get("")
    assert info.value.args == ("constant `` not found in registry",)


def test_standard_error_carries_only_the_failure_report():
    code = textwrap.dedent(
        """
        import sys
        from brenvalis._tolvane_core import *
        from brenvalis._tolvane_core import PyFormulasRegistry, PyCKMMatrix, py_get_constant
        print("BEGIN", file=sys.stderr, flush=True)
        bad = [lambda: py_get_constant(), lambda: py_get_constant(3), lambda: py_get_constant("B3"),
               lambda: py_get_constant("\\ud800"), lambda: PyFormulasRegistry().get("x"),
               lambda: PyCKMMatrix(), lambda: PyCKMMatrix.from_topology().is_unitary("x"),
               lambda: py_get_constant("a`b\\nc\\0")]
        for call in bad:
            try:
                call()
            except Exception:
                pass
        print("MIDDLE", file=sys.stderr, flush=True)
        try:
            py_get_constant("")
        except BaseException as e:
            print(type(e).__name__, e.args, flush=True)
        print("END", file=sys.stderr, flush=True)
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "PanicException ('py_get_constant: name must be non-empty',)"
    err = result.stderr.splitlines()
    assert err[0] == "BEGIN" and err[1] == "MIDDLE" and err[-1] == "END"
    report = err[2:-1]
    assert len(report) == 1
    assert "internal failure" in report[0]
    assert "py_get_constant: name must be non-empty" in report[0]
    assert "module_functions.cpp:" in report[0]


def test_uncaught_panic_ends_the_interpreter_with_a_traceback():
    result = run_python("from brenvalis._tolvane_core import py_get_constant\npy_get_constant('')\n")
    assert result.returncode != 0
    assert "PanicException: py_get_constant: name must be non-empty" in result.stderr
