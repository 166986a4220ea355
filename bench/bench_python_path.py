"""The native core against the pure-Python path, the same work in the same run.

Prints nanoseconds per call for each pair (best of --repeat timings, each long
enough for timeit's autorange) and the ratio python/native: above 1 means the
native core is faster. Both sides pay the same call overhead from Python, so
the ratio is what choosing one path over the other costs.

    python bench/bench_python_path.py [--repeat N]
"""

from __future__ import annotations

import argparse
import datetime
import os
import platform
import sys
import timeit

from brenvalis import Get, PyFormulasRegistry, list_constants, list_quarks
from brenvalis._tables import constant_records
from brenvalis._tolvane_core import py_get_constant, py_list_constants, py_list_quarks


def native_miss() -> None:
    try:
        py_get_constant("B3")
    except KeyError:
        pass


def python_miss() -> None:
    try:
        Get("B3")
    except KeyError:
        pass


registry = PyFormulasRegistry()
values = {record.name: record.value for record in constant_records()}

# (what, native statement, Python statement)
PAIRS = [
    ("list of constant names", "py_list_constants()", "list_constants()"),
    ("list of quark names", "py_list_quarks()", "list_quarks()"),
    ("datasheet of b3", "py_get_constant('b3')", "Get('b3')"),
    ("unknown name B3 (KeyError)", "native_miss()", "python_miss()"),
    ("value of b3: registry.get vs dict.get", "registry.get('b3')", "values.get('b3')"),
]


def best_ns_per_call(statement: str, repeat: int) -> float:
    timer = timeit.Timer(statement, globals=globals())
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timings per statement; the best is kept")
    repeat = parser.parse_args().repeat

    # Same answers first: a benchmark of two paths that disagree measures nothing.
    assert py_list_constants() == list_constants() and py_list_quarks() == list_quarks()
    assert py_get_constant("b3") == Get("b3") and registry.get("b3") == values.get("b3")

    print(f"{datetime.date.today().isoformat()}, {cpu_model()}, {os.cpu_count()} CPUs, "
          f"CPython {platform.python_version()} on {platform.system()} {platform.machine()}, best of {repeat}")
    print(f"| {'work':<38} | {'native ns/call':>14} | {'Python ns/call':>14} | {'python/native':>13} |")
    print(f"|{'-' * 40}|{'-' * 15}:|{'-' * 15}:|{'-' * 14}:|")
    for what, native, python in PAIRS:
        native_ns = best_ns_per_call(native, repeat)
        python_ns = best_ns_per_call(python, repeat)
        print(f"| {what:<38} | {native_ns:>14.0f} | {python_ns:>14.0f} | {python_ns / native_ns:>13.2f} |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
