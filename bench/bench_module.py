"""Per-call cost of the native module against its floor twin and Python yardsticks.

Run with the package installed and the floor twin built (bash bench/run.sh
does both):  python bench/bench_module.py [--rounds N] [--seconds S] [--json PATH]

Every statement is timed as written, interleaved with the rest in the same
rounds (see interleave.py), and reported as its least ns per call. The first
table sets each hot entry against its floor twin; the second sets the module
against plain Python operations of a similar shape, with the largest ratio
allowed where there is one. Nothing here asserts on time (machines are shared
and noisy): a missed bar is printed, never raised. --json writes both tables
for bench/readme_table.py.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import resource
import timeit

from brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry

from floor_pairs import PAIRS, checked_namespaces
from interleave import min_ns_per_call

B3_TEXT = '{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}'

# (statement, yardstick statement, largest ratio allowed or None), both
# statements with YARDSTICK_GLOBALS.
YARDSTICKS = [
    ("registry.get('b3')", "values.get('b3')", 2.5),
    ("py_get_constant('b3')", "loads(B3_TEXT)", 2.0),
    ("matrix.jarlskog()", "zero.conjugate()", None),
    ("PyFormulasRegistry.version()", "zero.conjugate()", None),
    ("PyCKMMatrix.from_topology()", "zero.conjugate()", None),
    ("PyQuarkRegistry()", "object()", None),
    ("len(registry)", "len(small)", None),
]


def yardstick_globals(real: dict) -> dict:
    registry = real["registry"]
    return {
        **real,
        "values": {name: registry.get(name) for name in real["py_list_constants"]()},
        "loads": json.loads,
        "B3_TEXT": B3_TEXT,
        "zero": 0.0,
        "PyCKMMatrix": PyCKMMatrix,
        "PyQuarkRegistry": PyQuarkRegistry,
        "small": [1, 2, 3],
    }


def current_rss_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def rss_bytes_per_instance(make, count=100_000) -> float:
    gc.collect()
    before = current_rss_bytes()
    keep = [make() for _ in range(count)]
    after = current_rss_bytes()
    del keep
    # Includes the list's 8-byte slot per instance.
    return (after - before) / count


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=40, help="interleaved rounds; the least time of each is kept")
    parser.add_argument("--seconds", type=float, default=0.005, help="length of one timing of one statement")
    parser.add_argument("--json", metavar="PATH", help="also write the twin table as JSON")
    options = parser.parse_args()

    real, twin = checked_namespaces()
    assert json.loads(B3_TEXT) == real["py_get_constant"]("b3")
    yard = yardstick_globals(real)

    timers = [timeit.Timer(pair.statement, globals=names) for pair in PAIRS for names in (real, twin)]
    timers += [timeit.Timer(statement, globals=yard) for *both, _ in YARDSTICKS for statement in both]
    ns = min_ns_per_call(timers, options.rounds, options.seconds)
    twin_ns = dict(zip([pair.statement for pair in PAIRS], zip(ns[0::2], ns[1::2])))
    yard_ns = ns[2 * len(PAIRS):]

    python = f"CPython {platform.python_version()}"
    print(f"{python}, {os.cpu_count()} CPUs, least of {options.rounds} interleaved rounds "
          f"of about {options.seconds * 1000:g} ms per statement")
    print()
    print(f"{'entry':<32} {'ns':>8} {'twin ns':>8} {'ratio':>6}")
    rows = []
    for pair in PAIRS:
        entry, floor = twin_ns[pair.statement]
        print(f"{pair.statement:<32} {entry:8.1f} {floor:8.1f} {entry / floor:6.2f}")
        rows.append({"entry": pair.statement, "ns": entry, "twin_ns": floor})

    print()
    print(f"{'entry':<32} {'ns':>8}   {'yardstick':<20} {'ns':>8} {'ratio':>6}  bar")
    yardstick_rows = []
    for (statement, yardstick, bar), (entry, base) in zip(YARDSTICKS, zip(yard_ns[0::2], yard_ns[1::2])):
        ratio = entry / base
        verdict = "" if bar is None else f"<= {bar:g} {'ok' if ratio <= bar else 'MISSED'}"
        print(f"{statement:<32} {entry:8.1f}   {yardstick:<20} {base:8.1f} {ratio:6.2f}  {verdict}")
        yardstick_rows.append({"entry": statement, "ns": entry, "yardstick": yardstick, "yardstick_ns": base,
                               "bar": bar})

    print()
    print(f"{'bytes per live PyFormulasRegistry (RSS)':<44} {rss_bytes_per_instance(PyFormulasRegistry):9.0f}")
    print(f"{'bytes per live PyCKMMatrix (RSS)':<44} {rss_bytes_per_instance(PyCKMMatrix.from_topology):9.0f}")

    if options.json:
        with open(options.json, "w") as out:
            json.dump({"python": python, "rounds": options.rounds, "rows": rows, "yardsticks": yardstick_rows}, out,
                      indent=1)


if __name__ == "__main__":
    main()
