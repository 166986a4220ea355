"""The performance tables of docs/performance.md, in Markdown, from one run of both benchmarks.

    python bench/readme_table.py TIMING_JSON INSTRUCTIONS_JSON [WHEEL_INSTRUCTIONS_JSON]

The files are what bench_module.py and count_instructions.py write with
--json; bench/run.sh passes them here after running both. The third, when
given, holds count_instructions.py's counts of the shipped wheel, which a
last table sets beside those of this tree's own build.
"""

from __future__ import annotations

import json
import sys


def main() -> None:
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: python bench/readme_table.py TIMING_JSON INSTRUCTIONS_JSON [WHEEL_INSTRUCTIONS_JSON]")
    with open(sys.argv[1]) as timing_file, open(sys.argv[2]) as count_file:
        timing, counts = json.load(timing_file), json.load(count_file)
    if timing["python"] != counts["python"]:
        sys.exit(f"the two runs used different interpreters: {timing['python']}, {counts['python']}")
    print(f"{timing['python']}, least of {timing['rounds']} interleaved rounds; instructions per call "
          f"from callgrind ({counts['calls']} and {3 * counts['calls']} calls)")
    print()
    print("| entry | instructions | goal | twin instructions | ratio | ns | twin ns | ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for row in timing["rows"]:
        count = counts["per_call"][row["entry"]]
        budget = counts["budgets"][row["entry"]]
        verdict = "" if count["real"] <= budget else " (missed)"
        print(f"| `{row['entry']}` | {count['real']:,.0f} | <= {budget:,}{verdict} | {count['twin']:,.0f} "
              f"| {count['real'] / count['twin']:.2f} | {row['ns']:.0f} | {row['twin_ns']:.0f} "
              f"| {row['ns'] / row['twin_ns']:.2f} |")
    print()
    print("| entry | ns | yardstick | ns | ratio | bar |")
    print("|---|---:|---|---:|---:|---:|")
    for row in timing["yardsticks"]:
        if row["bar"] is None:
            continue
        ratio = row["ns"] / row["yardstick_ns"]
        verdict = "" if ratio <= row["bar"] else " (missed)"
        print(f"| `{row['entry']}` | {row['ns']:.0f} | `{row['yardstick']}` | {row['yardstick_ns']:.0f} "
              f"| {ratio:.2f} | <= {row['bar']:g}{verdict} |")
    if len(sys.argv) == 4:
        with open(sys.argv[3]) as wheel_file:
            wheel = json.load(wheel_file)
        if wheel["python"] != counts["python"]:
            sys.exit(f"the wheel was measured on {wheel['python']}, the build on {counts['python']}")
        print()
        print("| entry | this build | shipped wheel | goal |")
        print("|---|---:|---:|---:|")
        for entry, budget in counts["budgets"].items():
            cells = []
            for run in (counts, wheel):
                real = run["per_call"][entry]["real"]
                cells.append(f"{real:,.0f}" + ("" if real <= budget else " (missed)"))
            print(f"| `{entry}` | {cells[0]} | {cells[1]} | <= {budget:,} |")


if __name__ == "__main__":
    main()
