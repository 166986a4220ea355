"""Every entry of the native module that takes arguments, fuzzed through the interpreter.

Run by scripts/fuzz.sh under atheris, with the module built for coverage and
both sanitizers. One input is one call (or, for the focused kinds, the same
value through every form of a call): which entry, how many positional and
keyword arguments, and what each is, all read from the input's bytes.

What must come out, beyond "no crash":
- binding: the binder's exact TypeError texts, from a small model of its
  rules (positional count first, keywords in the order given, then missing);
- names: the pure-Python twin brenvalis.Get decides. py_get_constant returns
  what Get returns and raises what Get raises, type and arguments, but for
  the one documented difference (an empty name: Get's ValueError, the core's
  PanicException with the same text); PyFormulasRegistry.get returns Get's
  "value" and has no empty-name check (KeyError for the empty name);
- tol: converted as the interpreter converts any real number (math.ldexp(x, 0)
  runs the same conversion), the wrapping of an exact TypeError, and then
  is_unitary of the identity matrix is exactly tol >= 0;
- listings: the twins' lists;
- a call by keyword gives what the same call by position gives.
Anything else, a SystemError or a PanicException among it, fails the input.

Texts are decoded from UTF-8 bytes, encoded surrogates allowed (ED A0 80 is
U+D800), and each byte that is no UTF-8 becomes a lone low surrogate, so any
text the interpreter can hold is reachable and the dictionary's UTF-8 tokens
arrive as they are.
"""

import math
import struct
import sys
import warnings
from pathlib import Path

import atheris

# The awkward values and the binder's model, which the pytest probe uses too.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
from call_model import (  # noqa: E402
    EvilText,
    FloatSubclass,
    IntSubclass,
    PretendsToBeStr,
    Raises,
    StrRaises,
    StrWrongType,
    Text,
    TypeErrorSubclass,
    UserBaseError,
    UserError,
    bind,
)

with atheris.instrument_imports(include=["brenvalis"]):
    import brenvalis
    from brenvalis import _catalogue

from brenvalis._tolvane_core import (
    PyCKMMatrix,
    PyFormulasRegistry,
    PyQuarkRegistry,
    py_get_constant,
    py_list_constants,
    py_list_quarks,
)

PANIC_MESSAGE = "py_get_constant: name must be non-empty"
REG = PyFormulasRegistry()
QREG = PyQuarkRegistry()
MATRIX = PyCKMMatrix.from_topology()


def _panic_class():
    try:
        py_get_constant("")
    except BaseException as error:  # noqa: BLE001
        return type(error)
    raise AssertionError("the empty name did not fail")


PanicException = _panic_class()


class Finding(AssertionError):
    pass


# ---- Awkward values (more of them in tests/python/call_model.py). ----


class StrLike:
    def __str__(self):
        return "b3"


class UserFloat:
    def __init__(self, behaviour):
        self.behaviour = behaviour

    def __float__(self):
        return self.behaviour()


