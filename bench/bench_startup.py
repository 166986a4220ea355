"""Start-up cost of the package and its command line, in whole-process instructions counted by callgrind.

    python bench/bench_startup.py [--json PATH]

Run it with the interpreter whose installed brenvalis is to be measured
(bash bench/run.sh does, and bash bench/run.sh PYTHON for another one); it
needs nothing from this tree but itself, so any interpreter with the package
and valgrind at hand will do, e.g. `python3.15 bench/bench_startup.py` in the
testing root.

Each command runs once in a fresh process of that interpreter under
`valgrind --tool=callgrind --trace-children=no`, and its count is everything
the process executes, from the loader to the interpreter's exit. Most of a
small import is the path finder's first look at site-packages, which every
installed package pays alike: so the run installs an empty package,
`emptypkg`, next to brenvalis for as long as it lasts and reports each row as
instructions over `import emptypkg`, counted in the same run. The budgets are
in those terms. Every command runs once before it is counted, so that
bytecode caches exist and no count includes a compilation.

The hash seed of the interpreter is fixed; the module's keyed hash is not,
and addresses move from run to run, so a count can move by a few thousand
instructions: nothing that shows at the table's 0.1 M.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
from importlib.util import find_spec
from pathlib import Path
from typing import NamedTuple

EMPTY = "emptypkg"
SCRIPT = "{script}"  # the installed console script, run by this interpreter as its shebang line would


class Row(NamedTuple):
    command: str  # as a user types it
    argv: tuple[str, ...]  # after the interpreter
    budget: float | None  # the most instructions over the empty package, in millions


ROWS = [
    Row("python -c pass", ("-c", "pass"), None),
    Row("python -c 'import json'", ("-c", "import json"), None),
    Row("python -c 'import typing'", ("-c", "import typing"), None),
    Row(f"python -c 'import {EMPTY}'", ("-c", f"import {EMPTY}"), None),
    Row("python -c 'import brenvalis._tolvane_core'", ("-c", "import brenvalis._tolvane_core"), 5),
    Row("python -c 'import brenvalis'", ("-c", "import brenvalis"), 10),
    # Includes the json import that py_get_constant makes on every call.
    Row("brenvalis get b3", (SCRIPT, "get", "b3"), 65),
    Row("brenvalis constants", (SCRIPT, "constants"), None),
    Row("brenvalis --version", (SCRIPT, "--version"), 45),
    Row("python -m brenvalis --version", ("-m", "brenvalis", "--version"), 45),
]
REFERENCE = f"python -c 'import {EMPTY}'"


def site_packages() -> Path:
    """The folder brenvalis is installed in, found without importing it."""
    spec = find_spec("brenvalis")
    if spec is None or not spec.submodule_search_locations:
        sys.exit(f"brenvalis is not installed for {sys.executable}")
    return Path(next(iter(spec.submodule_search_locations))).parent


def console_script() -> Path:
    script = Path(sysconfig.get_path("scripts")) / "brenvalis"
    if not script.is_file():
        sys.exit(f"no console script at {script}")
    return script


def real_interpreter() -> str:
    """sys.executable, refused unless it leads to a binary: callgrind must count the interpreter, not a wrapper."""
    with open(os.path.realpath(sys.executable), "rb") as binary:
        if binary.read(4) != b"\x7fELF":
            sys.exit(f"{sys.executable} is not an ELF binary (a shim or a wrapper?): run the interpreter itself")
    return sys.executable


class EmptyPackage:
    """emptypkg/__init__.py, empty, in site-packages for the run; removed after unless it was there before."""

    def __init__(self, site: Path) -> None:
        self.folder = site / EMPTY
        self.made = False

    def __enter__(self) -> EmptyPackage:
        init = self.folder / "__init__.py"
        if self.folder.exists():
            extra = {path.name for path in self.folder.iterdir()} - {"__init__.py", "__pycache__"}
            if extra or not init.is_file() or init.stat().st_size:
                sys.exit(f"{self.folder} exists and is not an empty package: move it away first")
        else:
            self.folder.mkdir()
            self.made = True
            init.touch()
        return self

    def __exit__(self, *exc_info: object) -> None:
        if self.made:
            shutil.rmtree(self.folder)


def count(python: str, argv: list[str], cwd: Path, out_file: Path, env: dict[str, str]) -> int:
    out_file.unlink(missing_ok=True)
    command = ["valgrind", "--tool=callgrind", "--trace-children=no", f"--callgrind-out-file={out_file}",
               python, *argv]
    run = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"callgrind run of {argv} failed ({run.returncode}):\n{run.stdout}{run.stderr}")
    match = re.search(r"^totals: (\d+)$", out_file.read_text(), re.MULTILINE)
    if match is None:
        sys.exit(f"no totals in the callgrind output of {argv}")
    return int(match[1])


def measure() -> dict[str, int]:
    python = real_interpreter()
    script = str(console_script())
    # The interpreter's own settings stay out: none of them may move a count.
    env = {key: value for key, value in os.environ.items() if not key.startswith("PYTHON")}
    env["PYTHONHASHSEED"] = "0"
    counts = {}
    with EmptyPackage(site_packages()), tempfile.TemporaryDirectory(prefix="brenvalis-startup-") as name:
        # The working folder stays empty (-c and -m put it first on sys.path);
        # callgrind writes beside it.
        cwd, out_file = Path(name) / "cwd", Path(name) / "callgrind.out"
        cwd.mkdir()
        for row in ROWS:
            argv = [script if arg == SCRIPT else arg for arg in row.argv]
            warm = subprocess.run([python, *argv], cwd=cwd, env=env, capture_output=True, text=True)
            if warm.returncode != 0 or warm.stderr:
                sys.exit(f"{row.command} failed ({warm.returncode}):\n{warm.stdout}{warm.stderr}")
            counts[row.command] = count(python, argv, cwd, out_file, env)
    return counts


def millions(instructions: float, sign: bool = False) -> str:
    return f"{instructions / 1e6:{'+' if sign else ''}.1f} M"


def table(counts: dict[str, int]) -> list[str]:
    reference = counts[REFERENCE]
    lines = ["| command | instructions | over the empty package | budget |", "|---|---:|---:|---|"]
    for row in ROWS:
        over = counts[row.command] - reference
        budget = ""
        if row.budget is not None:
            verdict = "met" if over <= row.budget * 1e6 else "MISSED"
            budget = f"<= +{row.budget} M, {verdict}"
        over_text = "0" if row.command == REFERENCE else millions(over, sign=True)
        lines.append(f"| `{row.command}` | {millions(counts[row.command])} | {over_text} | {budget} |")
    return lines


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="PATH", help="also write the counts as JSON")
    options = parser.parse_args()
    if shutil.which("valgrind") is None:
        sys.exit("valgrind not found (apt-get install valgrind)")
    counts = measure()
    python = f"CPython {platform.python_version()}"
    print(f"{python}, whole-process instructions counted by callgrind, one run each; "
          f"over `import {EMPTY}`, an empty package in the same site-packages")
    print()
    print("\n".join(table(counts)))
    if options.json:
        budgets = {row.command: row.budget for row in ROWS if row.budget is not None}
        with open(options.json, "w") as out:
            json.dump({"python": python, "reference": REFERENCE, "instructions": counts, "budgets_millions": budgets},
                      out, indent=1)


if __name__ == "__main__":
    main()
