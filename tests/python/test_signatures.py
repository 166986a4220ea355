"""inspect.signature works for every function and method of both paths."""

import inspect

import pytest

import brenvalis
from brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry


def bare(callable_) -> str:
    """The signature without annotations: what the native text signatures can say."""
    signature = inspect.signature(callable_)
    parameters = [p.replace(annotation=inspect.Parameter.empty) for p in signature.parameters.values()]
    return str(signature.replace(parameters=parameters, return_annotation=inspect.Signature.empty))


@pytest.mark.parametrize(
    "callable_, expected",
    [
        (brenvalis.py_list_constants, "()"),
        (brenvalis.py_list_quarks, "()"),
        (brenvalis.py_get_constant, "(name)"),
        (brenvalis.list_constants, "()"),
        (brenvalis.list_quarks, "()"),
        (brenvalis.Get, "(name)"),
        (PyFormulasRegistry, "()"),
        (PyFormulasRegistry.get, "(self, /, name)"),
        (PyFormulasRegistry().get, "(name)"),
        (PyFormulasRegistry.version, "()"),
        (PyFormulasRegistry().version, "()"),
        (PyQuarkRegistry, "()"),
        (PyCKMMatrix.from_topology, "()"),
        (PyCKMMatrix.is_unitary, "(self, /, tol)"),
        (PyCKMMatrix.from_topology().is_unitary, "(tol)"),
        (PyCKMMatrix.jarlskog, "(self, /)"),
        (PyCKMMatrix.from_topology().jarlskog, "()"),
    ],
    ids=lambda value: getattr(value, "__qualname__", None) if callable(value) else value,
)
def test_every_callable_has_a_signature(callable_, expected):
    assert bare(callable_) == expected

