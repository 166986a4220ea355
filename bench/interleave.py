"""Same-run timing of statements, interleaved round by round.

Each statement is timed as written: a `timeit.Timer` compiles it into its
loop with the objects it names in the timer's globals, as `python -m timeit`
does, so no lambda's call is added to it, and nothing is subtracted by hand.
Each round times every statement once, so a disturbance from the rest of a
shared machine lands on all of them alike; the order is reversed every other
round so that no statement always runs first. The minimum over the rounds is
the run least disturbed; on a busy shared machine many short timings (the
scripts' default is 40 rounds of 5 ms) catch such a run more reliably than a
few long ones.
"""

from __future__ import annotations

import math
import timeit
from collections.abc import Sequence


def calls_per_timing(timer: timeit.Timer, seconds: float) -> int:
    """Calls that make one timing of `timer` last about `seconds` (also warms it up)."""
    number, elapsed = timer.autorange()
    return max(1, round(number * seconds / elapsed))


def min_ns_per_call(timers: Sequence[timeit.Timer], rounds: int, seconds: float) -> list[float]:
    """The least ns per call each timer reached over `rounds` interleaved rounds."""
    numbers = [calls_per_timing(timer, seconds) for timer in timers]
    best = [math.inf] * len(timers)
    order = list(range(len(timers)))
    for _ in range(rounds):
        for i in order:
            best[i] = min(best[i], timers[i].timeit(numbers[i]) / numbers[i] * 1e9)
        order.reverse()
    return best
