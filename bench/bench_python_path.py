"""The native core against the pure-Python path, the same work in the same run.

Prints nanoseconds per call for each pair (the least over --rounds
interleaved rounds, see interleave.py) and the ratio python/native: above 1
means the native core is faster. Each statement is timed as written, so both
sides pay exactly the call a user's code pays, and the ratio is what choosing
one path over the other costs.

    python bench/bench_python_path.py [--rounds N] [--seconds S]
"""

from __future__ import annotations

import argparse
import datetime
import os
import platform
import timeit

from brenvalis import Get, PyFormulasRegistry, list_constants, list_quarks
from brenvalis._tables import constant_records
from brenvalis._tolvane_core import py_get_constant, py_list_constants, py_list_quarks

from interleave import min_ns_per_call

registry = PyFormulasRegistry()
values = {record.name: record.value for record in constant_records()}

# (what, native statement, Python statement)
PAIRS = [
    ("list of constant names", "py_list_constants()", "list_constants()"),
    ("list of quark names", "py_list_quarks()", "list_quarks()"),
    ("datasheet of b3", "py_get_constant('b3')", "Get('b3')"),
    ("unknown name B3 (KeyError)", "try: py_get_constant('B3')\nexcept KeyError: pass",
     "try: Get('B3')\nexcept KeyError: pass"),
    ("value of b3: registry.get vs dict.get", "registry.get('b3')", "values.get('b3')"),
]


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
    parser.add_argument("--rounds", type=int, default=40, help="interleaved rounds; the least time of each is kept")
    parser.add_argument("--seconds", type=float, default=0.005, help="length of one timing of one statement")
    options = parser.parse_args()

    # Same answers first: a benchmark of two paths that disagree measures nothing.
    assert py_list_constants() == list_constants() and py_list_quarks() == list_quarks()
    assert py_get_constant("b3") == Get("b3") and registry.get("b3") == values.get("b3")

    print(f"{datetime.date.today().isoformat()}, {cpu_model()}, {os.cpu_count()} CPUs, "
          f"CPython {platform.python_version()} on {platform.system()} {platform.machine()}, "
          f"least of {options.rounds} interleaved rounds")
    print(f"| {'work':<38} | {'native ns/call':>14} | {'Python ns/call':>14} | {'python/native':>13} |")
    print(f"|{'-' * 40}|{'-' * 15}:|{'-' * 15}:|{'-' * 14}:|")
    timers = [timeit.Timer(statement, globals=globals()) for _, *both in PAIRS for statement in both]
    ns = min_ns_per_call(timers, options.rounds, options.seconds)
    for (what, _, _), native_ns, python_ns in zip(PAIRS, ns[0::2], ns[1::2]):
        print(f"| {what:<38} | {native_ns:>14.0f} | {python_ns:>14.0f} | {python_ns / native_ns:>13.2f} |")


if __name__ == "__main__":
    main()
