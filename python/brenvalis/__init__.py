"""brenvalis: a catalogue of physical constants and flavour-sector objects.

Two paths answer the same questions in the same shapes:

- the pure-Python functions :func:`list_constants`, :func:`list_quarks` and
  :func:`Get` (the datasheet of one constant);
- the native core :mod:`brenvalis._tolvane_core`, re-exported here: its twins
  :func:`py_list_constants`, :func:`py_list_quarks` and :func:`py_get_constant`,
  and the classes :class:`PyFormulasRegistry`, :class:`PyQuarkRegistry` and
  :class:`PyCKMMatrix`.

The one difference: an empty name makes :func:`Get` raise ValueError, while
:func:`py_get_constant` raises the core's PanicException, which derives from
BaseException and so passes ``except Exception`` handlers.
"""

# Nothing is loaded until it is asked for: each public name comes from its
# home module on first access (a module __getattr__), then stays in this
# module's namespace. The pure-Python path needs typing, which alone costs
# more than the json module, and the native core is a shared library to map
# and initialise; a caller who uses one of them pays nothing for the other.

# Type checkers take any name TYPE_CHECKING as true; importing typing's own
# would load typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from brenvalis._catalogue import ConstantSheet, Get, list_constants, list_quarks
    from brenvalis._tolvane_core import (
        PyCKMMatrix,
        PyFormulasRegistry,
        PyQuarkRegistry,
        __version__,
        py_get_constant,
        py_list_constants,
        py_list_quarks,
    )

__all__ = [
    "__version__",
    "ConstantSheet",
    "Get",
    "list_constants",
    "list_quarks",
    "PyFormulasRegistry",
    "PyQuarkRegistry",
    "PyCKMMatrix",
    "py_list_constants",
    "py_list_quarks",
    "py_get_constant",
]

# Each name's home module. The submodules are named too, so that `import
# brenvalis` alone still reaches `brenvalis._tolvane_core` and the others as
# attributes, as it does when the package imports them itself.
_HOMES = {
    "ConstantSheet": "_catalogue",
    "Get": "_catalogue",
    "list_constants": "_catalogue",
    "list_quarks": "_catalogue",
    "__version__": "_tolvane_core",
    "PyFormulasRegistry": "_tolvane_core",
    "PyQuarkRegistry": "_tolvane_core",
    "PyCKMMatrix": "_tolvane_core",
    "py_list_constants": "_tolvane_core",
    "py_list_quarks": "_tolvane_core",
    "py_get_constant": "_tolvane_core",
    "_catalogue": "_catalogue",
    "_tables": "_tables",
    "_tolvane_core": "_tolvane_core",
}

# Kept from the type checkers' sight: to them a module __getattr__ would make
# every misspelt name an attribute.
if not TYPE_CHECKING:

    def __getattr__(name):
        home = _HOMES.get(name)
        if home is None:
            # The interpreter's own wording for a missing module attribute.
            raise AttributeError(f"module '{__name__}' has no attribute '{name}'")
        import sys

        # Not `from brenvalis import ...`: that asks this function for the
        # submodule first. Importing a submodule binds it here.
        __import__(f"{__name__}.{home}")
        module = sys.modules[f"{__name__}.{home}"]
        value = module if name == home else getattr(module, name)
        globals()[name] = value
        return value

    def __dir__():
        # What the package offers, as though it had imported everything
        # itself (which is also what help() lists); the machinery that loads
        # it is no part of that.
        return sorted(globals().keys() - _MACHINERY | _HOMES.keys())


_MACHINERY = {"TYPE_CHECKING", "_HOMES", "_MACHINERY", "__getattr__", "__dir__"}
