"""What the random probe of every entry (test_fuzz.py) and the coverage-guided
harness (tests/fuzz/entries.py) share: awkward argument values (user
exceptions to raise from conversions, str subclasses that lie at the Python
level, an object that claims to be a str) and a model of the binder's rules."""

from dataclasses import dataclass


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


@dataclass
class Raises:
    type: type
    args: tuple | None = None  # None: the interpreter's own text, not checked


def bind(full_name, params, args, kwargs):
    """The bound slots, or the Raises of the binder's first failing check."""
    if len(args) > len(params):
        n = len(args)
        return Raises(TypeError, (f"{full_name} takes {len(params)} positional arguments but {n} "
                                  f"{'was' if n == 1 else 'were'} given",))
    missing = object()
    slots = list(args) + [missing] * (len(params) - len(args))
    for key, value in kwargs.items():
        try:
            key_bytes = str.encode(key, "utf-8")
        except UnicodeEncodeError:
            key_bytes = None
        matches = [i for i, param in enumerate(params) if param.encode() == key_bytes]
        if matches and slots[matches[0]] is missing:
            slots[matches[0]] = value
            continue
        what = " got multiple values for argument " if matches else " got an unexpected keyword argument "
        try:
            shown = str(key)
        except BaseException as error:  # noqa: BLE001 - a user __str__ raising comes out unchanged
            return Raises(type(error), error.args)
        if type(shown) is not str:
            return Raises(TypeError)  # the interpreter's refusal of a __str__ returning a non-str
        return Raises(TypeError, (f"{full_name}{what}'{shown}'",))
    absent = [param for param, slot in zip(params, slots) if slot is missing]
    if absent:
        return Raises(TypeError, (f"{full_name} missing 1 required positional argument: '{absent[0]}'",))
    return slots
