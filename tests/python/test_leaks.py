"""Leak hunt: every entry, on success and on every error path, called many times.

A leak is memory or a reference that each call leaves behind, so it grows in
proportion to the number of calls. Each case is warmed up, then run N times
and 4N times; between the two runs the growth must not scale:

- Python memory blocks (sys.getallocatedblocks; pymalloc only, so it stays
  at 0 when PYTHONMALLOC=malloc);
- bytes in use on the C heap, where the C++ side allocates (the sanitizer
  allocator's count under AddressSanitizer, glibc's mallinfo2 otherwise);
- the reference counts of the arguments, the receivers, the classes, the
  json module and json.loads must come back exactly, after N and after 4N.

Arguments are fresh objects made at run time: interned strings and small ints
are immortal, and their reference counts never move.
"""

import ctypes
import gc
import json
import sys

import pytest

from conftest import MATRIX, NAMES, QREG, QUARKS, REG
from brenvalis._tolvane_core import (
    PyCKMMatrix,
    PyFormulasRegistry,
    PyQuarkRegistry,
    py_get_constant,
    py_list_constants,
    py_list_quarks,
)

N = 300
WARM_UP = 50
# Allowed growth per extra call between the N and the 4N run. A leaked block
# or malloc chunk shows as at least 1 block or 16 bytes per call.
BLOCK_SLOPE = 0.05
BYTE_SLOPE = 1.0
IMMORTAL = 1 << 30  # reference counts of immortal objects sit far above this



def fresh(text: str) -> str:
    """A new, non-interned str equal to `text` (at least two characters)."""
    assert len(text) >= 2
    return "".join([text[:1], text[1:]])


def fresh_float(value: float) -> float:
    return float(repr(value))


def big_int(digits: int) -> int:
    return int("1" + "0" * digits)


# ---- Measuring. ----


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (field, ctypes.c_size_t)
        for field in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                      "fordblks", "keepcost")
    ]


def _heap_meter():
    """(name, function giving the bytes in use on the C heap), best source first."""
    process = ctypes.CDLL(None)
    try:
        allocated = process.__sanitizer_get_current_allocated_bytes
    except AttributeError:
        pass
    else:
        allocated.restype = ctypes.c_size_t
        allocated.argtypes = []
        return "sanitizer allocator", allocated
    try:
        mallinfo2 = process.mallinfo2
    except AttributeError:
        return None, lambda: 0
    mallinfo2.restype = _MallInfo2
    mallinfo2.argtypes = []
    return "mallinfo2", lambda: mallinfo2().uordblks


HEAP_SOURCE, heap_bytes = _heap_meter()


def always_watched():
    return {
        "PyFormulasRegistry": PyFormulasRegistry,
        "PyQuarkRegistry": PyQuarkRegistry,
        "PyCKMMatrix": PyCKMMatrix,
        "registry receiver": REG,
        "quark receiver": QREG,
        "matrix receiver": MATRIX,
        "json": json,
        "json.loads": json.loads,
    }


def snapshot(watched):
    gc.collect()
    return sys.getallocatedblocks(), heap_bytes(), {name: sys.getrefcount(obj) for name, obj in watched.items()}


def run(call, times, watched):
    blocks, heap, refs = snapshot(watched)
    for _ in range(times):
        call()
    blocks_after, heap_after, refs_after = snapshot(watched)
    return blocks_after - blocks, heap_after - heap, {name: refs_after[name] - refs[name] for name in refs}


def leaks(call, watched, n=N):
    """What grows with the number of calls: a list of findings, empty when clean."""
    for name, obj in watched.items():
        assert sys.getrefcount(obj) < IMMORTAL, f"{name} is immortal: its count cannot show a leak"
    for _ in range(WARM_UP):
        call()
    blocks_n, heap_n, refs_n = run(call, n, watched)
    blocks_4n, heap_4n, refs_4n = run(call, 4 * n, watched)
    extra_calls = 3 * n
    findings = []
    if blocks_4n - blocks_n > BLOCK_SLOPE * extra_calls:
        findings.append(f"Python blocks grew by {blocks_n} after {n} calls and by {blocks_4n} after {4 * n}")
    if heap_4n - heap_n > BYTE_SLOPE * extra_calls:
        findings.append(f"C heap grew by {heap_n} bytes after {n} calls and by {heap_4n} after {4 * n}")
    for name in watched:
        if refs_n[name] or refs_4n[name]:
            findings.append(f"reference count of {name} moved by {refs_n[name]} after {n} calls "
                            f"and by {refs_4n[name]} after {4 * n}")
    return findings


