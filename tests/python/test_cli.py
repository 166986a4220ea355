"""The command line: python -m brenvalis and the brenvalis script."""

import contextlib
import io
import itertools
import json
import math
import subprocess
import sys
from pathlib import Path

import pytest

from brenvalis import __version__
from brenvalis.__main__ import _parser, _plain_request, main
from brenvalis._tolvane_core import py_get_constant, py_list_constants, py_list_quarks


def run(capsys, *argv):
    status = main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


def test_overview_without_a_command(capsys):
    status, out, err = run(capsys)
    assert status == 0 and err == ""
    lines = out.splitlines()
    assert lines[0] == f"brenvalis {__version__}"
    assert lines[1] == "17 constants, 6 quarks"


def test_version_and_quarks(capsys):
    assert run(capsys, "--version") == (0, "brenvalis 2.3.0\n", "")
    assert run(capsys, "quarks") == (0, "".join(f"{q}\n" for q in py_list_quarks()), "")


def test_constants_table_is_aligned_and_matches_the_datasheets(capsys):
    status, out, err = run(capsys, "constants")
    assert status == 0 and err == ""
    lines = out.splitlines()
    assert lines[0].split() == ["NAME", "VALUE", "UNITS", "STATUS"]
    assert len(lines) == 1 + len(py_list_constants())
    # Every row starts its units and status columns at the same place.
    units_at = lines[0].index("UNITS")
    status_at = lines[0].index("STATUS")
    for line, name in zip(lines[1:], py_list_constants(), strict=True):
        sheet = py_get_constant(name)
        row_name, value, units, row_status = line.split()
        assert (row_name, units, row_status) == (name, sheet["units"], sheet["status"])
        assert float(value) == sheet["value"] and math.copysign(1, float(value)) == math.copysign(1, sheet["value"])
        assert line[units_at - 2:units_at] == "  " and line[units_at] != " "
        assert line[status_at:] == sheet["status"]
    phi_row = next(line for line in lines if line.startswith("phi "))
    assert "1.618033988749895" in phi_row


def test_get_prints_the_datasheet(capsys):
    status, out, err = run(capsys, "get", "topo_gen_check")
    assert (status, err) == (0, "")
    assert out.splitlines() == [
        "name         topo_gen_check",
        "status       Pending",
        "uncertainty  none",
        "units        count",
        "value        0.0",
    ]


def test_get_json_is_the_compact_datasheet_of_every_constant(capsys):
    assert run(capsys, "get", "b3", "--json") == (
        0, '{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}\n', "")
    for name in py_list_constants():
        status, out, err = run(capsys, "get", "--json", name)
        assert (status, err) == (0, "")
        assert out == json.dumps(py_get_constant(name), separators=(",", ":")) + "\n"


@pytest.mark.parametrize(
    "argv, message",
    [
        (["get", "B3"], "brenvalis: constant `B3` not found in registry\n"),
        (["get", ""], "brenvalis: constant name must be non-empty\n"),
        (["get", "--json", ""], "brenvalis: constant name must be non-empty\n"),
        (["get", "a`b"], "brenvalis: constant `a`b` not found in registry\n"),
        (["get", "a\nb"], "brenvalis: constant `a\\nb` not found in registry\n"),
        (["get", "é"], "brenvalis: constant `é` not found in registry\n"),
        # Bytes that are not UTF-8 reach argv as lone surrogates; they are
        # shown as the bytes typed, and the rest escaped as repr() does.
        (["get", "b3\udcff"], "brenvalis: constant name `b3\\xff` is not valid UTF-8\n"),
        (["get", "\udc80a\\b\n\udcc3"], "brenvalis: constant name `\\x80a\\\\b\\n\\xc3` is not valid UTF-8\n"),
        # A lone surrogate that no byte maps to cannot come from argv; it stays as it is.
        (["get", "\ud800\udcff"], "brenvalis: constant name `\\ud800\\xff` is not valid UTF-8\n"),
    ],
)
def test_bad_names_give_one_line_and_status_1(capsys, argv, message):
    assert run(capsys, *argv) == (1, "", message)


