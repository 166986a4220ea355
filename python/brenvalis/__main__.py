"""Command line of brenvalis (``python -m brenvalis``)."""

import sys

from brenvalis import _tolvane_core


def main(argv: list[str] | None = None) -> int:
    args = sys.argv[1:] if argv is None else argv
    if args == ["--version"]:
        print(_tolvane_core.__version__)
        return 0
    if args == ["quarks"]:
        for name in _tolvane_core.py_list_quarks():
            print(name)
        return 0
    print("usage: python -m brenvalis [--version | quarks]", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
