"""qv restart: write the case that continues a finished run."""

from ..runfiles import program_path


def register(sub):
    s = sub.add_parser("restart", help="write the case that continues a finished run",
                       description="Write NEXT, a case that continues RUN from its final "
                                   "field and body-state files; nothing of RUN is overwritten.")
    s.add_argument("run", help="the finished (or SIGTERM-stopped) run folder")
    s.add_argument("--out", required=True, help="new folder for the continuation")
    s.add_argument("--steps", type=int, required=True, help="number of further steps")
    s.add_argument("--append", type=int, choices=(0, 1), default=1,
                   help="1 (default): continue RUN's time series; 0: start it anew")
    s.add_argument("--from-snapshot", action="store_true",
                   help="continue a run that did not reach its end (killed, blown up) from "
                        "the set saved at its last snapshot instant")
    s.set_defaults(func=run)
    return s


def run(args):
    from ..chain import write_restart
    rec = write_restart(args.run, args.out, args.steps, bool(args.append), args.from_snapshot)
    print(f"wrote {args.out}: segment {rec['segment']} continues {args.run} from "
          f"t = {rec['start_time']:.6g} for {args.steps} steps "
          f"(time series {'appended' if args.append else 'started anew'})")
    print(f"run it: cd {args.out} && {program_path()} < console.in > console.log")
    return 0
