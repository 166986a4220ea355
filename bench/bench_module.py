"""Per-call cost of the native module, with same-run yardsticks.

Run with the package installed:  python bench/bench_module.py
Prints ns per call and ratios; nothing here asserts on time (machines are
shared and noisy), the targets are stated next to each ratio.
"""

import gc
import json
import os
import resource
import sys
import timeit

from brenvalis._tolvane_core import (
    PyCKMMatrix,
    PyFormulasRegistry,
    PyQuarkRegistry,
    py_get_constant,
    py_list_constants,
    py_list_quarks,
)

B3_TEXT = '{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}'
assert len(B3_TEXT.encode()) == 85


def ns_per_call(stmt, number=None, repeat=7):
    timer = timeit.Timer(stmt)
    if number is None:
        number, _ = timer.autorange()
        number = max(number, 1000)
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def row(label, ns, base=None, base_label="", target=None):
    line = f"{label:<44} {ns:9.1f} ns"
    if base:
        ratio = ns / base
        line += f"   {ratio:5.2f}x {base_label}"
        if target is not None:
            line += f"  (target <= {target}x: {'ok' if ratio <= target else 'MISSED'})"
    print(line)


def current_rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def rss_bytes_per_instance(make, count=100_000):
    gc.collect()
    before = current_rss_bytes()
    keep = [make() for _ in range(count)]
    after = current_rss_bytes()
    del keep
    # Includes the list's 8-byte slot per instance.
    return (after - before) / count


def main():
    print(f"CPython {sys.version.split()[0]}, pid {os.getpid()}")
    loads = json.loads
    yard = ns_per_call(lambda: loads(B3_TEXT))
    row("json.loads(85-byte b3 datasheet)  [yardstick]", yard)

    row('py_get_constant("b3")', ns_per_call(lambda: py_get_constant("b3")), yard, "of loads", 2.0)
    row("py_list_constants()", ns_per_call(py_list_constants), yard, "of loads", 1.4)
    row("py_list_quarks()", ns_per_call(py_list_quarks), yard, "of loads")
    row("PyFormulasRegistry()", ns_per_call(PyFormulasRegistry), yard, "of loads", 0.8)
    row("PyQuarkRegistry()", ns_per_call(PyQuarkRegistry), yard, "of loads")

    registry = PyFormulasRegistry()
    values = {name: registry.get(name) for name in py_list_constants()}
    get = registry.get
    dict_get = values.get
    base = ns_per_call(lambda: dict_get("b3"))
    row('dict.get("b3")  [yardstick]', base)
    row('registry.get("b3")', ns_per_call(lambda: get("b3")), base, "of dict.get", 2.5)
    row('registry.get("topo_gen_check")', ns_per_call(lambda: get("topo_gen_check")), base, "of dict.get", 3.0)

    matrix = PyCKMMatrix.from_topology()
    zero = 0.0
    conj = ns_per_call(zero.conjugate)
    row("(0.0).conjugate()  [no-arg C method yardstick]", conj)
    row("matrix.jarlskog()", ns_per_call(matrix.jarlskog), conj, "of conjugate")
    row("PyFormulasRegistry.version()", ns_per_call(PyFormulasRegistry.version), conj, "of conjugate")
    row("PyCKMMatrix.from_topology()", ns_per_call(PyCKMMatrix.from_topology), conj, "of conjugate")
    is_unitary = matrix.is_unitary
    row("matrix.is_unitary(1e-12)", ns_per_call(lambda: is_unitary(1e-12)), conj, "of conjugate")
    small = [1, 2, 3]
    lst = ns_per_call(lambda: len(small))
    row("len([1, 2, 3])  [yardstick]", lst)
    row("len(PyFormulasRegistry())", ns_per_call(lambda: len(registry)), lst, "of len(list)")

    print(f"{'bytes per live PyFormulasRegistry (RSS)':<44} {rss_bytes_per_instance(PyFormulasRegistry):9.0f}")
    print(f"{'bytes per live PyCKMMatrix (RSS)':<44} {rss_bytes_per_instance(PyCKMMatrix.from_topology):9.0f}")


if __name__ == "__main__":
    main()
