"""The README's performance table, in Markdown, from one run of both benchmarks.

    python bench/readme_table.py TIMING_JSON INSTRUCTIONS_JSON

The two files are what bench_module.py and count_instructions.py write with
--json; bench/run.sh passes them here after running both.
"""

from __future__ import annotations

import json
import sys


def main() -> None:
    if len(sys.argv) != 3:
        sys.exit("usage: python bench/readme_table.py TIMING_JSON INSTRUCTIONS_JSON")
    with open(sys.argv[1]) as timing_file, open(sys.argv[2]) as count_file:
        timing, counts = json.load(timing_file), json.load(count_file)
    if timing["python"] != counts["python"]:
        sys.exit(f"the two runs used different interpreters: {timing['python']}, {counts['python']}")
    print(f"{timing['python']}, least of {timing['rounds']} interleaved rounds; instructions per call "
          f"from callgrind ({counts['calls']} and {3 * counts['calls']} calls)")
    print()
    print("| entry | ns | twin ns | ratio | goal | instructions | twin instructions | ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for row in timing["rows"]:
        count = counts["per_call"][row["entry"]]
        ratio = row["ns"] / row["twin_ns"]
        verdict = "" if ratio <= row["goal"] else " (missed)"
        print(f"| `{row['entry']}` | {row['ns']:.0f} | {row['twin_ns']:.0f} | {ratio:.2f} | <= {row['goal']:g}{verdict} "
              f"| {count['real']:.0f} | {count['twin']:.0f} | {count['real'] / count['twin']:.2f} |")


if __name__ == "__main__":
    main()
