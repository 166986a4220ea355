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
