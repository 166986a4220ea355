"""The datasheet number writer against the interpreter's own shortest repr.

The writer is driven through a small C++ tool built with the C++ tests
(BRENVALIS_NUMBER_TEXT names it; scripts/test.sh sets it), so random doubles
can be checked without a test-only entry in the shipped module.
"""

import json
from decimal import Decimal
import os
import re
import struct
import subprocess

import pytest
from hypothesis import given, settings, strategies as st

TOOL = os.environ.get("BRENVALIS_NUMBER_TEXT")

pytestmark = pytest.mark.skipif(not TOOL, reason="BRENVALIS_NUMBER_TEXT is not set")


def bits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def writer(values):
    assert os.path.exists(TOOL), f"{TOOL} is missing: build the C++ tests first"
    stdin = "".join(f"{bits(v):x}\n" for v in values)
    result = subprocess.run([TOOL], input=stdin, capture_output=True, text=True, check=True, timeout=60)
    return result.stdout.splitlines()


def significant_digits(text: str) -> str:
    mantissa = re.split("[eE]", text.lstrip("-"))[0].replace(".", "")
    return mantissa.lstrip("0").rstrip("0") or "0"


def test_layout_table():
    # A list, not a dict: 0.0 and -0.0 are equal keys.
    table = [
        (24.0, "24.0"), (1e15, "1000000000000000.0"), (1776.86, "1776.86"), (0.00001, "0.00001"),
        (1e16, "1e+16"), (1.5e-7, "1.5e-7"), (1e-6, "1e-6"), (-0.0, "-0.0"), (0.0, "0.0"), (5e-324, "5e-324"),
        (1.7976931348623157e308, "1.7976931348623157e+308"), (-123.25, "-123.25"),
    ]
    assert writer([value for value, _ in table]) == [text for _, text in table]


@settings(max_examples=300, deadline=None)
@given(st.lists(st.floats(allow_nan=False, allow_infinity=False), min_size=1, max_size=200))
def test_random_doubles_round_trip_with_repr_digits(values):
    for value, text in zip(values, writer(values)):
        parsed = json.loads(text)
        assert type(parsed) is float, text
        assert bits(parsed) == bits(value), (value, text)
        assert significant_digits(text) == significant_digits(repr(value)), (value, text)
        exponent = Decimal(repr(value)).adjusted()  # power of ten of the first shortest digit
        if value and not -5 <= exponent <= 15:
            assert re.fullmatch(r"-?\d(\.\d+)?e[+-][1-9]\d*", text), text
        else:
            assert "e" not in text and "." in text, text
