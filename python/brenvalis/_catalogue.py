"""The pure-Python path: constant names, quark names and constant datasheets.

These functions answer exactly what the native core's ``py_list_constants``,
``py_list_quarks`` and ``py_get_constant`` answer, in the same shapes: the same
lists, the same dicts with the same key order and float values, and the same
exceptions with the same texts for unknown names and wrongly typed names. They
never import the native core, so each path can check the other.

Like the core, every call builds its registry from the tables afresh and drops
it before returning.
"""

from __future__ import annotations

import math
from typing import TypedDict

from brenvalis._tables import ConstantRecord, Status, constant_records, standard_quarks

__all__ = ["ConstantSheet", "Get", "list_constants", "list_quarks"]


class ConstantSheet(TypedDict):
    """The datasheet of one constant; keys come in this order."""

    name: str
    status: Status
    uncertainty: float | None
    units: str
    value: float | None


# The same routine the interpreter uses for a type's qualified name, so that a
# metaclass cannot make the message differ from the native core's.
_qualname = type.__dict__["__qualname__"].__get__


def _type_name(cls: type) -> str:
    """The qualified name as the core reports it: read as UTF-8, or a fixed text when it has none."""
    name = _qualname(cls)
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return "<failed to extract type name>"
    return name


def list_constants() -> list[str]:
    """Names of all constants, in ascending byte order of their UTF-8 text.

    Ordering str by code point is the same as ordering by UTF-8 bytes, so a
    plain sort gives the native core's order.
    """
    registry = {record.name: record for record in constant_records()}
    return sorted(registry)


def list_quarks() -> list[str]:
    """Names of the six Standard-Model quarks, in ascending byte order."""
    registry = {quark.name: quark for quark in standard_quarks()}
    return sorted(registry)


def Get(name: str) -> ConstantSheet:
    """The datasheet of the constant called ``name``.

    Returns a new dict with the keys ``name``, ``status``, ``uncertainty``,
    ``units`` and ``value`` in that order; a number that is absent or not finite
    is None. The dict is built straight from the record: the native core writes
    a JSON text and parses it with ``json.loads``, which gives the same dict
    (every number round-trips exactly) but costs a serialisation per call that
    this path has no reason to pay. A replaced ``json.loads`` is therefore
    honoured by the native core only.

    Raises:
        TypeError: ``name`` is not a str, with the native core's message
            "argument 'name': '<type>' object cannot be converted to 'PyString'".
        ValueError: ``name`` is empty. The native core treats an empty name as
            a broken caller and raises its ``PanicException`` (a BaseException)
            with the same message; here it is an ordinary argument error.
        UnicodeEncodeError: ``name`` holds lone surrogates (no UTF-8 form).
        KeyError: no constant has that name; the message is
            "constant `<name>` not found in registry". Names are compared
            exactly: "B3" is not "b3".
    """
    if type(name) is not str:
        # The object's own type decides, as in the core: isinstance would
        # believe a __class__ that claims str, and str.__str__ then refuses
        # the object with a message of its own.
        if not issubclass(type(name), str):
            raise TypeError(f"argument 'name': '{_type_name(type(name))}' object cannot be converted to 'PyString'")
        # The core reads a subclass's text, never its __eq__, __hash__ or __str__.
        name = str.__str__(name)
    if not name:
        raise ValueError("py_get_constant: name must be non-empty")
    registry = {record.name: record for record in constant_records()}
    record = registry.get(name)
    if record is None:
        # A name with lone surrogates is never a key, so checking it only on a
        # miss costs hits nothing; the error is the interpreter's own, exactly
        # as the core reports it.
        name.encode("utf-8")
        raise KeyError(f"constant `{name}` not found in registry")
    return _datasheet(record)


def _datasheet(record: ConstantRecord) -> ConstantSheet:
    return {
        "name": record.name,
        "status": record.status,
        "uncertainty": _finite_or_none(record.uncertainty),
        "units": record.units,
        "value": _finite_or_none(record.value),
    }


def _finite_or_none(number: float | None) -> float | None:
    return number if number is not None and math.isfinite(number) else None
