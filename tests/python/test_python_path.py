"""The pure-Python path against the native core: one table of inputs, both paths."""

import decimal
import math

import pytest

import brenvalis
from brenvalis import _catalogue, _tables
from brenvalis._tolvane_core import py_get_constant, py_list_constants, py_list_quarks
from call_model import EvilText


class EvilStr(EvilText):
    """Lies when formatted too; both paths must read the str's own text."""

    def __format__(self, spec):
        return "b3"


class StrLike:
    """Not a str, though it converts to one."""

    def __str__(self):
        return "b3"


class PretendsToBeStr:
    """Not a str, though isinstance(x, str) says so through __class__."""

    @property
    def __class__(self):
        return str


NAMES = [
    "b3", "chi_eff", "gamma_em", "h0_central", "jc_constant", "logic_closure", "m_tau_mev", "n_gen",
    "n_gen_sq", "phi", "roots_total", "sterile_check", "sterile_sector", "topo_gen_check", "v_higgs_mev",
    "visible_sector", "w0_central",
]

CASES = [
    *NAMES,
    # unknown: case, spacing, prefixes and extensions of real names
    "B3", " b3", "b3 ", "b", "b33", "n_ge", "n_gen_sq_", "PHI", "phi\t",
    # characters the message must carry through untouched
    "`", "a`b`c", "``", "a\nb", "\n", "\r\n", "\x00", "b3\x00", "\x00b3", "\x7f", "\\", '"', "{}", "{name}",
    "é", "b\u00e93", "名前", "\U0001f600", "\ufeffb3", "b\u0333",
    "x" * 10_000,
    # no UTF-8 form: the interpreter's own UnicodeEncodeError, with the same span
    "\ud800", "a\udcff", "b3\udfff\ud800z", "\udbff\udfff",
    # str subclasses: the text counts, not the overridden methods
    EvilStr("n_gen"), EvilStr("nope"), EvilStr("a`\n"),
    # not str at all
    3, 3.0, None, True, b"b3", bytearray(b"b3"), ["b3"], ("b3",), {"name": "b3"}, StrLike(), PretendsToBeStr(), object(),
    # a type whose qualified name has no UTF-8 form
    type("Unnamed", (), {"__qualname__": "\ud800"})(),
    str, EvilStr,
]


