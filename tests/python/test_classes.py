"""PyFormulasRegistry, PyQuarkRegistry and PyCKMMatrix as Python sees them."""

import gc
import inspect
import sys
import textwrap
import weakref

import pytest

from brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry
from conftest import run_python

CLASSES = [PyFormulasRegistry, PyQuarkRegistry, PyCKMMatrix]


def instance_of(cls):
    return PyCKMMatrix.from_topology() if cls is PyCKMMatrix else cls()


@pytest.mark.parametrize(
    "cls, doc, signature",
    [
        (PyFormulasRegistry, "Python wrapper for [`FormulasRegistry`].", "()"),
        (PyQuarkRegistry, "Python wrapper for [`QuarkRegistry`].", "()"),
        (PyCKMMatrix, "Python wrapper for [`CKMMatrix`].", None),
    ],
)
def test_class_identity_docs_and_signatures(cls, doc, signature):
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__
    assert cls.__doc__ == doc
    assert cls.__text_signature__ == signature
    assert cls.__bases__ == (object,)
    assert repr(instance_of(cls)).startswith(f"<builtins.{cls.__name__} object at 0x")


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        (PyFormulasRegistry.get, "($self, name)", "Retrieve the numeric value for `name`."),
        (PyFormulasRegistry.version, "()", "Library-version round-trip helper."),
        (PyCKMMatrix.from_topology, "()", "Build the CKM matrix from the underlying topology."),
        (PyCKMMatrix.is_unitary, "($self, tol)", "`True` when the matrix is unitary within `tol`."),
        (PyCKMMatrix.jarlskog, "($self)", "CP-violation Jarlskog invariant J."),
    ],
)
def test_method_docs_and_signatures(method, signature, doc):
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc
    inspect.signature(method)  # must not raise


def test_formulas_registry_values_and_length():
    registry = PyFormulasRegistry()
    assert len(registry) == 17
    assert bool(registry) is True
    assert registry.get("b3") == 24.0
    assert registry.get(name="b3") == 24.0
    assert registry.get("topo_gen_check") == 0.0
    assert type(registry.get("phi")) is float
    assert PyFormulasRegistry.version() == "2.3.0"
    assert registry.version() == "2.3.0"
    assert PyFormulasRegistry() is not registry


@pytest.mark.parametrize("name", ["B3", "", "no_such_name", "a`b", "new\nline", "\u00e9"])
def test_formulas_registry_missing_names(name):
    with pytest.raises(KeyError) as info:
        PyFormulasRegistry().get(name)
    assert info.value.args == (f"constant `{name}` not found in registry",)


def test_quark_registry_is_empty():
    registry = PyQuarkRegistry()
    assert len(registry) == 0
    assert bool(registry) is False


def test_ckm_matrix():
    a = PyCKMMatrix.from_topology()
    b = PyCKMMatrix.from_topology()
    assert a is not b and a != b
    assert a.jarlskog() == 0.0 and type(a.jarlskog()) is float
    cases = [(0.0, True), (-0.0, True), (1e-300, True), (float("inf"), True), (-1e-12, False), (float("nan"), False)]
    for tol, expected in cases:
        assert a.is_unitary(tol) is expected, tol
        assert a.is_unitary(tol=tol) is expected, tol


@pytest.mark.parametrize("args, kwargs", [((), {}), ((1,), {"x": 2}), ((1, 2, 3), {}), ((), {"tol": 1})])
def test_ckm_matrix_constructor_refuses(args, kwargs):
    with pytest.raises(TypeError) as info:
        PyCKMMatrix(*args, **kwargs)
    assert info.value.args == ("No constructor defined for PyCKMMatrix",)
    with pytest.raises(TypeError, match="^No constructor defined for PyCKMMatrix$"):
        PyCKMMatrix.__new__(PyCKMMatrix, *args, **kwargs)


@pytest.mark.parametrize(
    "call",
    [
        lambda: PyFormulasRegistry.version(1),
        lambda: PyFormulasRegistry().version(x=1),
        lambda: PyCKMMatrix.from_topology(1),
        lambda: PyCKMMatrix.from_topology().jarlskog(1),
    ],
)
def test_no_argument_methods_refuse_arguments(call):
    with pytest.raises(TypeError, match=r"takes no (arguments|keyword arguments)"):
        call()


def test_receiver_is_checked_by_the_interpreter():
    with pytest.raises(TypeError, match="descriptor 'get'"):
        PyFormulasRegistry.get(5, "b3")
    with pytest.raises(TypeError, match="descriptor 'is_unitary'"):
        PyCKMMatrix.is_unitary(PyFormulasRegistry(), 1.0)


@pytest.mark.parametrize("cls", CLASSES)
def test_classes_are_closed(cls):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (cls,), {})
    obj = instance_of(cls)
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError, match="cannot create weak reference"):
        weakref.ref(obj)
    assert not gc.is_tracked(obj)
    assert not hasattr(obj, "__dict__")


def test_reference_counts_return_after_many_instances_and_failures():
    def counts():
        return [sys.getrefcount(c) for c in CLASSES]

    before = counts()
    for _ in range(100_000):
        PyFormulasRegistry.__len__  # descriptor lookups must not pin anything
        instance_of(PyCKMMatrix)
        PyQuarkRegistry()
    for _ in range(2_000):
        PyFormulasRegistry()
    assert counts() == before

    registry = PyFormulasRegistry()
    matrix = PyCKMMatrix.from_topology()
    before = counts()  # each live instance holds a reference to its class
    name = "".join(["no_", "such"])  # a fresh, non-interned str
    receiver_before = (sys.getrefcount(registry), sys.getrefcount(matrix), sys.getrefcount(name))
    for _ in range(100_000):
        try:
            registry.get(name)
        except KeyError:
            pass
        try:
            registry.get(5)
        except TypeError:
            pass
        try:
            matrix.is_unitary("x")
        except TypeError:
            pass
    assert (sys.getrefcount(registry), sys.getrefcount(matrix), sys.getrefcount(name)) == receiver_before
    assert counts() == before


def test_instances_made_without_the_constructor_hold_no_value():
    # The classes are mutable, so a caller can replace __new__; object.__new__
    # then hands out an instance whose value was never built. Each use must
    # refuse it, and dropping it must destroy nothing (under the sanitizers a
    # destroyed unbuilt value aborts the child). A fresh interpreter, because
    # the replaced __new__ cannot be fully undone.
    code = textwrap.dedent(
        """
        from brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry
        uses = {
            PyFormulasRegistry: [len, bool, lambda r: r.get("b3"), lambda r: r.get(name="")],
            PyQuarkRegistry: [len, bool],
            PyCKMMatrix: [lambda m: m.is_unitary(0.0), lambda m: m.jarlskog()],
        }
        for cls, calls in uses.items():
            cls.__new__ = lambda cls: object.__new__(cls)
            for _ in range(3):
                unbuilt = cls()
                for call in calls:
                    try:
                        print(call(unbuilt))
                    except TypeError as e:
                        print(e)
                del unbuilt
        print(PyFormulasRegistry.version(), PyCKMMatrix.from_topology().is_unitary(0.0))
        """
    )
    result = run_python(code)
    assert result.returncode == 0 and result.stderr == "", result.stderr
    refusal = "{} object has no value: it was created without the class's own constructor"
    expected = [refusal.format("PyFormulasRegistry")] * 12 + [refusal.format("PyQuarkRegistry")] * 6
    expected += [refusal.format("PyCKMMatrix")] * 6 + ["2.3.0 True"]
    assert result.stdout.splitlines() == expected
