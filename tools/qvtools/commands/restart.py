"""qv restart: write the case that continues a finished or stopped run."""

import argparse

from ..runfiles import program_path


def register(sub):
    s = sub.add_parser("restart", help="write the case that continues a finished run",
                       description="Write NEXT, a case that continues RUN from its final "
                                   "field and body-state files; nothing of RUN is overwritten.")
    s.add_argument("run", help="the finished (or SIGTERM-stopped) run folder")
    s.add_argument("--out", required=True, help="new folder for the continuation")
    s.add_argument("--steps", type=int,
                   help="number of further steps (with --exact: default, to the end RUN planned)")
    s.add_argument("--exact", action="store_true",
                   help="continue as if RUN had never stopped: the same step numbering, "
                        "schedules, tolerance ramp, eddy viscosity, statistics and history, "
                        "so the chain writes every byte one unbroken run would")
    s.add_argument("--series", choices=("append", "new"), default=None,
                   help="append (default): continue RUN's time series; new: start it anew")
    s.add_argument("--append", type=int, choices=(0, 1), default=None, help=argparse.SUPPRESS)
    s.add_argument("--from-snapshot", action="store_true",
                   help="continue a run that did not reach its end (killed, blown up) from "
                        "the set saved at its last snapshot instant")
    s.add_argument("--to-end", action="store_true",
                   help="a plain restart for the steps RUN had left to its planned end (a "
                        "chain going on from a pack on another machine)")
    s.add_argument("--cs", type=float, metavar="CS",
                   help="go on with another Smagorinsky constant (a plain restart only): a "
                        "sensitivity run from a settled flow; its statistics start afresh")
    s.set_defaults(func=run)
    return s


def run(args):
    from ..chain import ChainError, write_restart
    append = args.series != "new"
    if args.append is not None:  # the earlier spelling: 1 append, 0 anew
        append = bool(args.append)
    if args.exact and not append:
        raise ChainError("--exact goes on with RUN's time series: --series new does not apply")
    if args.exact and args.cs is not None:
        raise ChainError("--exact keeps every parameter of RUN: --cs needs a plain restart")
    rec = write_restart(args.run, args.out, args.steps, append, args.from_snapshot, args.exact,
                        cs=args.cs, to_end=args.to_end)
    if args.exact:
        print(f"wrote {args.out}: segment {rec['segment']} continues {args.run} exactly after "
              f"step {rec['from_step']} (t = {rec['start_time']:.6g}) to step {rec['end_step']}")
    else:
        print(f"wrote {args.out}: segment {rec['segment']} continues {args.run} from "
              f"t = {rec['start_time']:.6g} for {rec['steps']} steps "
              f"(time series {'appended' if append else 'started anew'})"
              + ("" if args.cs is None else f", Cs = {args.cs:g} (was {rec['Cs_before']:g})"))
    print(f"run it: cd {args.out} && {program_path()} < console.in > console.log")
    return 0
