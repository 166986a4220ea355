"""Argument binding and conversion: every message, and which check wins."""

import pytest

from brenvalis._tolvane_core import PyCKMMatrix, PyFormulasRegistry, PyQuarkRegistry, py_get_constant

REG = PyFormulasRegistry()
MATRIX = PyCKMMatrix.from_topology()


class Text(str):
    pass


BINDER_CASES = [
    # (call, message): the first failing check wins.
    (lambda: REG.get(), "PyFormulasRegistry.get() missing 1 required positional argument: 'name'"),
    (lambda: REG.get("b3", "x"), "PyFormulasRegistry.get() takes 1 positional arguments but 2 were given"),
    (lambda: REG.get("b3", "x", key=1), "PyFormulasRegistry.get() takes 1 positional arguments but 2 were given"),
    (lambda: REG.get("b3", name="x"), "PyFormulasRegistry.get() got multiple values for argument 'name'"),
    (lambda: REG.get(key="b3"), "PyFormulasRegistry.get() got an unexpected keyword argument 'key'"),
    (lambda: REG.get(key=1, name="b3"), "PyFormulasRegistry.get() got an unexpected keyword argument 'key'"),
    (lambda: REG.get(name="b3", key=1), "PyFormulasRegistry.get() got an unexpected keyword argument 'key'"),
    (lambda: REG.get(**{"nam\u00e9": 1}), "PyFormulasRegistry.get() got an unexpected keyword argument 'nam\u00e9'"),
    (lambda: REG.get(**{"\udc80": 1}), "PyFormulasRegistry.get() got an unexpected keyword argument '\udc80'"),
    (lambda: REG.get(**{"name\0": 1}), "PyFormulasRegistry.get() got an unexpected keyword argument 'name\0'"),
    (lambda: py_get_constant(), "py_get_constant() missing 1 required positional argument: 'name'"),
    (lambda: py_get_constant("b3", "b3"), "py_get_constant() takes 1 positional arguments but 2 were given"),
    (lambda: py_get_constant("b3", name="b3"), "py_get_constant() got multiple values for argument 'name'"),
    (lambda: py_get_constant(nme="b3"), "py_get_constant() got an unexpected keyword argument 'nme'"),
    (lambda: MATRIX.is_unitary(), "PyCKMMatrix.is_unitary() missing 1 required positional argument: 'tol'"),
    (lambda: MATRIX.is_unitary(1, 2, 3), "PyCKMMatrix.is_unitary() takes 1 positional arguments but 3 were given"),
    (lambda: MATRIX.is_unitary(tol=1, tolerance=2),
     "PyCKMMatrix.is_unitary() got an unexpected keyword argument 'tolerance'"),
    (lambda: PyFormulasRegistry(1), "PyFormulasRegistry.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: PyFormulasRegistry(1, 2), "PyFormulasRegistry.__new__() takes 0 positional arguments but 2 were given"),
    (lambda: PyQuarkRegistry(x=1), "PyQuarkRegistry.__new__() got an unexpected keyword argument 'x'"),
    (lambda: PyFormulasRegistry.__new__(PyFormulasRegistry, y=1),
     "PyFormulasRegistry.__new__() got an unexpected keyword argument 'y'"),
    # Conversion comes after binding, and its errors are wrapped with the parameter name.
    (lambda: REG.get(5), "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda: REG.get(None), "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda: REG.get(b"b3"), "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: py_get_constant(3), "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda: py_get_constant(name=[]), "argument 'name': 'list' object cannot be converted to 'PyString'"),
    (lambda: MATRIX.is_unitary("x"), "argument 'tol': must be real number, not str"),
    (lambda: MATRIX.is_unitary(None), "argument 'tol': must be real number, not NoneType"),
]


@pytest.mark.parametrize("call, message", BINDER_CASES)
def test_binding_and_conversion_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


def test_keyword_and_positional_forms_agree():
    assert REG.get(name="b3") == REG.get("b3") == 24.0
    # A name that is a str subclass is not bound in place but by the matcher.
    assert REG.get(**{Text("name"): "b3"}) == 24.0
    assert py_get_constant(name="b3") == py_get_constant("b3") == py_get_constant(**{Text("name"): "b3"})
    assert MATRIX.is_unitary(tol=0.0) is MATRIX.is_unitary(0.0) is True
    assert isinstance(PyFormulasRegistry(**{}), PyFormulasRegistry)
    assert isinstance(PyQuarkRegistry(*(), **{}), PyQuarkRegistry)


def test_text_conversion_accepts_str_subclasses_and_passes_encoding_errors_through():
    assert REG.get(Text("b3")) == 24.0
    assert py_get_constant(Text("phi"))["value"] == 1.618033988749895
    for call in (lambda: REG.get("b\udc003"), lambda: py_get_constant("\ud800")):
        with pytest.raises(UnicodeEncodeError) as info:
            call()
        assert "surrogates not allowed" in str(info.value)


class FloatRaises:
    def __float__(self):
        raise ZeroDivisionError("from __float__")


class FloatWrongType:
    def __float__(self):
        return "not a float"


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatTypeErrorWithCause:
    def __float__(self):
        try:
            raise KeyError("root")
        except KeyError as root:
            raise TypeError("inner") from root


class TypeErrorSubclass(TypeError):
    pass


class FloatRaisesTypeErrorSubclass:
    def __float__(self):
        raise TypeErrorSubclass("subclass is not wrapped")


def test_tol_conversion_rules():
    assert MATRIX.is_unitary(True) is True  # bool converts to 1.0
    assert MATRIX.is_unitary(False) is True
    assert MATRIX.is_unitary(-0.0) is True
    assert MATRIX.is_unitary(-1.0) is False  # a -1.0 with no pending error is a value
    assert MATRIX.is_unitary(IndexOnly(-1)) is False
    assert MATRIX.is_unitary(IndexOnly(0)) is True
    assert MATRIX.is_unitary(float("inf")) is True
    assert MATRIX.is_unitary(float("nan")) is False
    assert MATRIX.is_unitary(-1e-12) is False
    assert MATRIX.is_unitary(tol=1e-300) is True

    with pytest.raises(OverflowError) as overflow:
        MATRIX.is_unitary(10**400)
    assert "argument" not in str(overflow.value)

    with pytest.raises(ZeroDivisionError, match="from __float__"):
        MATRIX.is_unitary(FloatRaises())

    with pytest.raises(TypeError) as wrong:
        MATRIX.is_unitary(FloatWrongType())
    assert str(wrong.value).startswith("argument 'tol': ")

    with pytest.raises(TypeErrorSubclass, match="subclass is not wrapped"):
        MATRIX.is_unitary(FloatRaisesTypeErrorSubclass())


def test_wrapped_error_carries_the_cause_of_the_original():
    with pytest.raises(TypeError) as info:
        MATRIX.is_unitary(FloatTypeErrorWithCause())
    assert info.value.args == ("argument 'tol': inner",)
    assert isinstance(info.value.__cause__, KeyError)
    assert info.value.__cause__.args == ("root",)

    with pytest.raises(TypeError) as plain:
        MATRIX.is_unitary("x")
    assert plain.value.__cause__ is None
