"""Command line of brenvalis: ``python -m brenvalis`` and the ``brenvalis`` script.

Every answer comes from the native core. Bad names are the user's mistake, not
the program's: they get one line on standard error and exit status 1, never a
traceback.
"""

from __future__ import annotations

import os
import sys

from brenvalis import _tolvane_core as core

# Type checkers take any name TYPE_CHECKING as true; typing's own would load typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from collections.abc import Callable, Sequence
    from typing import Any

PROG = "brenvalis"
DEFAULT_TOL = 1e-12


def _parser() -> argparse.ArgumentParser:
    import argparse

    parser = argparse.ArgumentParser(
        prog=PROG,
        description="A catalogue of physical constants and flavour-sector objects.",
    )
    parser.add_argument("--version", action="version", version=_version_line())
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.add_parser("constants", help="table of every constant: name, value, units, status")
    get = commands.add_parser("get", help="the datasheet of one constant")
    get.add_argument("name", metavar="NAME", help="constant name, such as b3 (case matters)")
    get.add_argument("--json", action="store_true", help="print the datasheet as one compact JSON object")
    commands.add_parser("quarks", help="the six quark names")
    ckm = commands.add_parser("ckm", help="the CKM matrix: unitarity and Jarlskog invariant")
    ckm.add_argument(
        "--tol", type=float, default=DEFAULT_TOL, metavar="TOL",
        help="largest accepted absolute value of an entry of M*M^T - I; nan never passes "
             "(default: %(default)s; write a negative one as --tol=-1e-12)",
    )
    return parser


def _plain_request(argv: list[str]) -> dict[str, Any] | None:
    """What argparse would make of a command line written out plainly; None for any other.

    Importing argparse and building this parser take about 55 M instructions
    (CPython 3.12), some ten times what `brenvalis --version` costs without
    them, so the command lines people type are read here: each command with
    its options spelt in full, at most once, and a NAME or a separate TOL
    that does not start with "-" (argparse may take such an argument for an
    option). Everything else (help, abbreviated or repeated options, "--",
    usage errors) goes to argparse, which answers with its own texts and
    statuses. The keys are argparse's dests, "command" among them;
    "--version" stands for the option argparse acts on itself. (argparse
    would wrap the version line in a terminal narrower than 17 columns; read
    here it stays one line.)
    """
    match argv:
        case []:
            return {"command": None}
        case ["--version"]:
            return {"command": "--version"}
        case ["constants" | "quarks" as command]:
            return {"command": command}
        case ["get", name] if not name.startswith("-"):
            return {"command": "get", "name": name, "json": False}
        case ["get", "--json", name] | ["get", name, "--json"] if not name.startswith("-"):
            return {"command": "get", "name": name, "json": True}
        case ["ckm"]:
            return {"command": "ckm", "tol": DEFAULT_TOL}
        case ["ckm", "--tol", text] if not text.startswith("-"):
            return _ckm_request(text)
        case ["ckm", option] if option.startswith("--tol="):
            return _ckm_request(option.removeprefix("--tol="))
    return None


def _ckm_request(text: str) -> dict[str, Any] | None:
    try:
        return {"command": "ckm", "tol": float(text)}
    except ValueError:
        # argparse converts TOL the same way and reports the failure in its own words.
        return None


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the process exit status."""
    argv = sys.argv[1:] if argv is None else list(argv)
    request = _plain_request(argv)
    if request is None:
        try:
            request = vars(_parser().parse_args(argv))
        except SystemExit as exit:
            # --help, --version and usage errors: argparse has printed its text.
            return exit.code if isinstance(exit.code, int) else 0
    commands: dict[str | None, Callable[..., int]] = {
        None: _overview,
        "--version": _version,
        "constants": _constants,
        "get": _get,
        "quarks": _quarks,
        "ckm": _ckm,
    }
    run = commands[request.pop("command")]
    try:
        status = run(**request)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader went away (`brenvalis constants | head -1`). Stop quietly,
        # and point stdout at nothing so the interpreter's final flush does not
        # report the same pipe again.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return status


def _fail(message: str) -> int:
    print(f"{PROG}: {message}", file=sys.stderr)
    return 1


def _one_line(text: str) -> str:
    """The text itself if it prints as one clean line, else its escaped form."""
    return text if text.isprintable() else repr(text)[1:-1]


def _as_typed(name: str) -> str:
    """The escaped form of a name that is not valid UTF-8, as the user typed it.

    Each byte of argv that is not UTF-8 arrives as a lone surrogate
    U+DC80..U+DCFF (the file-system decoding's surrogateescape); it is shown
    as the byte, \\xNN. Everything else is escaped as repr() escapes it.
    """
    return "".join(f"\\x{ord(c) - 0xDC00:02x}" if "\udc80" <= c <= "\udcff" else repr(c)[1:-1] for c in name)


def _number(value: float | None) -> str:
    # repr gives the shortest text that reads back as the same float.
    return "none" if value is None else repr(value)


def _version_line() -> str:
    return f"{PROG} {core.__version__}"


def _version() -> int:
    print(_version_line())
    return 0


def _overview() -> int:
    print(_version_line())
    print(f"{len(core.py_list_constants())} constants, {len(core.py_list_quarks())} quarks")
    print("commands: constants, get NAME [--json], quarks, ckm [--tol TOL]  (--help for more)")
    return 0


def _constants() -> int:
    rows = [("NAME", "VALUE", "UNITS", "STATUS")]
    for name in core.py_list_constants():
        sheet = core.py_get_constant(name)
        rows.append((sheet["name"], _number(sheet["value"]), sheet["units"], sheet["status"]))
    widths = [max(len(row[column]) for row in rows) for column in range(3)]
    for name, value, units, status in rows:
        print(f"{name:<{widths[0]}}  {value:>{widths[1]}}  {units:<{widths[2]}}  {status}")
    return 0


def _get(name: str, json: bool) -> int:
    # The core treats an empty name as a broken caller (PanicException); on
    # the command line it is only a typing slip, so it never gets that far.
    if not name:
        return _fail("constant name must be non-empty")
    try:
        sheet = core.py_get_constant(name)
    except KeyError as error:
        return _fail(_one_line(str(error.args[0])))
    except UnicodeEncodeError:
        return _fail(f"constant name `{_as_typed(name)}` is not valid UTF-8")
    if json:
        # py_get_constant has imported the module: this only looks it up.
        from json import dumps

        print(dumps(sheet, separators=(",", ":")))
        return 0
    width = max(len(key) for key in sheet)
    for key, value in sheet.items():
        text = _number(value) if value is None or isinstance(value, float) else str(value)
        print(f"{key:<{width}}  {text}")
    return 0


def _quarks() -> int:
    for name in core.py_list_quarks():
        print(name)
    return 0


def _ckm(tol: float) -> int:
    matrix = core.PyCKMMatrix.from_topology()
    print("CKM matrix built from the topology")
    print(f"unitary within tol {tol!r}: {'yes' if matrix.is_unitary(tol) else 'no'}")
    print(f"Jarlskog invariant J: {matrix.jarlskog()!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
