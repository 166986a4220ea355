"""Awkward argument values shared by the random probe of every entry (test_fuzz.py)
and the coverage-guided harness (tests/fuzz/entries.py): user exceptions to
raise from conversions, str subclasses that lie at the Python level, and an
object that claims to be a str."""


class UserError(Exception):
    pass


class UserBaseError(BaseException):
    """Not an Exception: must pass through unchanged, like any user exception."""


class TypeErrorSubclass(TypeError):
    pass


class Text(str):
    pass


class EvilText(str):
    """Lies at the Python level; the module reads the str's own text."""

    def __eq__(self, other):
        return True

    def __hash__(self):
        return 0

    def __str__(self):
        return "b3"


class StrRaises(str):
    def __str__(self):
        raise UserError("from __str__")


class StrWrongType(str):
    def __str__(self):
        return 42


class PretendsToBeStr:
    """isinstance(x, str) is true through __class__, but it is no str."""

    @property
    def __class__(self):
        return str


class FloatSubclass(float):
    pass


class IntSubclass(int):
    pass
