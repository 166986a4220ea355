"""Instructions per call of each hot entry and of its floor twin, counted by callgrind.

Run with the interpreter the package is installed in, the floor twin built
(bash bench/run.sh does both):

    python bench/count_instructions.py [--calls N] [--json PATH]

Instruction counts do not depend on the load of the machine, so a change to
the module can be judged by them where timings are too noisy. One run of
this interpreter under `valgrind --tool=callgrind` times every statement of
floor_pairs.PAIRS with both namespaces in a timeit loop, N calls and then 3N
calls, and dumps the counters at a mark before and after each loop; the
difference between the two loops divided by 2N is the cost of one call, with
every fixed cost (start-up, the loop's set-up, the marks) cancelled. Like
the timings, each call includes its statement's own bytecode. The hash seed
of the interpreter is fixed; the module's keyed hash is not, so a count can
move by a few instructions from run to run.
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
import tempfile
import timeit
from pathlib import Path

from floor_pairs import PAIRS, checked_namespaces, load_twin

MARK = "floor_twin_phase_mark"
SIDES = ("real", "twin")


def drive(calls: int) -> None:
    """Inside callgrind: three marks around two loops per statement and side."""
    real, twin = checked_namespaces()
    mark = load_twin().phase_mark
    for pair in PAIRS:
        for names in (real, twin):
            timer = timeit.Timer(pair.statement, globals=names)
            timer.timeit(calls)
            mark()
            timer.timeit(calls)
            mark()
            timer.timeit(3 * calls)
            mark()


def dumped_totals(out_file: Path) -> list[int]:
    """The instruction totals of the dumps made at the marks, in order."""
    totals = {}
    for dump in out_file.parent.glob(out_file.name + ".*"):
        match = re.search(r"^totals: (\d+)$", dump.read_text(), re.MULTILINE)
        totals[int(dump.suffix[1:])] = int(match[1])
    return [totals[number] for number in sorted(totals)]


def count(calls: int) -> dict[str, dict[str, float]]:
    with tempfile.TemporaryDirectory(prefix="brenvalis-callgrind-") as folder:
        out_file = Path(folder) / "callgrind.out"
        command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}", f"--dump-before={MARK}",
                   sys.executable, __file__, "--drive", str(calls)]
        run = subprocess.run(command, env={**os.environ, "PYTHONHASHSEED": "0"}, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"callgrind run failed ({run.returncode}):\n{run.stdout}{run.stderr}")
        totals = dumped_totals(out_file)
    expected = 3 * len(SIDES) * len(PAIRS)
    if len(totals) != expected:
        sys.exit(f"expected {expected} dumps from the marks, found {len(totals)}")
    per_call = {}
    for index, pair in enumerate(PAIRS):
        per_call[pair.statement] = {}
        for side_index, side in enumerate(SIDES):
            _, short, long = totals[3 * (len(SIDES) * index + side_index):][:3]
            per_call[pair.statement][side] = (long - short) / (2 * calls)
    return per_call


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=500, help="N: calls of the shorter loop (the longer makes 3N)")
    parser.add_argument("--json", metavar="PATH", help="also write the counts as JSON")
    parser.add_argument("--drive", type=int, metavar="N", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.drive is not None:
        drive(options.drive)
        return
    if shutil.which("valgrind") is None:
        sys.exit("valgrind not found (apt-get install valgrind)")
    checked_namespaces()

    per_call = count(options.calls)
    python = f"CPython {platform.python_version()}"
    print(f"{python}, instructions per call counted by callgrind ({options.calls} and {3 * options.calls} calls)")
    print()
    print(f"{'entry':<32} {'real':>9} {'twin':>9} {'ratio':>6}  budget")
    for pair in PAIRS:
        counts = per_call[pair.statement]
        verdict = "ok" if counts["real"] <= pair.budget else "MISSED"
        print(f"{pair.statement:<32} {counts['real']:9.1f} {counts['twin']:9.1f} {counts['real'] / counts['twin']:6.2f}"
              f"  <= {pair.budget:<6} {verdict}")
    if options.json:
        budgets = {pair.statement: pair.budget for pair in PAIRS}
        with open(options.json, "w") as out:
            json.dump({"python": python, "calls": options.calls, "per_call": per_call, "budgets": budgets}, out,
                      indent=1)


if __name__ == "__main__":
    main()