# ---- Calls that check their own outcome. ----


def returns(check, function, *args, **kwargs):
    def call():
        result = function(*args, **kwargs)
        assert check(result), (function, args, kwargs, result)

    return call


def raises(exception, function, *args, **kwargs):
    def call():
        try:
            function(*args, **kwargs)
        except exception:
            return
        raise AssertionError(f"{function} did not raise {exception.__name__}")

    return call


def equals(expected):
    return lambda result: result == expected


class Text(str):
    pass


class FloatSubclass(float):
    pass


class FloatRaises:
    def __float__(self):
        raise ZeroDivisionError("from __float__")


class FloatWrongType:
    def __float__(self):
        return [1.0]


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IndexRaises:
    def __index__(self):
        raise ValueError("from __index__")


class FloatTypeErrorWithCause:
    """Its TypeError has a cause, which the wrapping error must inherit (and not leak)."""

    def __init__(self):
        self.root = KeyError(fresh("root"))

    def __float__(self):
        raise TypeError(fresh("inner")) from self.root


def sheet_of(name):
    return lambda sheet: type(sheet) is dict and sheet["name"] == name


def cases():
    """(id, call, objects whose reference counts must come back)."""
    name, other, missing = fresh("b3"), fresh("topo_gen_check"), fresh("B3")
    keyword, surrogate_keyword = fresh("key"), fresh("\udc80x")
    tol, negative, big, huge = fresh_float(0.5), fresh_float(-1e-12), big_int(30), big_int(400)
    text_name, float_sub, index_only = Text(fresh("phi")), FloatSubclass(0.25), IndexOnly(big_int(20))
    float_raises, float_wrong, index_raises = FloatRaises(), FloatWrongType(), IndexRaises()
    with_cause = FloatTypeErrorWithCause()
    surrogate_name, blob, bad_tol = fresh("b\ud8003"), b"b3" + bytes(1), fresh("xy")
    plain_object, a_list = object(), [fresh("b3")]

    table = [
        # Module functions.
        ("py_list_constants", returns(equals(NAMES), py_list_constants), {}),
        ("py_list_quarks", returns(equals(QUARKS), py_list_quarks), {}),
        ("py_get_constant", returns(sheet_of("b3"), py_get_constant, name), {"name": name}),
        ("py_get_constant keyword", returns(sheet_of("topo_gen_check"), py_get_constant, name=other),
         {"name": other}),
        ("py_get_constant str subclass", returns(sheet_of("phi"), py_get_constant, text_name),
         {"name": text_name, "Text": Text}),
        ("py_get_constant missing", raises(TypeError, py_get_constant), {}),
        ("py_get_constant too many", raises(TypeError, py_get_constant, name, other), {"a": name, "b": other}),
        ("py_get_constant twice", raises(TypeError, py_get_constant, name, name=other), {"a": name, "b": other}),
        ("py_get_constant unknown keyword", raises(TypeError, py_get_constant, **{keyword: name}),
         {"keyword": keyword, "value": name}),
        ("py_get_constant surrogate keyword", raises(TypeError, py_get_constant, **{surrogate_keyword: name}),
         {"keyword": surrogate_keyword, "value": name}),
        ("py_get_constant not a str", raises(TypeError, py_get_constant, blob), {"name": blob}),
        ("py_get_constant not UTF-8", raises(UnicodeEncodeError, py_get_constant, surrogate_name),
         {"name": surrogate_name}),
        ("py_get_constant unknown name", raises(KeyError, py_get_constant, missing), {"name": missing}),
        ("py_list_quarks with argument", raises(TypeError, py_list_quarks, name), {"argument": name}),
        ("py_list_constants with keyword", raises(TypeError, py_list_constants, **{keyword: name}),
         {"keyword": keyword, "value": name}),
        # PyFormulasRegistry.
        ("PyFormulasRegistry()", returns(lambda r: len(r) == 17, PyFormulasRegistry), {}),
        ("PyFormulasRegistry(**{})", returns(lambda r: len(r) == 17, PyFormulasRegistry, **{}), {}),
        ("PyFormulasRegistry positional", raises(TypeError, PyFormulasRegistry, name), {"argument": name}),
        ("PyFormulasRegistry keyword", raises(TypeError, PyFormulasRegistry, **{keyword: name}),
         {"keyword": keyword, "value": name}),
        ("PyFormulasRegistry.__new__ positional", raises(TypeError, PyFormulasRegistry.__new__, PyFormulasRegistry,
                                                          big), {"argument": big}),
        ("get", returns(equals(24.0), REG.get, name), {"name": name}),
        ("get keyword", returns(equals(0.0), REG.get, name=other), {"name": other}),
        ("get str subclass", returns(equals(1.618033988749895), REG.get, text_name), {"name": text_name}),
        ("get missing", raises(TypeError, REG.get), {}),
        ("get too many", raises(TypeError, REG.get, name, other, **{keyword: big}),
         {"a": name, "b": other, "keyword": keyword, "value": big}),
        ("get twice", raises(TypeError, REG.get, name, name=other), {"a": name, "b": other}),
        ("get unknown keyword", raises(TypeError, REG.get, **{keyword: name}), {"keyword": keyword, "value": name}),
        ("get not a str", raises(TypeError, REG.get, a_list), {"name": a_list}),
        ("get object", raises(TypeError, REG.get, plain_object), {"name": plain_object}),
        ("get not UTF-8", raises(UnicodeEncodeError, REG.get, surrogate_name), {"name": surrogate_name}),
        ("get unknown name", raises(KeyError, REG.get, missing), {"name": missing}),
        ("get wrong receiver", raises(TypeError, PyFormulasRegistry.get, MATRIX, name), {"name": name}),
        ("version", returns(equals("2.3.0"), REG.version), {}),
        ("version on the class", returns(equals("2.3.0"), PyFormulasRegistry.version), {}),
        ("version with argument", raises(TypeError, PyFormulasRegistry.version, name), {"argument": name}),
        ("len", returns(equals(17), len, REG), {}),
        # PyQuarkRegistry.
        ("PyQuarkRegistry()", returns(lambda r: len(r) == 0 and not r, PyQuarkRegistry), {}),
        ("PyQuarkRegistry positional", raises(TypeError, PyQuarkRegistry, name, other), {"a": name, "b": other}),
        ("PyQuarkRegistry keyword", raises(TypeError, PyQuarkRegistry, **{surrogate_keyword: name}),
         {"keyword": surrogate_keyword, "value": name}),
        ("len of quarks", returns(equals(0), len, QREG), {}),
        # PyCKMMatrix.
        ("PyCKMMatrix()", raises(TypeError, PyCKMMatrix), {}),
        ("PyCKMMatrix(...)", raises(TypeError, PyCKMMatrix, name, **{keyword: big}),
         {"a": name, "keyword": keyword, "value": big}),
        ("from_topology", returns(lambda m: type(m) is PyCKMMatrix and m.jarlskog() == 0.0,
                                  PyCKMMatrix.from_topology), {}),
        ("from_topology with argument", raises(TypeError, PyCKMMatrix.from_topology, name), {"argument": name}),
        ("is_unitary float", returns(equals(True), MATRIX.is_unitary, tol), {"tol": tol}),
        ("is_unitary keyword", returns(equals(False), MATRIX.is_unitary, tol=negative), {"tol": negative}),
        ("is_unitary int", returns(equals(True), MATRIX.is_unitary, big), {"tol": big}),
        ("is_unitary float subclass", returns(equals(True), MATRIX.is_unitary, float_sub), {"tol": float_sub}),
        ("is_unitary __index__", returns(equals(True), MATRIX.is_unitary, index_only),
         {"tol": index_only, "value": index_only.value}),
        ("is_unitary missing", raises(TypeError, MATRIX.is_unitary), {}),
        ("is_unitary too many", raises(TypeError, MATRIX.is_unitary, tol, negative), {"a": tol, "b": negative}),
        ("is_unitary twice", raises(TypeError, MATRIX.is_unitary, tol, tol=negative), {"a": tol, "b": negative}),
        ("is_unitary unknown keyword", raises(TypeError, MATRIX.is_unitary, **{keyword: tol}),
         {"keyword": keyword, "value": tol}),
        ("is_unitary str", raises(TypeError, MATRIX.is_unitary, bad_tol), {"tol": bad_tol}),
        ("is_unitary too big", raises(OverflowError, MATRIX.is_unitary, huge), {"tol": huge}),
        ("is_unitary __float__ raises", raises(ZeroDivisionError, MATRIX.is_unitary, float_raises),
         {"tol": float_raises}),
        ("is_unitary __float__ wrong type", raises(TypeError, MATRIX.is_unitary, float_wrong), {"tol": float_wrong}),
        ("is_unitary __index__ raises", raises(ValueError, MATRIX.is_unitary, index_raises), {"tol": index_raises}),
        ("is_unitary TypeError with cause", raises(TypeError, MATRIX.is_unitary, with_cause),
         {"tol": with_cause, "cause": with_cause.root}),
        ("jarlskog", returns(equals(0.0), MATRIX.jarlskog), {}),
        ("jarlskog with argument", raises(TypeError, MATRIX.jarlskog, tol), {"argument": tol}),
        ("jarlskog wrong receiver", raises(TypeError, PyCKMMatrix.jarlskog, REG), {}),
    ]
    return [pytest.param(call, watched, id=case_id) for case_id, call, watched in table]


