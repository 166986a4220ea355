"""Native accelerated core of brenvalis. Wired as `brenvalis._tolvane_core`."""

from typing import Never, SupportsFloat, SupportsIndex, final

from brenvalis._catalogue import ConstantSheet as _ConstantSheet

__all__ = [
    "PyFormulasRegistry",
    "PyQuarkRegistry",
    "PyCKMMatrix",
    "py_list_constants",
    "py_list_quarks",
    "py_get_constant",
    "__version__",
]

__version__: str

@final
class PyFormulasRegistry:
    """Python wrapper for [`FormulasRegistry`]."""

    def __new__(cls) -> PyFormulasRegistry: ...
    def __len__(self) -> int: ...
    def get(self, name: str) -> float:
        """Retrieve the numeric value for `name`."""
    @staticmethod
    def version() -> str:
        """Library-version round-trip helper."""

@final
class PyQuarkRegistry:
    """Python wrapper for [`QuarkRegistry`]."""

    def __new__(cls) -> PyQuarkRegistry: ...
    def __len__(self) -> int: ...

@final
class PyCKMMatrix:
    """Python wrapper for [`CKMMatrix`].

    Instances come only from from_topology(); calling the class raises TypeError.
    """

    # No argument can have the type Never, so a type checker rejects every
    # call of the class, while the runtime's (*args, **kwargs) still accepts
    # this signature.
    def __new__(cls, no_constructor: Never, /) -> PyCKMMatrix: ...
    @staticmethod
    def from_topology() -> PyCKMMatrix:
        """Build the CKM matrix from the underlying topology."""
    def is_unitary(self, tol: SupportsFloat | SupportsIndex) -> bool:
        """`True` when the matrix is unitary within `tol`.

        That is, when every entry of M·Mᵀ − I has absolute value at most
        `tol`. A NaN, in the matrix or in `tol`, gives False.
        """
    def jarlskog(self) -> float:
        """CP-violation Jarlskog invariant J."""

def py_list_constants() -> list[str]:
    """Accelerated twin of `brenvalis.list_constants`."""

def py_list_quarks() -> list[str]:
    """Accelerated twin of `brenvalis.list_quarks`."""

def py_get_constant(name: str) -> _ConstantSheet:
    """Accelerated twin of `brenvalis.Get` for the constants branch.

    Raises KeyError for an unknown name, and the core's PanicException (a
    BaseException, not an Exception) for the empty name.
    """
