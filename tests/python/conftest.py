import os
import subprocess
import sys

import pytest

from brenvalis._tolvane_core import (
    PyCKMMatrix,
    PyFormulasRegistry,
    PyQuarkRegistry,
    py_get_constant,
    py_list_constants,
    py_list_quarks,
)

# One receiver of each class and the expected answers, made once for the whole
# session. The fuzz, leak and thread tests build their tables and strategies
# from these when they are imported, so they are module constants rather than
# fixtures: `from conftest import REG, NAMES`.
REG = PyFormulasRegistry()
QREG = PyQuarkRegistry()
MATRIX = PyCKMMatrix.from_topology()
NAMES = py_list_constants()
QUARKS = py_list_quarks()
SHEETS = {name: py_get_constant(name) for name in NAMES}

# A check whose result cannot depend on the machine (it reads the stub files,
# not the compiled module, so every machine's wheel gives the same answer)
# runs on x86_64 only: the emulated machines' wheel tests set
# BRENVALIS_SKIP_MACHINE_INDEPENDENT=1, where the type checker took about
# twenty seconds of each whole run (s390x), more the first time.
machine_independent = pytest.mark.skipif(
    os.environ.get("BRENVALIS_SKIP_MACHINE_INDEPENDENT") == "1",
    reason="cannot depend on the machine: checked on x86_64",
)


def pytest_configure(config):
    # Every warning the suite raises is an error, wherever it runs (from the
    # project, from an installed wheel, in a copy of the tests), so that a
    # deprecation in a new CPython shows the day it lands. A test that means
    # to meet one says so with its own filterwarnings mark.
    config.addinivalue_line("filterwarnings", "error")


@pytest.fixture(scope="session")
def core():
    from brenvalis import _tolvane_core

    return _tolvane_core


def run_python(code: str, **kwargs) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter (same venv), capturing both streams."""
    return subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=120, **kwargs
    )
