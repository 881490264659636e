"""Command line: ``python -m krelm demo`` runs the demonstration fit."""

import sys


def main(argv: list[str]) -> int:
    if argv[:1] == ["demo"]:
        from .demo import run_demo

        return run_demo(argv[1:])
    print("usage: python -m krelm demo [--output PATH]", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
