"""py_list_constants and the py_get_constant datasheet."""

import json
import math
import struct
import sys

import pytest
from hypothesis import given, settings, strategies as st

from brenvalis._tolvane_core import PyFormulasRegistry, py_get_constant, py_list_constants

SORTED_NAMES = [
    "b3", "chi_eff", "gamma_em", "h0_central", "jc_constant", "logic_closure", "m_tau_mev", "n_gen",
    "n_gen_sq", "phi", "roots_total", "sterile_check", "sterile_sector", "topo_gen_check", "v_higgs_mev",
    "visible_sector", "w0_central",
]

# name -> (value, units, status)
TABLE = {
    "b3": (24.0, "dimensionless", "Seed"),
    "chi_eff": (72.0, "dimensionless", "Seed"),
    "n_gen": (3.0, "count", "Seed"),
    "roots_total": (288.0, "count", "Seed"),
    "visible_sector": (125.0, "count", "Seed"),
    "sterile_sector": (163.0, "count", "Seed"),
    "phi": (1.618033988749895, "dimensionless", "Seed"),
    "gamma_em": (0.5772156649015329, "dimensionless", "Seed"),
    "jc_constant": (153.0, "count", "Seed"),
    "logic_closure": (288.0, "count", "Seed"),
    "v_higgs_mev": (0.0, "MeV", "Pending"),
    "sterile_check": (0.0, "count", "Pending"),
    "n_gen_sq": (0.0, "count", "Pending"),
    "h0_central": (0.0, "km/s/Mpc", "Pending"),
    "w0_central": (0.0, "dimensionless", "Pending"),
    "m_tau_mev": (0.0, "MeV", "Pending"),
    "topo_gen_check": (0.0, "count", "Pending"),
}


def bits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def test_list_constants_sorted_and_fresh():
    first = py_list_constants()
    assert first == SORTED_NAMES
    assert all(type(n) is str for n in first)
    first.clear()
    assert py_list_constants() == SORTED_NAMES


@pytest.mark.parametrize("name", sorted(TABLE))
def test_datasheet_of_every_constant(name):
    value, units, status = TABLE[name]
    sheet = py_get_constant(name)
    assert type(sheet) is dict
    assert list(sheet) == ["name", "status", "uncertainty", "units", "value"]
    assert sheet["name"] == name
    assert sheet["status"] == status
    assert sheet["uncertainty"] is None
    assert sheet["units"] == units
    assert type(sheet["value"]) is float
    assert bits(sheet["value"]) == bits(value)
    # The class reads the same record.
    assert bits(PyFormulasRegistry().get(name)) == bits(value)


def test_phi_and_gamma_are_the_nearest_doubles():
    assert py_get_constant("phi")["value"] == (1 + math.sqrt(5)) / 2
    from fractions import Fraction

    assert Fraction(py_get_constant("gamma_em")["value"]) == Fraction(
        "0.57721566490153286554942724251304753124713897705078125"
    )


def test_two_calls_give_distinct_equal_dicts():
    a = py_get_constant("b3")
    b = py_get_constant("b3")
    assert a == b and a is not b
    a["value"] = 1.0
    assert py_get_constant("b3")["value"] == 24.0


@pytest.mark.parametrize(
    "name",
    ["B3", "no_such_name", "b3 ", " b3", "a`b", "line\nbreak", "nul\0byte", "\u00b5_\u20ac", "\U0001f600"],
)
def test_unknown_names_raise_key_error_with_the_name_unchanged(name):
    with pytest.raises(KeyError) as info:
        py_get_constant(name)
    assert type(info.value) is KeyError
    assert info.value.args == (f"constant `{name}` not found in registry",)


def test_replaced_json_loads_is_honoured(monkeypatch):
    seen = []

    def fake_loads(text, *args, **kwargs):
        seen.append((text, args, kwargs))
        return "replaced"

    monkeypatch.setattr(json, "loads", fake_loads)
    assert py_get_constant("b3") == "replaced"
    assert seen == [
        ('{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}', (), {})
    ]


def test_failing_json_loads_and_import_pass_through(monkeypatch):
    def broken(text):
        raise ValueError("broken loads")

    monkeypatch.setattr(json, "loads", broken)
    with pytest.raises(ValueError, match="broken loads"):
        py_get_constant("b3")
    monkeypatch.undo()

    monkeypatch.setitem(sys.modules, "json", None)
    with pytest.raises(ImportError):
        py_get_constant("b3")
    monkeypatch.undo()
    assert py_get_constant("b3")["value"] == 24.0


def test_datasheet_number_layout_round_trips_through_the_writer(monkeypatch):
    # The writer's number text for a stored value is what loads receives; the
    # table values cover the plain layout, so check the text itself too.
    texts = []
    real_loads = json.loads
    monkeypatch.setattr(json, "loads", lambda t: texts.append(t) or real_loads(t))
    for name in SORTED_NAMES:
        py_get_constant(name)
    assert all('"value":' in t for t in texts)
    assert '"value":1.618033988749895}' in texts[SORTED_NAMES.index("phi")]
    assert '"value":0.0}' in texts[SORTED_NAMES.index("topo_gen_check")]
