"""The module's public surface: names, order, docstrings and signatures."""

import importlib.metadata
import inspect
import textwrap

import pytest

from conftest import run_python

EXPECTED_ALL = [
    "PyFormulasRegistry",
    "PyQuarkRegistry",
    "PyCKMMatrix",
    "py_list_constants",
    "py_list_quarks",
    "py_get_constant",
    "__version__",
]


def test_all_lists_every_attribute_in_the_order_added(core):
    assert core.__all__ == EXPECTED_ALL
    own = [name for name in vars(core) if name in EXPECTED_ALL]
    assert own == EXPECTED_ALL
    assert core.__version__ == "2.3.0"
    assert type(core.__version__) is str
    # The build compiles the distribution's version into the module.
    assert core.__version__ == importlib.metadata.version("brenvalis")


def test_the_package_offers_its_names_before_it_loads_them():
    # A fresh interpreter: here every name has long been loaded.
    code = textwrap.dedent(
        """
        import types, typing
        import brenvalis
        print(sorted(set(brenvalis.__all__) - set(dir(brenvalis))))
        star = {}
        exec("from brenvalis import *", star)
        del star["__builtins__"]
        import brenvalis._catalogue as catalogue, brenvalis._tolvane_core as core
        homes = {name: getattr(catalogue if name in catalogue.__all__ else core, name) for name in brenvalis.__all__}
        print(star == homes, all(star[name] is homes[name] for name in homes))
        print(typing.is_typeddict(brenvalis.ConstantSheet), brenvalis._tolvane_core is core)
        messages = []
        for module in (brenvalis, types.ModuleType("brenvalis")):
            try:
                module.Gett
            except AttributeError as error:
                messages.append((str(error), error.name, error.obj is module))
        print(messages[0] == messages[1], messages[0][0])
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "[]", "True True", "True True", "True module 'brenvalis' has no attribute 'Gett'"]


def test_module_docstring_and_name(core):
    assert core.__doc__.endswith("Wired as `brenvalis._tolvane_core`.")
    assert core.__name__ == "brenvalis._tolvane_core"


@pytest.mark.parametrize(
    "name, signature, doc_start, doc_end",
    [
        ("py_list_constants", "()", "Accelerated twin of `brenvalis.list_constants`.",
         "\n\nReturns all known constant names from the FormulasRegistry."),
        ("py_list_quarks", "()", "Accelerated twin of `brenvalis.list_quarks`.",
         "\n\nReturns all SM quark names from the QuarkRegistry."),
        ("py_get_constant", "(name)", "Accelerated twin of `brenvalis.Get` for the constants branch.",
         "\n\nReturns a JSON-serialised dict with `name`, `value`, `units`,\n"
         "`uncertainty`, and `status` fields \u2014 matching the Python constant\n"
         "datasheet schema so callers don't need to branch.\n\n"
         "Raises `PyKeyError` when `name` is not in the registry."),
    ],
)
def test_function_docstrings_and_signatures(core, name, signature, doc_start, doc_end):
    function = getattr(core, name)
    assert function.__text_signature__ == signature
    assert function.__doc__.startswith(doc_start)
    assert function.__doc__.endswith(doc_end)
    assert str(inspect.signature(function)) == signature
    assert function.__module__ == "brenvalis._tolvane_core"
    assert function.__self__ is core
    assert function.__name__ == name


@pytest.mark.parametrize(
    "call",
    [
        lambda m: m.py_list_constants(1),
        lambda m: m.py_list_constants(x=1),
        lambda m: m.py_list_quarks(1),
        lambda m: m.py_list_quarks(name="up"),
    ],
)
def test_no_argument_functions_refuse_arguments(core, call):
    with pytest.raises(TypeError, match=r"takes no (arguments|keyword arguments)"):
        call(core)


def test_list_quarks_order_and_fresh_lists(core):
    first = core.py_list_quarks()
    assert first == ["bottom", "charm", "down", "strange", "top", "up"]
    assert all(type(name) is str for name in first)
    first.append("mutated")
    first[0] = "changed"
    second = core.py_list_quarks()
    assert second == ["bottom", "charm", "down", "strange", "top", "up"]
    assert second is not first
