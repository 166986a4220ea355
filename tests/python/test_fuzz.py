"""Arbitrary arguments to every entry, checked against a model of the binding rules.

Hypothesis draws positional and keyword arguments of every awkward kind: ints
of any size, floats including NaN and infinities, str with lone surrogates and
NULs, bytes, str and float subclasses, objects whose __float__, __index__ or
__str__ raise or return the wrong type, objects that only pretend to be a str,
and keyword names of any text (also str subclasses). For each call a small
model of the binder and the conversions says what must come out: the value,
or the exact exception type and, where the module writes it, the exact
message. So nothing else can come out: no SystemError, no PanicException
except for the empty name, no crash.

The model uses two interpreter facilities as oracles: math.ldexp(x, 0) runs
the same float conversion as the module (exact float fast path, then the
interpreter's conversion), and str.encode(text, "utf-8") fails exactly where
the interpreter's UTF-8 view of a str does.
"""

import math
from dataclasses import dataclass

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from call_model import (
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
from conftest import MATRIX, NAMES, QREG, REG, SHEETS
from brenvalis._tolvane_core import (
    PyCKMMatrix,
    PyFormulasRegistry,
    PyQuarkRegistry,
    py_get_constant,
    py_list_constants,
    py_list_quarks,
)

PANIC_MESSAGE = "py_get_constant: name must be non-empty"

# A __float__ that returns a float subclass, or an __index__ that returns an
# int subclass such as bool, is deprecated, and the interpreter says so each
# time; the wording changed in 3.15, this part of it did not.
pytestmark = pytest.mark.filterwarnings(
    "ignore:.*an instance of a strict subclass of (float|int) is deprecated:DeprecationWarning"
)

FUZZ = settings(max_examples=250, deadline=None, suppress_health_check=[HealthCheck.too_slow])


# ---- Awkward argument kinds. ----


ERRORS = [ValueError, TypeError, TypeErrorSubclass, OverflowError, ZeroDivisionError, UserError, UserBaseError]


@dataclass(frozen=True)
class Behaviour:
    """What a user dunder does: return `result`, or raise `error(message)`."""

    result: object = None
    error: type | None = None

    def __call__(self):
        if self.error is not None:
            raise self.error("from user code")
        return self.result


class UserFloat:
    def __init__(self, behaviour):
        self.behaviour = behaviour

    def __float__(self):
        return self.behaviour()

    def __repr__(self):
        return f"UserFloat({self.behaviour})"


class UserIndex:
    def __init__(self, behaviour):
        self.behaviour = behaviour

    def __index__(self):
        return self.behaviour()

    def __repr__(self):
        return f"UserIndex({self.behaviour})"


class UserFloatAndIndex(UserFloat):
    def __index__(self):
        raise AssertionError("__float__ comes first")


any_char = st.characters(exclude_categories=())  # lone surrogates included
texts = st.text(any_char, max_size=10) | st.text(st.sampled_from("b3\x00\ud800\udfff\xe9_"), max_size=5)
names = st.sampled_from([*NAMES, "", "B3", "b3\x00", "\x00", "b3 ", "\u00e9", "\ud800", "b\udc803"]) | texts
ints = st.integers() | st.integers(min_value=2**52) | st.integers(max_value=-(2**1100)) | st.booleans()
floats = st.floats() | st.sampled_from([0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, -1e-12])
behaviours = st.builds(Behaviour, result=floats | ints | floats.map(FloatSubclass) | texts | st.none()) | st.builds(
    Behaviour, error=st.sampled_from(ERRORS))
values = st.one_of(
    names,
    names.map(Text),
    names.map(EvilText),
    ints,
    ints.map(IntSubclass),
    floats,
    floats.map(FloatSubclass),
    st.binary(max_size=6),
    st.none(),
    st.builds(PretendsToBeStr),
    behaviours.map(UserFloat),
    behaviours.map(UserIndex),
    behaviours.map(UserFloatAndIndex),
    st.lists(st.integers(), max_size=2),
    st.builds(object),
)
keyword_texts = st.sampled_from(["name", "tol", "key", "nam", "name\x00", "n\u00e4me", "\udc80"]) | texts
keywords = st.one_of(keyword_texts, keyword_texts.map(Text), keyword_texts.map(EvilText),
                     keyword_texts.map(StrRaises), keyword_texts.map(StrWrongType))
positionals = st.lists(values, max_size=3)
keyword_arguments = st.dictionaries(keywords, values, max_size=3)


# ---- The model. ----


@dataclass
class Returns:
    check: object  # result -> bool


def interpreter_error(error: BaseException) -> Raises:
    return Raises(type(error), error.args)


def convert_name(value):
    """The UTF-8 text of a name argument, or the Raises for it."""
    if not issubclass(type(value), str):
        return Raises(TypeError, (f"argument 'name': '{type(value).__qualname__}' object cannot be converted "
                                  "to 'PyString'",))
    try:
        str.encode(value, "utf-8")
    except UnicodeEncodeError as error:
        return Raises(UnicodeEncodeError, None)
    return str.__str__(value)


def convert_tol(value):
    try:
        return math.ldexp(value, 0)
    except BaseException as error:  # noqa: BLE001
        if type(error) is TypeError:
            return Raises(TypeError, (f"argument 'tol': {error}",))
        return interpreter_error(error)


def not_found(text):
    return Raises(KeyError, (f"constant `{text}` not found in registry",))


def model_get_constant(args, kwargs):
    bound = bind("py_get_constant()", ["name"], args, kwargs)
    if isinstance(bound, Raises):
        return bound
    text = convert_name(bound[0])
    if isinstance(text, Raises):
        return text
    if text == "":
        return Raises(PanicException, (PANIC_MESSAGE,))
    if text not in SHEETS:
        return not_found(text)
    return Returns(lambda sheet: type(sheet) is dict and sheet == SHEETS[text] and sheet is not SHEETS[text])


def model_get(args, kwargs):
    bound = bind("PyFormulasRegistry.get()", ["name"], args, kwargs)
    if isinstance(bound, Raises):
        return bound
    text = convert_name(bound[0])
    if isinstance(text, Raises):
        return text
    if text not in SHEETS:
        return not_found(text)
    expected = SHEETS[text]["value"]
    return Returns(lambda value: type(value) is float and value == expected)


def model_is_unitary(args, kwargs):
    bound = bind("PyCKMMatrix.is_unitary()", ["tol"], args, kwargs)
    if isinstance(bound, Raises):
        return bound
    tol = convert_tol(bound[0])
    if isinstance(tol, Raises):
        return tol
    return Returns(lambda verdict: verdict is (tol >= 0.0))


def model_new(class_name, check):
    def model(args, kwargs):
        bound = bind(f"{class_name}.__new__()", [], args, kwargs)
        return bound if isinstance(bound, Raises) else Returns(check)

    return model


def model_no_arguments(check):
    def model(args, kwargs):
        if args or kwargs:
            return Raises(TypeError)  # the interpreter's own refusal
        return Returns(check)

    return model


def _panic_class():
    try:
        py_get_constant("")
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("the empty name did not fail")


PanicException = _panic_class()

ENTRIES = {
    "py_list_constants": (py_list_constants, model_no_arguments(lambda r: r == NAMES)),
    "py_list_quarks": (py_list_quarks, model_no_arguments(lambda r: r == ["bottom", "charm", "down", "strange",
                                                                             "top", "up"])),
    "py_get_constant": (py_get_constant, model_get_constant),
    "PyFormulasRegistry": (PyFormulasRegistry, model_new("PyFormulasRegistry",
                                                         lambda r: type(r) is PyFormulasRegistry and len(r) == 17)),
    "PyQuarkRegistry": (PyQuarkRegistry, model_new("PyQuarkRegistry",
                                                   lambda r: type(r) is PyQuarkRegistry and len(r) == 0)),
    "PyCKMMatrix": (PyCKMMatrix, lambda args, kwargs: Raises(TypeError, ("No constructor defined for PyCKMMatrix",))),
    "get": (REG.get, model_get),
    "version": (REG.version, model_no_arguments(lambda r: r == "2.3.0")),
    "PyFormulasRegistry.version": (PyFormulasRegistry.version, model_no_arguments(lambda r: r == "2.3.0")),
    "from_topology": (PyCKMMatrix.from_topology, model_no_arguments(
        lambda m: type(m) is PyCKMMatrix and m is not MATRIX and m.jarlskog() == 0.0)),
    "is_unitary": (MATRIX.is_unitary, model_is_unitary),
    "jarlskog": (MATRIX.jarlskog, model_no_arguments(lambda r: type(r) is float and r == 0.0)),
}


def check_call(function, args, kwargs, expected):
    try:
        result = function(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - the point is to see everything that comes out
        assert type(error) is not SystemError, error
        assert isinstance(expected, Raises), f"raised {error!r}, expected a value"
        assert type(error) is expected.type, f"raised {error!r}, expected {expected}"
        if expected.args is not None:
            assert error.args == expected.args
        if type(error) is PanicException:
            assert error.args == (PANIC_MESSAGE,)
        return
    assert isinstance(expected, Returns), f"returned {result!r}, expected {expected}"
    assert expected.check(result), f"returned {result!r}"


@pytest.mark.parametrize("entry", ENTRIES)
@FUZZ
@given(args=positionals, kwargs=keyword_arguments)
def test_every_entry_with_arbitrary_arguments(entry, args, kwargs):
    function, model = ENTRIES[entry]
    check_call(function, args, kwargs, model(args, kwargs))


@FUZZ
@given(name=values)
def test_one_name_by_position_and_by_keyword(name):
    # Most drawn call shapes fail in the binder; this puts every value through
    # the conversions and the lookup.
    for function, model in (ENTRIES["py_get_constant"], ENTRIES["get"]):
        check_call(function, (name,), {}, model((name,), {}))
        check_call(function, (), {"name": name}, model((), {"name": name}))


@FUZZ
@given(tol=values)
def test_one_tol_by_position_and_by_keyword(tol):
    function, model = ENTRIES["is_unitary"]
    check_call(function, (tol,), {}, model((tol,), {}))
    check_call(function, (), {"tol": tol}, model((), {"tol": tol}))


RECEIVER_CHECKED = [
    (PyFormulasRegistry.get, REG, ENTRIES["get"][1]),
    (PyCKMMatrix.is_unitary, MATRIX, ENTRIES["is_unitary"][1]),
    (PyCKMMatrix.jarlskog, MATRIX, ENTRIES["jarlskog"][1]),
    (PyFormulasRegistry.__len__, REG, model_no_arguments(lambda n: n == 17)),
    (PyQuarkRegistry.__len__, QREG, model_no_arguments(lambda n: n == 0)),
]


@pytest.mark.parametrize("method, receiver, model", RECEIVER_CHECKED)
@FUZZ
@given(other=values | st.sampled_from([REG, QREG, MATRIX]), args=positionals, kwargs=keyword_arguments)
def test_unbound_methods_with_any_receiver(method, receiver, model, other, args, kwargs):
    if type(other) is type(receiver):
        expected = model(args, kwargs)
    else:
        # The interpreter checks the receiver's type (the real one, not what
        # __class__ claims) before the module is entered.
        expected = Raises(TypeError)
    check_call(method, (other, *args), kwargs, expected)


@pytest.mark.parametrize("cls", [PyFormulasRegistry, PyQuarkRegistry, PyCKMMatrix])
@FUZZ
@given(target=values | st.sampled_from([PyFormulasRegistry, PyQuarkRegistry, PyCKMMatrix, object, int, type]),
       args=positionals, kwargs=keyword_arguments)
def test_dunder_new_with_any_target(cls, target, args, kwargs):
    if target is cls:
        expected = ENTRIES[cls.__name__][1](args, kwargs)
    else:
        expected = Raises(TypeError)  # not a type, or not a subtype: the interpreter refuses
    check_call(cls.__new__, (target, *args), kwargs, expected)