@pytest.mark.parametrize("call, watched", cases())
def test_no_growth(call, watched):
    assert leaks(call, {**always_watched(), **watched}) == []


# ---- Paths through json. ----


def test_no_growth_when_json_loads_is_replaced_or_fails(monkeypatch):
    name = fresh("chi_eff")
    marker = fresh("replaced")

    def replacement(text):
        return marker

    monkeypatch.setattr(json, "loads", replacement)
    call = returns(lambda result: result is marker, py_get_constant, name)
    assert leaks(call, {**always_watched(), "name": name, "marker": marker}) == []

    def failing(text):
        raise ValueError(text)

    monkeypatch.setattr(json, "loads", failing)
    assert leaks(raises(ValueError, py_get_constant, name), {**always_watched(), "name": name}) == []


def test_no_growth_when_json_cannot_be_imported(monkeypatch):
    name = fresh("n_gen")
    watched = {**always_watched(), "name": name}
    monkeypatch.setitem(sys.modules, "json", None)
    assert leaks(raises(ImportError, py_get_constant, name), watched) == []


# ---- The empty name: PanicException, and one report line on stderr per call. ----


def test_no_growth_on_panic(capfd):
    calls = 0

    def call():
        nonlocal calls
        calls += 1
        try:
            py_get_constant("")
        except Exception:  # noqa: BLE001
            raise AssertionError("PanicException must not be an Exception")
        except BaseException as e:  # noqa: BLE001
            assert e.args == ("py_get_constant: name must be non-empty",)
            return
        raise AssertionError("no PanicException")

    try:
        py_get_constant("")
    except BaseException as e:  # noqa: BLE001
        panic_class = type(e)
    n = 40
    watched = {**always_watched(), "PanicException": panic_class}
    assert leaks(call, watched, n=n) == []
    report = capfd.readouterr().err.splitlines()
    assert len(report) == calls + 1
    assert all("py_get_constant: name must be non-empty" in line for line in report)


# ---- The detector itself: each measure must be able to fail. ----


def test_detector_sees_leaked_objects_and_references():
    kept = []
    argument = fresh("kept argument")
    findings = leaks(lambda: kept.append([argument]), {"argument": argument}, n=100)
    assert any("reference count of argument" in finding for finding in findings)
    assert any("Python blocks" in finding or "C heap" in finding for finding in findings)


def test_detector_sees_native_allocations():
    if HEAP_SOURCE is None:
        pytest.skip("no way to read the C heap's use on this platform")
    malloc = ctypes.CDLL(None).malloc
    malloc.restype = ctypes.c_void_p
    malloc.argtypes = [ctypes.c_size_t]
    findings = leaks(lambda: malloc(48), {}, n=100)
    assert any("C heap" in finding for finding in findings), HEAP_SOURCE
