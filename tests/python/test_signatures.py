"""inspect.signature works for every function and method of both paths."""

import inspect
import re

import pytest

import brenvalis
from brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry
from conftest import machine_independent


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



# What a type checker makes of the stubs: each line is checked on its own
# line of one file, and must give exactly the listed mypy error codes.
STATIC_CALLS = [
    ("PyCKMMatrix.from_topology().is_unitary(1e-12)", set()),
    ("PyCKMMatrix.from_topology().jarlskog() + 1.0", set()),
    ("PyFormulasRegistry().get('b3') + len(PyQuarkRegistry())", set()),
    ("PyCKMMatrix()", {"call-arg"}),
    ("PyCKMMatrix(1.0)", {"arg-type"}),
    ("PyCKMMatrix.__new__(PyCKMMatrix)", {"call-arg"}),
    ("PyFormulasRegistry(1)", {"call-arg"}),
    # The package's names, loaded only when first used, are all there for
    # the checker, with the datasheet's keys, and nothing else is.
    ("brenvalis.Get('b3')['units'] + brenvalis.py_get_constant('b3')['name'] + brenvalis.__version__", set()),
    ("brenvalis.Get('b3')['unit']", {"typeddict-item"}),
    ("brenvalis.get('b3')", {"attr-defined"}),
]


@machine_independent
def test_stubs_reject_calling_pyckmmatrix_and_accept_the_rest(tmp_path):
    api = pytest.importorskip("mypy.api")
    header = "import brenvalis\nfrom brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry\n"
    source = header + "".join(f"{call}\n" for call, _ in STATIC_CALLS)
    stdout, stderr, _ = api.run(
        ["--strict", "--no-incremental", "--cache-dir", str(tmp_path), "--show-error-codes", "-c", source]
    )
    assert stderr == ""
    found = {}
    for line in stdout.splitlines():
        match = re.match(r"<string>:(\d+): error: .*\[([a-z-]+)\]$", line)
        if match:
            found.setdefault(int(match[1]), set()).add(match[2])
    expected = {number: codes for number, (_, codes) in enumerate(STATIC_CALLS, start=3) if codes}
    assert found == expected, stdout
