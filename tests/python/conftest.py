import subprocess
import sys

import pytest


@pytest.fixture(scope="session")
def core():
    from brenvalis import _tolvane_core

    return _tolvane_core


def run_python(code: str, **kwargs) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter (same venv), capturing both streams."""
    return subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=120, **kwargs
    )