@pytest.mark.parametrize(
    "argv", [["get"], ["nope"], ["get", "b3", "extra"], ["ckm", "--tol"], ["ckm", "--tol", "tiny"], ["--bogus"]]
)
def test_usage_errors_exit_2_with_usage(capsys, argv):
    status, out, err = run(capsys, *argv)
    assert (status, out) == (2, "")
    assert err.startswith("usage: brenvalis")
    assert "Traceback" not in err


@pytest.mark.parametrize(
    "tol_args, verdict",
    [
        ([], "unitary within tol 1e-12: yes"),
        (["--tol", "0"], "unitary within tol 0.0: yes"),
        (["--tol", "-0.0"], "unitary within tol -0.0: yes"),
        (["--tol=-1e-12"], "unitary within tol -1e-12: no"),
        (["--tol", "nan"], "unitary within tol nan: no"),
        (["--tol", "inf"], "unitary within tol inf: yes"),
    ],
)
def test_ckm(capsys, tol_args, verdict):
    assert run(capsys, "ckm", *tol_args) == (
        0, f"CKM matrix built from the topology\n{verdict}\nJarlskog invariant J: 0.0\n", "")


# Every command line of up to three of these is tried: the commands, their
# options in full, abbreviated and repeated, and arguments that argparse may
# or may not take for options.
TOKENS = ["get", "b3", "", "-5", "--json", "--js", "ckm", "--tol", "nan", "tiny", "--tol=-1e-12", "--tol=", "--", "-h",
          "--version", "constants", "quarks"]
# What people type, which must never need argparse (it costs more than the command).
TYPED = [(), ("--version",), ("constants",), ("quarks",), ("get", "b3"), ("get", "--json", "b3"), ("get", "b3", "--json"),
         ("get", ""), ("ckm",), ("ckm", "--tol", "nan"), ("ckm", "--tol=-1e-12")]


def test_command_lines_read_without_argparse_are_read_as_argparse_reads_them():
    parser = _parser()
    plain = set()
    for argv in itertools.chain.from_iterable(itertools.product(TOKENS, repeat=n) for n in range(4)):
        request = _plain_request(list(argv))
        if request is None:
            continue
        plain.add(argv)
        out = io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
            try:
                expected = vars(parser.parse_args(argv))
            except SystemExit as exit:
                expected = {"exit": exit.code, "stdout": out.getvalue()}
        if request == {"command": "--version"}:
            request = {"exit": 0, "stdout": f"brenvalis {__version__}\n"}
        # By repr, so that nan matches nan and -0.0 does not match 0.0.
        assert repr(request) == repr(expected), argv
    assert set(TYPED) <= plain


def script_path() -> Path:
    return Path(sys.executable).with_name("brenvalis")


@pytest.mark.parametrize(
    "command, status, stdout, stderr",
    [
        ([sys.executable, "-m", "brenvalis", "get", "b3", "--json"], 0,
         '{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}\n', ""),
        ([script_path(), "quarks"], 0, "bottom\ncharm\ndown\nstrange\ntop\nup\n", ""),
        ([script_path(), "get", "B3"], 1, "", "brenvalis: constant `B3` not found in registry\n"),
        # Nothing of the core's failure report: the empty name never reaches it.
        ([sys.executable, "-m", "brenvalis", "get", ""], 1, "", "brenvalis: constant name must be non-empty\n"),
        ([script_path(), "get", b"b3\xff"], 1, "", "brenvalis: constant name `b3\\xff` is not valid UTF-8\n"),
    ],
)
def test_module_and_console_script_in_a_subprocess(command, status, stdout, stderr):
    result = subprocess.run(command, capture_output=True, text=True, timeout=120, cwd=Path(__file__).parent)
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)


@pytest.mark.parametrize("command", ["constants", "--version"])
def test_closed_stdout_gives_no_traceback(command):
    process = subprocess.Popen(
        [sys.executable, "-m", "brenvalis", command],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=Path(__file__).parent,
    )
    process.stdout.close()  # long before the child has written anything
    stderr = process.stderr.read().decode()
    process.stderr.close()
    assert process.wait(timeout=120) in (0, 1)
    assert stderr == ""