class UserIndex:
    def __init__(self, behaviour):
        self.behaviour = behaviour

    def __index__(self):
        return self.behaviour()


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def byte(self):
        if self.at >= len(self.data):
            return 0
        self.at += 1
        return self.data[self.at - 1]

    def raw(self):
        n = self.byte()
        if n == 0xFF:
            # A long text: the next chunk repeated to some thousands of bytes.
            chunk = self.raw() or b"x"
            return chunk * (4096 // len(chunk) + 1)
        n %= 48
        out = self.data[self.at:self.at + n]
        self.at += n
        return out

    def text(self):
        raw = self.raw()
        try:
            return raw.decode("utf-8", "surrogatepass")
        except UnicodeDecodeError:
            return raw.decode("utf-8", "surrogateescape")

    def double(self):
        raw = bytes(self.byte() for _ in range(8))
        return struct.unpack("<d", raw)[0]

    def integer(self):
        raw = bytes(self.byte() for _ in range(self.byte() % 12))
        value = int.from_bytes(raw, "little", signed=True)
        shift = self.byte()
        # Now and then far beyond a double's range (2**1024 and up).
        return value << (shift * 5) if shift >= 0xC0 else value

    def behaviour(self):
        kind = self.byte() % 11
        results = [self.double, self.integer, lambda: FloatSubclass(self.double()), self.text, lambda: None,
                   lambda: bool(self.byte() & 1)]
        if kind < len(results):
            result = results[kind]()
            return lambda: result
        error = [ValueError, TypeError, TypeErrorSubclass, OverflowError, UserBaseError][kind - len(results)]
        chained = self.byte() & 1

        def raise_it():
            if chained:
                raise error("from user code") from UserError("inner")
            raise error("from user code")

        return raise_it

    def value(self):
        kind = self.byte() % 20
        if kind == 0:
            return self.text()
        if kind == 1:
            return Text(self.text())
        if kind == 2:
            return EvilText(self.text())
        if kind == 3:
            return PretendsToBeStr()
        if kind == 4:
            return self.integer()
        if kind == 5:
            return bool(self.byte() & 1)
        if kind == 6:
            return self.double()
        if kind == 7:
            return FloatSubclass(self.double())
        if kind == 8:
            try:
                return float(self.text())
            except ValueError:
                return 0.0
        if kind == 9:
            return UserFloat(self.behaviour())
        if kind == 10:
            return UserIndex(self.behaviour())
        if kind == 11:
            return None
        if kind == 12:
            return self.raw()
        if kind == 13:
            return IntSubclass(self.integer())
        if kind == 14:
            # A type whose qualified name is any text, lone surrogates included.
            cls = type("Named", (), {})
            try:
                cls.__qualname__ = self.text()
            except (TypeError, ValueError):
                pass
            return cls()
        if kind == 15:
            return [REG, QREG, MATRIX, PyFormulasRegistry, PyQuarkRegistry, PyCKMMatrix, object, str][self.byte() % 8]
        if kind == 16:
            return StrLike()
        if kind == 17:
            return self.text().encode("utf-8", "surrogatepass")
        if kind == 18:
            return object()
        return [self.value()]

    def keyword(self):
        kind = self.byte() % 8
        text = self.text()
        return [str, str, str, Text, EvilText, StrRaises, StrWrongType, str][kind](text)

    def call_shape(self):
        shape = self.byte()
        args = [self.value() for _ in range(shape % 4)]
        kwargs = {}
        for _ in range((shape >> 2) % 4):
            key = self.keyword()
            kwargs[key] = self.value()
        return args, kwargs


# ---- Outcomes and the model of the binder. ----


def outcome(function, args=(), kwargs=None):
    """A comparable record of what a call did; SystemError is never acceptable.

    The call's keywords travel as a dict, never as this function's own
    keywords: a str subclass equal to everything would match its parameters.
    """
    try:
        result = function(*args, **(kwargs or {}))
    except BaseException as error:  # noqa: BLE001 - everything that comes out is compared
        if isinstance(error, SystemError):
            raise Finding(f"SystemError from {function!r}: {error!r}") from error
        cause = error.__cause__
        return ("raised", type(error), error.args, None if cause is None else (type(cause), cause.args))
    if isinstance(result, dict):
        return ("dict", [(key, type(value), value) for key, value in result.items()])
    return ("value", type(result), result)


def expect(got, expected, what):
    if isinstance(expected, Raises):
        ok = (got[0] == "raised" and got[1] is expected.type
              and (expected.args is None or got[2] == expected.args))
    else:
        ok = got == expected
    if not ok:
        shown = expected if not isinstance(expected, Raises) else ("raised", expected.type, expected.args)
        raise Finding(f"{what}: got {got!r}, expected {shown!r}")


# ---- What each entry must do, once bound. ----


def twin_sheet(name):
    """py_get_constant's outcome, as the pure-Python twin decides it."""
    python_side = outcome(_catalogue.Get, (name,))
    if python_side[0] == "raised" and python_side[1] is ValueError and python_side[2] == (PANIC_MESSAGE,):
        return ("raised", PanicException, (PANIC_MESSAGE,), None)
    return python_side


def twin_value(name):
    """PyFormulasRegistry.get's outcome, from the twin's datasheet."""
    python_side = outcome(_catalogue.Get, (name,))
    if python_side[0] == "raised":
        if python_side[1] is ValueError and python_side[2] == (PANIC_MESSAGE,):
            return ("raised", KeyError, ("constant `` not found in registry",), None)
        return python_side
    value = dict((key, value) for key, _, value in python_side[1])["value"]
    return ("value", float, value)


def tol_verdict(tol):
    try:
        converted = math.ldexp(tol, 0)
    except BaseException as error:  # noqa: BLE001
        if type(error) is TypeError:
            cause = error.__cause__
            return ("raised", TypeError, (f"argument 'tol': {error}",),
                    None if cause is None else (type(cause), cause.args))
        return ("raised", type(error), error.args, None if error.__cause__ is None else
                (type(error.__cause__), error.__cause__.args))
    return ("value", bool, converted >= 0.0)


def check_bound(full_name, params, function, args, kwargs, decide):
    got = outcome(function, args, kwargs)
    bound = bind(full_name, params, args, kwargs)
    if isinstance(bound, Raises):
        expect(got, bound, f"{full_name} bound with {len(args)} positional, keywords {list(kwargs)!r}")
    else:
        expect(got, decide(*bound), f"{full_name}{tuple(bound)!r}")


def check_no_arguments(function, args, kwargs, expected):
    got = outcome(function, args, kwargs)
    expect(got, Raises(TypeError) if args or kwargs else expected, repr(function))


def check_every_form(single, twin, value, param):
    """The same value by position and by keyword, on both entries that take it."""
    for function in single:
        positional = outcome(function, (value,))
        by_keyword = outcome(function, (), {param: value})
        expect(positional, twin(value), f"{function.__qualname__}({value!r})")
        expect(by_keyword, positional, f"{function.__qualname__}({param}={value!r}) against by position")


def made(function, args, kwargs):
    got = outcome(function, args, kwargs)
    if got[0] == "value" and got[1] in (PyFormulasRegistry, PyQuarkRegistry):
        return ("value", got[1], len(got[2]))
    return got


def test_one_input(data):
    read = Reader(data)
    entry = read.byte() % 14
    if entry == 0:
        check_every_form([py_get_constant], twin_sheet, read.value(), "name")
        check_every_form([REG.get], twin_value, read.value(), "name")
        return
    if entry == 1:
        check_every_form([MATRIX.is_unitary], tol_verdict, read.value(), "tol")
        return
    args, kwargs = read.call_shape()
    if entry == 2:
        check_bound("py_get_constant()", ["name"], py_get_constant, args, kwargs, twin_sheet)
    elif entry == 3:
        check_bound("PyFormulasRegistry.get()", ["name"], REG.get, args, kwargs, twin_value)
    elif entry == 4:
        check_bound("PyCKMMatrix.is_unitary()", ["tol"], MATRIX.is_unitary, args, kwargs, tol_verdict)
    elif entry == 5:
        got = made(PyFormulasRegistry, args, kwargs)
        bound = bind("PyFormulasRegistry.__new__()", [], args, kwargs)
        expect(got, bound if isinstance(bound, Raises) else ("value", PyFormulasRegistry, 17), "PyFormulasRegistry()")
    elif entry == 6:
        got = made(PyQuarkRegistry, args, kwargs)
        bound = bind("PyQuarkRegistry.__new__()", [], args, kwargs)
        expect(got, bound if isinstance(bound, Raises) else ("value", PyQuarkRegistry, 0), "PyQuarkRegistry()")
    elif entry == 7:
        expect(outcome(PyCKMMatrix, args, kwargs),
               Raises(TypeError, ("No constructor defined for PyCKMMatrix",)), "PyCKMMatrix()")
    elif entry == 8:
        check_no_arguments(py_list_constants, args, kwargs, outcome(brenvalis.list_constants))
        check_no_arguments(py_list_quarks, args, kwargs, outcome(brenvalis.list_quarks))
    elif entry == 9:
        check_no_arguments(PyFormulasRegistry.version, args, kwargs, ("value", str, "2.3.0"))
        check_no_arguments(REG.version, args, kwargs, ("value", str, "2.3.0"))
        check_no_arguments(MATRIX.jarlskog, args, kwargs, ("value", float, 0.0))
    elif entry == 10:
        got = outcome(PyCKMMatrix.from_topology, args, kwargs)
        if args or kwargs:
            expect(got, Raises(TypeError), "from_topology")
        elif got[0] != "value" or got[1] is not PyCKMMatrix or got[2].jarlskog() != 0.0 or got[2] is MATRIX:
            raise Finding(f"from_topology() gave {got!r}")
    elif entry in (11, 12):
        # Unbound methods with any receiver: the interpreter checks its type
        # before the module is entered.
        receiver = args[0] if args else read.value()
        rest = args[1:]
        if entry == 11:
            method, right, full, params, decide = PyFormulasRegistry.get, REG, "PyFormulasRegistry.get()", ["name"], twin_value
        else:
            method, right, full, params, decide = (PyCKMMatrix.is_unitary, MATRIX, "PyCKMMatrix.is_unitary()", ["tol"],
                                                   tol_verdict)
        if type(receiver) is type(right):
            check_bound(full, params, lambda *a, **k: method(receiver, *a, **k), rest, kwargs, decide)
        else:
            expect(outcome(method, (receiver, *rest), kwargs), Raises(TypeError), f"{full} on {type(receiver)}")
    else:
        cls = [PyFormulasRegistry, PyQuarkRegistry, PyCKMMatrix][read.byte() % 3]
        target = args[0] if args else cls
        rest = args[1:]
        got = made(cls.__new__, (target, *rest), kwargs)
        if target is not cls:
            expect(got, Raises(TypeError), f"{cls.__name__}.__new__({target!r})")
        elif cls is PyCKMMatrix:
            expect(got, Raises(TypeError, ("No constructor defined for PyCKMMatrix",)), "PyCKMMatrix.__new__")
        else:
            bound = bind(f"{cls.__name__}.__new__()", [], rest, kwargs)
            expect(got, bound if isinstance(bound, Raises) else ("value", cls, 17 if cls is PyFormulasRegistry else 0),
                   f"{cls.__name__}.__new__")


def main():
    # A __float__ returning a float subclass, or an __index__ returning a
    # bool, is deprecated and accepted; the warning is noise here.
    warnings.simplefilter("ignore")
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
