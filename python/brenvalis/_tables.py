"""The catalogue's data on the Python side: seventeen constants and six quarks.

The native core compiles the same tables into itself; this module is the one
place the pure-Python path reads them from. The tables are built by functions,
not held as module constants, because the Python path builds its registries
afresh on every call, as the native core does: nothing a caller does to one
result can reach the next.

Every number is the binary64 value of its shortest decimal text, so the two
paths agree bit for bit.
"""

from __future__ import annotations

from typing import Literal, NamedTuple

Status = Literal["Seed", "Cached", "Pending", "External"]


class ConstantRecord(NamedTuple):
    """One named constant. Derived records carry their formula, unevaluated."""

    name: str
    value: float
    units: str
    uncertainty: float | None
    status: Status
    formula: str | None
    depends_on: tuple[str, ...]


class Quark(NamedTuple):
    name: str
    generation: int
    phi_exponent: int
    mass_mev: float
    mass_ratio: float


def _seed(name: str, value: float, units: str) -> ConstantRecord:
    return ConstantRecord(name, value, units, None, "Seed", None, ())


def _derived(name: str, formula: str, units: str, *depends_on: str) -> ConstantRecord:
    # A derived quantity is never computed: it reports 0.0 and "Pending" for
    # as long as the registry lives.
    return ConstantRecord(name, 0.0, units, None, "Pending", formula, depends_on)


def constant_records() -> tuple[ConstantRecord, ...]:
    """The seventeen built-in constants, in the order the registry inserts them."""
    return (
        _seed("b3", 24.0, "dimensionless"),
        _seed("chi_eff", 72.0, "dimensionless"),
        _seed("n_gen", 3.0, "count"),
        _seed("roots_total", 288.0, "count"),
        _seed("visible_sector", 125.0, "count"),
        _seed("sterile_sector", 163.0, "count"),
        _seed("phi", 1.618033988749895, "dimensionless"),
        _seed("gamma_em", 0.5772156649015329, "dimensionless"),
        _seed("jc_constant", 153.0, "count"),
        _seed("logic_closure", 288.0, "count"),
        # A formula that is a bare number holds the number's shortest decimal
        # text, without a fractional part when the number is integral.
        _derived("v_higgs_mev", "246220", "MeV"),
        _derived("sterile_check", "roots_total - visible_sector", "count", "roots_total", "visible_sector"),
        _derived("n_gen_sq", "n_gen * n_gen", "count", "n_gen"),
        _derived("h0_central", "70", "km/s/Mpc"),
        _derived("w0_central", "-1", "dimensionless"),
        _derived("m_tau_mev", "1776.86", "MeV"),
        _derived("topo_gen_check", "chi_eff / b3", "count", "chi_eff", "b3"),
    )


def standard_quarks() -> tuple[Quark, ...]:
    """The six Standard-Model quarks; each mass is 246220.0 MeV times its ratio."""
    return (
        Quark("up", 1, 12, 764.665760128228, 0.003105620015141857),
        Quark("down", 1, 11, 1237.2551899207474, 0.005024998740641489),
        Quark("strange", 2, 8, 5241.0970900186985, 0.02128623625220818),
        Quark("charm", 2, 5, 22201.643549995544, 0.09016994374947422),
        Quark("bottom", 3, 4, 35923.013870002665, 0.14589803375031543),
        Quark("top", 3, 0, 246220.0, 1.0),
    )
