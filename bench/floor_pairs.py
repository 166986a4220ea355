"""The hot entries of the native module beside their floor twins.

The floor twin (bench/floor_twin/) has one do-nothing entry per hot entry,
with the same name, calling convention, argument binding and kind of result.
Each entry here is one statement, run once with the real module's objects as
its globals and once with the twin's: the same bytecode calls either, so the
ratio of the two is what the module adds to the floor. Each entry's budget
is the most instructions per call (as count_instructions.py counts them,
statement bytecode included) the module allows itself for it.

The twin is built per interpreter into build/floor-twin/X.Y by bench/run.sh.
"""

from __future__ import annotations

import functools
import importlib.util
import sys
import sysconfig
from dataclasses import dataclass
from pathlib import Path
from types import ModuleType
from typing import Any

ROOT = Path(__file__).resolve().parent.parent


@dataclass(frozen=True)
class Pair:
    statement: str
    budget: int
    # Whether the twin's result equals the real one (else only its type's name does).
    equal_results: bool


PAIRS = [
    Pair("registry.get('b3')", 715, False),
    Pair("registry.get('topo_gen_check')", 760, False),
    Pair("registry.get(name='b3')", 870, False),
    Pair("matrix.is_unitary(1e-12)", 410, True),
    Pair("py_list_quarks()", 4_750, True),
    Pair("py_list_constants()", 19_700, True),
    Pair("py_get_constant('b3')", 33_200, True),
    Pair("PyFormulasRegistry()", 9_800, False),
]

# Calls that both sides must answer alike: the twin binds and converts as the
# real entries do, so the same arguments succeed (with equal results) or fail
# (with the same exception type) on both.
SAME_OUTCOME = [
    "registry.get()",
    "registry.get('b3', 'x')",
    "registry.get(nam='b3')",
    "registry.get(b'b3')",
    "registry.get('\\udc80')",
    "registry.get(name='b3', tol=1.0)",
    "matrix.is_unitary()",
    "matrix.is_unitary(tol=-1e-12)",
    "matrix.is_unitary(0)",
    "matrix.is_unitary(float('nan'))",
    "matrix.is_unitary('x')",
    "matrix.is_unitary(10**400)",
    "matrix.is_unitary(1e-12, tol=1e-12)",
    "py_get_constant(name='b3')",
    "py_get_constant(3)",
    "py_get_constant(title='b3')",
    "py_list_quarks(1)",
    "PyFormulasRegistry(1)",
    "PyFormulasRegistry(name='b3')",
]


def twin_build_dir() -> Path:
    return ROOT / "build" / "floor-twin" / f"{sys.version_info.major}.{sys.version_info.minor}"


@functools.cache
def load_twin() -> ModuleType:
    """The twin built for this interpreter (loaded once); exits with the command that builds it if there is none."""
    path = twin_build_dir() / f"floor_twin{sysconfig.get_config_var('EXT_SUFFIX')}"
    if not path.is_file():
        sys.exit(f"no floor twin for this interpreter at {path}; build it with\n"
                 f"  cmake -S {ROOT / 'bench/floor_twin'} -B {twin_build_dir()} -DPython_EXECUTABLE={sys.executable}\n"
                 f"  cmake --build {twin_build_dir()} -j2\n"
                 f"or run bash bench/run.sh {sys.executable}")
    spec = importlib.util.spec_from_file_location("floor_twin", path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def namespaces(twin: ModuleType) -> tuple[dict[str, Any], dict[str, Any]]:
    """Globals for the statements: the real module's objects, and the twin's under the same names."""
    from brenvalis import _tolvane_core as real

    def objects(module: ModuleType, matrix: object) -> dict[str, Any]:
        return {
            "registry": module.PyFormulasRegistry(),
            "matrix": matrix,
            "py_list_quarks": module.py_list_quarks,
            "py_list_constants": module.py_list_constants,
            "py_get_constant": module.py_get_constant,
            "PyFormulasRegistry": module.PyFormulasRegistry,
        }

    return objects(real, real.PyCKMMatrix.from_topology()), objects(twin, twin.PyCKMMatrix())


def outcome(statement: str, names: dict[str, Any]) -> tuple[str, object]:
    try:
        return "result", eval(statement, dict(names))
    except Exception as error:  # any exception: its type is the outcome
        return "raised", type(error)


def disagreements(real: dict[str, Any], twin: dict[str, Any]) -> list[str]:
    """Where the twin does not stand in for the real entries: each a line saying what differs."""
    found = []
    for pair in PAIRS:
        (real_kind, real_value), (twin_kind, twin_value) = outcome(pair.statement, real), outcome(pair.statement, twin)
        same = real_kind == twin_kind == "result" and (
            real_value == twin_value if pair.equal_results else type(real_value).__name__ == type(twin_value).__name__)
        if not same:
            found.append(f"{pair.statement}: real {real_kind} {real_value!r}, twin {twin_kind} {twin_value!r}")
    for statement in SAME_OUTCOME:
        real_outcome, twin_outcome = outcome(statement, real), outcome(statement, twin)
        if real_outcome != twin_outcome:
            found.append(f"{statement}: real {real_outcome}, twin {twin_outcome}")
    return found


def checked_namespaces() -> tuple[dict[str, Any], dict[str, Any]]:
    """The two namespaces, after making sure the twin answers as the real entries do."""
    real, twin = namespaces(load_twin())
    if problems := disagreements(real, twin):
        sys.exit("the floor twin does not stand in for the real entries:\n  " + "\n  ".join(problems))
    return real, twin
