"""Import, re-import and sub-interpreters."""

import importlib
import sys
import textwrap

import pytest

from conftest import run_python


def test_reimport_returns_the_same_module_object(core):
    core.caller_attribute = "kept"
    try:
        del sys.modules["brenvalis._tolvane_core"]
        again = importlib.import_module("brenvalis._tolvane_core")
        assert again is core
        assert again.caller_attribute == "kept"
        # The body did not run again: __all__ was not extended a second time.
        assert again.__all__.count("py_list_quarks") == 1
    finally:
        sys.modules["brenvalis._tolvane_core"] = core
        del core.caller_attribute


def test_import_in_a_subinterpreter_is_refused_and_the_owner_keeps_working():
    pytest.importorskip("_testcapi")
    import _testcapi

    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("this interpreter has no run_in_subinterp")
    code = textwrap.dedent(
        """
        import os, sys
        import brenvalis._tolvane_core as core
        import _testcapi
        r, w = os.pipe()
        status = _testcapi.run_in_subinterp(f'''
        import os
        try:
            import brenvalis._tolvane_core
            os.write({w}, b"imported")
        except ImportError as e:
            os.write({w}, ("ImportError: " + str(e)).encode())
        ''')
        os.close(w)
        print(os.read(r, 1000).decode())
        print(core.py_list_quarks())
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("ImportError: ")
    assert "sub-interpreters" in lines[0]
    assert lines[1] == "['bottom', 'charm', 'down', 'strange', 'top', 'up']"
