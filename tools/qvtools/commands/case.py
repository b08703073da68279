"""qv case (and tools/qvtools/casegen.py case): write a runnable case directory."""

import argparse
import json
import os
import sys

from ..case.build import build_case, summary, write_case
from ..case.recipe import CaseError, apply_override, load_recipe
from ..runfiles import program_path


def register(subparsers):
    """Register the `case` subcommand."""
    parser = subparsers.add_parser(
        "case", help="write a runnable case directory",
        description="Write a runnable case directory for a rectangular cylinder.")
    parser.add_argument("--recipe", help="recipe JSON file (default: built-in defaults)")
    parser.add_argument("--out", help="case directory to write")
    parser.add_argument("--set", dest="overrides", action="append", default=[],
                        metavar="KEY=VALUE",
                        help="override a recipe value, e.g. run.nt=500 or grid.h=0.05 "
                             "(repeatable; VALUE is JSON or a plain string)")
    parser.add_argument("--force", action="store_true",
                        help="write into a non-empty directory")
    parser.add_argument("--check", action="store_true",
                        help="only validate and print the derived values")
    parser.add_argument("--json", action="store_true",
                        help="print the derived values as JSON")
    parser.add_argument("--cost", choices=("calibrate", "stored", "none"),
                        help="the expected wall time: calibrate (time a few steps of the "
                             "written case; the default with --out), stored (the cost per "
                             "cell of the last calibration; the default otherwise) or none")
    parser.add_argument("--program", help="the program a calibration runs (default: "
                                          "$QV_PROGRAM or build/quivel_vib8)")
    parser.set_defaults(func=run)
    return parser


def run(args):
    """Run the `case` subcommand; returns 0, or exits with status 2 on a refusal."""
    try:
        recipe = load_recipe(args.recipe) if args.recipe else {}
        for assignment in args.overrides:
            apply_override(recipe, assignment)
        if args.check or not args.out:
            if not args.check:
                raise CaseError("--out DIR is required (or --check)")
            case = build_case(recipe)
        else:
            case = write_case(args.out, recipe, force=args.force)
    except CaseError as exc:
        print(f"casegen: error: {exc}", file=sys.stderr)
        raise SystemExit(2)
    for w in case.warnings:
        print(f"casegen: warning: {w}", file=sys.stderr)
    if args.json:
        print(json.dumps(case.derived, indent=2))
    else:
        print(summary(case))
        how = args.cost or ("calibrate" if args.out and not args.check else "stored")
        if how != "none":
            from ..cost import estimate
            d = case.derived
            _, lines = estimate(d["cells"], d["nt"], args.out if args.out and not args.check
                                else None, args.program, how == "calibrate")
            print("\n".join(lines))
        if args.out and not args.check:
            exe = program_path()
            print(f"written to {args.out}; run there: {exe} < console.in > console.log"
                  + ("" if os.path.exists(exe) else "  (not built yet: scripts/example.sh builds it)"))
    return 0


def script_main():
    """casegen.py run as a script: `casegen case ...`."""
    top = argparse.ArgumentParser(prog="casegen")
    sub = top.add_subparsers(dest="command", required=True)
    register(sub)
    args = top.parse_args()
    return args.func(args)
