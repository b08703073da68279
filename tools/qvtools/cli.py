"""Command line of the quivel_vib8 tools: ``qv SUBCOMMAND ...``.

Parses the command line and hands it to the command's ``run``; each command
lives in its own module of ``qvtools.commands`` and registers its parser
there with ``register(sub)``.
"""

import argparse
import sys

from .columns import FormatError
from .commands import (carry, case, export, gridstudy, info, monitor, plot, restart, summary,
                       surface, sweep, vtk, wake)
from .records import RecordError

# The subcommands in the order of `qv --help`.
COMMANDS = (info, vtk, plot, summary, export, restart, carry, surface, wake, gridstudy, sweep,
            monitor, case)


def build_parser():
    p = argparse.ArgumentParser(
        prog="qv", description="Post-processing tools for quivel_vib8 runs.")
    sub = p.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True
    for command in COMMANDS:
        command.register(sub)
    return p


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        return args.func(args) or 0
    except (RecordError, FormatError, OSError, ValueError) as exc:
        if isinstance(exc, OSError) and exc.filename is not None and exc.strerror:
            exc = f"{exc.strerror}: {exc.filename}"  # the text without its "[Errno N]"
        print(f"qv: error: {exc}", file=sys.stderr)
        return 1
