"""qv summary: Cd, Cl, St and amplitudes of a run."""

import os


def register(sub):
    s = sub.add_parser("summary", help="Cd, Cl, St, amplitudes of a run")
    s.add_argument("run", nargs="*", default=["."],
                   help="run directory (a restart chain is followed back from its last "
                        "folder), or the chain's folders in order")
    s.add_argument("--vin", type=float, help="inflow velocity (default: console.in)")
    s.add_argument("--tmin", type=float,
                   help="analyse from this time on (default: where the lift has settled)")
    s.add_argument("--json", help="JSON output (default RUN/summary.json)")
    s.set_defaults(func=run)
    return s


def run(args):
    from ..summary import format_table, summarize, write_json
    s = summarize(args.run if len(args.run) > 1 else args.run[0], args.vin, args.tmin)
    print(format_table(s))
    path = args.json or os.path.join(args.run[-1], "summary.json")
    write_json(s, path)
    print(f"wrote {path}")
    return 0
