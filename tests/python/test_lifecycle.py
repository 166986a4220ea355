"""Import, re-import and sub-interpreters."""

import ast
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


def test_the_extension_keeps_exactly_one_reference_to_its_module():
    # Every reference to the module is held either by an object the cycle
    # collector can list (sys.modules, the package, the interpreter's table of
    # single-phase modules, the functions bound to the module, these globals)
    # or out of its sight; out of sight there must be exactly the extension's
    # own reference, after the first import and after each re-import. An
    # import entry that hands back a reference too few leaves none.
    code = textwrap.dedent(
        """
        import gc, importlib, sys
        import brenvalis
        import brenvalis._tolvane_core as core

        def unaccounted(obj):
            seen = 0
            for holder in gc.get_referrers(obj):
                seen += gc.get_referents(holder).count(obj)
            return sys.getrefcount(obj) - seen

        # Held by these globals alone. What the measuring call itself holds
        # (its parameter, getrefcount's argument) differs between versions
        # (3.14 stopped counting a parameter), so the module is measured
        # against this object, whose references are all in sight, passed
        # the same way.
        control = object()

        def out_of_sight():
            return unaccounted(core) - unaccounted(control)

        print("imported", out_of_sight())
        for cycle in range(3):
            del sys.modules["brenvalis._tolvane_core"]
            del brenvalis._tolvane_core
            print("removed", out_of_sight())
            again = importlib.import_module("brenvalis._tolvane_core")
            print("imported", out_of_sight(), again is core, brenvalis._tolvane_core is core)
            del again
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["imported 1"] + ["removed 1", "imported 1 True True"] * 3


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


# What a statement may load is all its caller pays for at start-up: the
# package loads each name's home module only when the name is first asked for.
# Measured in a fresh interpreter against what it had loaded before the
# statement, since some interpreter versions load typing or others themselves.
HEAVY = {"typing", "argparse", "json", "brenvalis._catalogue", "brenvalis._tables", "brenvalis._tolvane_core"}
CLI = "from brenvalis.__main__ import main; main"


@pytest.mark.parametrize(
    "statement, loads, never",
    [
        ("import brenvalis", {"brenvalis"}, HEAVY),
        ("import brenvalis._tolvane_core", {"brenvalis._tolvane_core"}, HEAVY - {"brenvalis._tolvane_core"}),
        ("brenvalis.PyFormulasRegistry().get('b3')", {"brenvalis._tolvane_core"}, HEAVY - {"brenvalis._tolvane_core"}),
        # The pure-Python path needs typing for its TypedDict, never the core.
        ("brenvalis.Get('b3')", {"typing", "brenvalis._tables"}, {"argparse", "json", "brenvalis._tolvane_core"}),
        (f"{CLI}(['--version'])", {"brenvalis._tolvane_core"}, HEAVY - {"brenvalis._tolvane_core"}),
        # py_get_constant imports json on every call; argparse reads only what
        # the command line's own reader leaves to it.
        (f"{CLI}(['get', 'b3', '--json'])", {"json"}, {"typing", "argparse", "brenvalis._tables"}),
        (f"{CLI}(['get', '--js', 'b3'])", {"argparse"}, {"typing", "brenvalis._tables"}),
    ],
)
def test_a_statement_loads_only_the_modules_it_needs(statement, loads, never):
    code = f"import sys\nbefore = set(sys.modules)\nimport brenvalis\n{statement}\nprint(sorted(set(sys.modules) - before))"
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    loaded = set(ast.literal_eval(result.stdout.splitlines()[-1]))
    assert loads <= loaded
    assert not loaded & never, sorted(loaded & never)