def outcome(function, *args, **kwargs):
    """What a call produced, in a form that compares types as well as values."""
    try:
        result = function(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - every ordinary exception is compared
        return ("raised", type(error), error.args, error.__cause__, error.__context__)
    if isinstance(result, dict):
        return ("dict", [(key, type(value), value) for key, value in result.items()])
    return (type(result).__name__, [(type(item), item) for item in result])


def case_id(case):
    # A repr that shows an address differs between processes, and parallel
    # runs need every process to collect the same tests.
    text = ascii(case)
    return (f"{type(case).__qualname__}()" if " at 0x" in text else text)[:40]


@pytest.mark.parametrize("name", CASES, ids=case_id)
def test_get_matches_native_datasheet(name):
    python_side = outcome(brenvalis.Get, name)
    native_side = outcome(py_get_constant, name)
    assert python_side == native_side
    assert outcome(brenvalis.Get, name=name) == python_side
    assert outcome(py_get_constant, name=name) == native_side


def test_every_native_name_has_a_python_datasheet():
    # Catches a constant added to one table and not the other: CASES lists names by hand.
    assert py_list_constants() == NAMES
    for name in py_list_constants():
        assert brenvalis.Get(name) == py_get_constant(name)


def test_lists_match_native_and_are_fresh():
    for python_twin, native in [(brenvalis.list_constants, py_list_constants),
                                (brenvalis.list_quarks, py_list_quarks)]:
        first = python_twin()
        assert outcome(python_twin) == outcome(native)
        first.append("mutated")
        assert python_twin() == native()
    sheet = brenvalis.Get("b3")
    sheet["value"] = -1.0
    assert brenvalis.Get("b3")["value"] == 24.0


def test_empty_name_is_value_error_in_python_and_panic_in_native():
    with pytest.raises(ValueError) as python_error:
        brenvalis.Get("")
    try:
        py_get_constant("")
    except Exception:  # noqa: BLE001
        pytest.fail("the native empty-name failure must not be an Exception")
    except BaseException as error:  # noqa: BLE001 - PanicException is a BaseException on purpose
        native_error = error
    else:
        pytest.fail("py_get_constant('') returned")
    assert type(native_error).__name__ == "PanicException"
    assert python_error.value.args == native_error.args == ("py_get_constant: name must be non-empty",)
    assert outcome(brenvalis.Get, EvilStr("")) == outcome(brenvalis.Get, "")


# Binding errors: both paths refuse with TypeError. A plain Python function's
# messages come from the language and name the Python function, so the texts
# differ where the interpreter words them differently; the pairs are listed.
BINDING = [
    (lambda: brenvalis.Get(), lambda: py_get_constant(),
     "Get() missing 1 required positional argument: 'name'",
     "py_get_constant() missing 1 required positional argument: 'name'"),
    (lambda: brenvalis.Get("b3", "x"), lambda: py_get_constant("b3", "x"),
     "Get() takes 1 positional argument but 2 were given",
     "py_get_constant() takes 1 positional arguments but 2 were given"),
    (lambda: brenvalis.Get(key="b3"), lambda: py_get_constant(key="b3"),
     "Get() got an unexpected keyword argument 'key'",
     "py_get_constant() got an unexpected keyword argument 'key'"),
    (lambda: brenvalis.Get("b3", name="b3"), lambda: py_get_constant("b3", name="b3"),
     "Get() got multiple values for argument 'name'",
     "py_get_constant() got multiple values for argument 'name'"),
    (lambda: brenvalis.list_constants(1), lambda: py_list_constants(1),
     "list_constants() takes 0 positional arguments but 1 was given",
     "brenvalis._tolvane_core.py_list_constants() takes no arguments (1 given)"),
    (lambda: brenvalis.list_quarks(x=1), lambda: py_list_quarks(x=1),
     "list_quarks() got an unexpected keyword argument 'x'",
     "brenvalis._tolvane_core.py_list_quarks() takes no keyword arguments"),
]


@pytest.mark.parametrize("python_call, native_call, python_message, native_message", BINDING)
def test_binding_errors_are_type_errors_on_both_paths(python_call, native_call, python_message, native_message):
    with pytest.raises(TypeError) as python_error:
        python_call()
    with pytest.raises(TypeError) as native_error:
        native_call()
    assert python_error.value.args == (python_message,)
    assert native_error.value.args == (native_message,)


@pytest.mark.parametrize(
    "value, uncertainty, expected_value, expected_uncertainty",
    [
        (24.0, None, 24.0, None),
        (-0.0, 0.5, -0.0, 0.5),
        (math.nan, math.inf, None, None),
        (-math.inf, -math.nan, None, None),
    ],
)
def test_non_finite_numbers_become_none(value, uncertainty, expected_value, expected_uncertainty):
    # The built-in table is all finite; this is the rule the native writer
    # follows too (a non-finite number is written as null).
    record = _tables.ConstantRecord("x", value, "count", uncertainty, "Seed", None, ())
    sheet = _catalogue._datasheet(record)
    assert list(sheet) == ["name", "status", "uncertainty", "units", "value"]
    assert sheet["uncertainty"] == expected_uncertainty
    assert repr(sheet["value"]) == repr(expected_value)


def test_quark_table_is_consistent():
    # No API reads the quark numbers, so nothing else would notice a typo.
    with decimal.localcontext(prec=60):
        phi = (1 + decimal.Decimal(5).sqrt()) / 2
        exact_ratios = {quark.name: phi ** -quark.phi_exponent for quark in _tables.standard_quarks()}
    quarks = _tables.standard_quarks()
    assert [q.name for q in quarks] == ["up", "down", "strange", "charm", "bottom", "top"]
    for quark in quarks:
        assert quark.mass_mev == 246220.0 * quark.mass_ratio
        error = abs(decimal.Decimal(quark.mass_ratio) - exact_ratios[quark.name])
        assert error <= 4 * decimal.Decimal(math.ulp(quark.mass_ratio))
        assert quark.generation == 1 + ["up", "down", "strange", "charm", "bottom", "top"].index(quark.name) // 2
